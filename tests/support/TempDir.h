#pragma once
// A scratch directory for one test, removed with everything in it afterwards.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/orvex-test-XXXXXX";
        path = mkdtemp(tmpl);
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
    explicit ChangeDir(const std::string& dir) : old(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~ChangeDir() { std::filesystem::current_path(old); }
};

inline std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
