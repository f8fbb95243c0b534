#pragma once
// A scratch directory for one test, removed with everything in it afterwards.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

struct TempDir {
    std::string path;
    TempDir() {
        static unsigned serial = 0;
        auto base = std::filesystem::temp_directory_path();
        std::random_device random;
        for (;;) {
            auto candidate = base / ("orvex-test-" + std::to_string(random()) + "-" + std::to_string(++serial));
            if (std::filesystem::create_directory(candidate)) {
                path = candidate.string();
                break;
            }
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// Runs the test body with the working directory set to dir.
struct ChangeDir {
    std::string old;
    explicit ChangeDir(const std::string& dir) : old(std::filesystem::current_path().string()) {
        std::filesystem::current_path(dir);
    }
    ~ChangeDir() { std::filesystem::current_path(old); }
};

inline std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
