#include "common/Log.h"

#include <cstdarg>
#include <cstdio>

#include "platform/Platform.h"

namespace orvex {
namespace {
LogProgram g_program = LogProgram::OrvexUpdate;
FILE* g_file = nullptr;
}  // namespace

const char* const kLogExitText =
    "Exiting\n*****************************************************************************";

void LogSetProgram(LogProgram program) { g_program = program; }

size_t LogMessageLimit() { return g_program == LogProgram::QenSetup ? 255 : 4095; }

std::string LogFilePath() {
    if (g_program == LogProgram::OrvexUpdate) return "OrvexUpdate.log";
    std::string exe = plat::GetModuleFileName();
    size_t cut = exe.find_last_of("\\/");
    std::string dir = cut == std::string::npos ? std::string() : exe.substr(0, cut + 1);
    return dir + "QenSetup.log";
}

void LogClose() {
    if (!g_file) return;
    std::fclose(g_file);
    g_file = nullptr;
}

void LogExitLine() { OrvexLog("%s", kLogExitText); }

}  // namespace orvex

int OrvexLog(const char* format, ...) {
    using namespace orvex;
    if (!g_file) {
        g_file = std::fopen(LogFilePath().c_str(), "at+");
        if (!g_file) return 0;
    }
    // Sized for the larger program; the smaller one keeps its own limit.
    char message[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, LogMessageLimit() + 1, format, args);
    va_end(args);

    plat::LocalTime t = plat::GetLocalTime();
    std::fprintf(g_file, "%04d-%02d-%02d %02d:%02d:%02d %s\n", t.year, t.month, t.day, t.hour, t.minute, t.second,
                 message);
    if (g_program == LogProgram::QenSetup) std::fflush(g_file);
    return 0;
}
