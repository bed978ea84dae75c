#include "KsTrace.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

int InitialThreshold() {
    char value[16] = {};
    DWORD length = GetEnvironmentVariableA("VELMOR_KS_TRACE", value, sizeof(value));
    return length > 0 && length < sizeof(value) ? std::atoi(value) : 0;
}

volatile LONG g_threshold = InitialThreshold();

}  // namespace

int TraceThreshold() { return g_threshold; }

void SetTraceThreshold(int level) { InterlockedExchange(&g_threshold, level); }

void TraceMessage(int level, const char* format, ...) {
    if (level > g_threshold || !format) return;
    char text[260];
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    if (written < 0) return;
    text[sizeof(text) - 1] = '\0';
    OutputDebugStringA(text);
}
