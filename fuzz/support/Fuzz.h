#pragma once
// What every fuzz target has: its entry point for libFuzzer, the seeds it
// makes from real messages, and a check that stops the run with a report
// when the code under test answers wrongly (not only when it crashes).
//
// A target file defines LLVMFuzzerTestOneInput and OrvexFuzzSeeds. It is
// linked twice: with libFuzzer (preset "sanitize", fuzz_<name>) and with
// support/ReplayMain.cpp (every native build, fuzz_<name>_replay), which runs
// the seeds and the kept inputs of earlier findings as a CTest test.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/support/FuzzInput.h"

namespace fuzz {

using Seeds = std::vector<std::vector<uint8_t>>;

[[noreturn]] void Fail(const char* file, int line, const char* condition, const std::string& detail);

// The scratch working directory of this process: the program log
// ("OrvexUpdate.log") found there leads to /dev/null, so millions of runs
// write nothing. Made by the first call.
const std::string& ScratchDirectory();

std::string Hex(const uint8_t* bytes, size_t size);
inline std::string Hex(const std::vector<uint8_t>& b) { return Hex(b.data(), b.size()); }

}  // namespace fuzz

// Stops the run when cond is false; detail is evaluated only then.
#define ORVEX_FUZZ_CHECK(cond, detail)                                  \
    do {                                                                \
        if (!(cond)) ::fuzz::Fail(__FILE__, __LINE__, #cond, (detail)); \
    } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
void OrvexFuzzSeeds(fuzz::Seeds& seeds);
