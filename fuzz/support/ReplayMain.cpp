// Runs a fuzz target without libFuzzer:
//   fuzz_<name>_replay --write-seeds DIR   writes the target's seeds into DIR
//   fuzz_<name>_replay [--seeds] [--kept DIR] [PATH...]
// runs the seeds (--seeds), every file under DIR (--kept: the inputs of
// earlier findings; a missing DIR means none were kept) and each PATH (a file
// or a directory). A file whose name ends in ".hex" holds the input as
// hexadecimal bytes; "#" starts a comment that runs to the end of the line.
// The first wrong answer or crash ends the process with the input's name on
// stderr.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/support/Fuzz.h"

extern "C" int LLVMFuzzerInitialize(int*, char***);

namespace {

namespace fs = std::filesystem;

bool ReadInput(const fs::path& path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string text((std::istreambuf_iterator<char>(in)), {});
    if (path.extension() != ".hex") {
        out.assign(text.begin(), text.end());
        return true;
    }
    out.clear();
    int high = -1;
    bool comment = false;
    for (char c : text) {
        if (comment) {
            comment = c != '\n';
            continue;
        }
        if (c == '#') {
            comment = true;
            continue;
        }
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0) continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(uint8_t(high * 16 + v));
            high = -1;
        }
    }
    return high < 0;
}

int g_runs = 0;

void Run(const std::string& name, const std::vector<uint8_t>& input) {
    std::fprintf(stderr, "replay %s (%zu bytes)\n", name.c_str(), input.size());
    LLVMFuzzerTestOneInput(input.data(), input.size());
    ++g_runs;
}

bool RunPath(const fs::path& path) {
    std::vector<fs::path> files;
    if (fs::is_directory(path)) {
        for (const auto& entry : fs::recursive_directory_iterator(path))
            if (entry.is_regular_file() && entry.path().filename() != "README.md") files.push_back(entry.path());
        std::sort(files.begin(), files.end());
    } else {
        files.push_back(path);
    }
    for (const fs::path& file : files) {
        std::vector<uint8_t> input;
        if (!ReadInput(file, input)) {
            std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
            return false;
        }
        Run(file.string(), input);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Paths are taken as given, before the scratch directory becomes the working one.
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::string& a : args)
        if (!a.empty() && a[0] != '-' && fs::exists(a)) a = fs::absolute(a).string();
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if ((args[i] == "--write-seeds" || args[i] == "--kept") && !fs::exists(args[i + 1]))
            args[i + 1] = fs::absolute(args[i + 1]).string();
    LLVMFuzzerInitialize(&argc, &argv);

    fuzz::Seeds seeds;
    OrvexFuzzSeeds(seeds);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--write-seeds" && i + 1 < args.size()) {
            fs::create_directories(args[i + 1]);
            for (size_t s = 0; s < seeds.size(); ++s) {
                char name[32];
                std::snprintf(name, sizeof name, "seed-%03zu", s);
                std::ofstream(fs::path(args[i + 1]) / name, std::ios::binary)
                    .write(reinterpret_cast<const char*>(seeds[s].data()), std::streamsize(seeds[s].size()));
            }
            std::printf("%zu seeds written to %s\n", seeds.size(), args[i + 1].c_str());
            return 0;
        } else if (a == "--seeds") {
            for (size_t s = 0; s < seeds.size(); ++s) Run("seed " + std::to_string(s), seeds[s]);
        } else if (a == "--kept" && i + 1 < args.size()) {
            if (fs::exists(args[++i]) && !RunPath(args[i])) return 1;
        } else if (!RunPath(a)) {
            return 1;
        }
    }
    std::printf("%d inputs replayed, every answer as expected\n", g_runs);
    return 0;
}
