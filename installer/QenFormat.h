#pragma once
// printf-style formatting into a string, for box texts and captions.
#include <cstdarg>
#include <cstdio>
#include <string>

namespace qen {

inline std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Format(const char* format, ...) {
    char buf[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return buf;
}

}  // namespace qen
