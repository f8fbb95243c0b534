#pragma once
// The programs' diagnostic log: one time-stamped line per call, appended to a
// plain-text file that grows across runs. A log that cannot be opened is
// skipped silently; logging never changes what a program does.
#include <cstddef>
#include <string>

namespace orvex {

enum class LogProgram {
    OrvexUpdate,  // "OrvexUpdate.log" in the working directory, 4,096-byte message buffer, no flush
    QenSetup,     // "QenSetup.log" beside the executable, 256-byte buffer, flushed per line
};

void LogSetProgram(LogProgram program);
// Message characters kept per call; longer messages are cut to this.
size_t LogMessageLimit();
std::string LogFilePath();
void LogClose();
// The last line of every run: "Exiting" and a row of 77 asterisks.
void LogExitLine();
extern const char* const kLogExitText;

}  // namespace orvex

// Always answers 0; callers never look.
int OrvexLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
