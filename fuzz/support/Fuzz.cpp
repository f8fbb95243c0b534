#include "fuzz/support/Fuzz.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fuzz {

void Fail(const char* file, int line, const char* condition, const std::string& detail) {
    std::fprintf(stderr, "\n%s:%d: check failed: %s\n%s\n", file, line, condition, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

namespace {
std::string g_scratch;
void RemoveScratch() {
    std::error_code ec;
    std::filesystem::remove_all(g_scratch, ec);
}
}  // namespace

const std::string& ScratchDirectory() {
    if (!g_scratch.empty()) return g_scratch;
    std::string pattern = (std::filesystem::temp_directory_path() / "orvex-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data()) || chdir(pattern.c_str()) != 0 || symlink("/dev/null", "OrvexUpdate.log") != 0) {
        std::perror("fuzz: scratch directory");
        std::abort();
    }
    g_scratch = pattern;
    std::atexit(RemoveScratch);
    return g_scratch;
}

std::string Hex(const uint8_t* bytes, size_t size) {
    std::string out;
    char two[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, i ? " %02X" : "%02X", bytes[i]);
        out += two;
    }
    return out;
}

}  // namespace fuzz

// libFuzzer calls this once before the first input; the replay driver does too.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ScratchDirectory();
    return 0;
}
