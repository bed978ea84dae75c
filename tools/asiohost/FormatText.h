// printf into a std::string, for the reference host's reports (cut at 511 characters).
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#ifdef __GNUC__
__attribute__((format(printf, 1, 2)))
#endif
inline std::string FormatText(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}
