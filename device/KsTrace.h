// Leveled trace of the device-access library, to the debugger output only.
// The threshold starts at 0, so nothing is emitted unless a developer raises
// it: set VELMOR_KS_TRACE=6 in the environment for every message (levels:
// 1 failures, 3 pin properties, 4 topology and enumeration, 5 classification,
// 6 entry and exit), and watch with WINEDEBUG=+debugstr under Wine.
#pragma once

// Formats into a 260-byte buffer (longer output is cut) and sends it to
// OutputDebugStringA when level is at most the threshold.
void TraceMessage(int level, const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 2, 3)))
#endif
    ;

int TraceThreshold();
void SetTraceThreshold(int level);

// Entry and exit of library operations (level 6). Names carry "()" on entry
// and on plain exits; exits with a result use the bare name.
inline void TraceEnter(const char* nameWithParens) { TraceMessage(6, "%s Enter", nameWithParens); }
inline void TraceLeave(const char* nameWithParens) { TraceMessage(6, "%s Leave", nameWithParens); }
inline long TraceLeave(const char* name, long hr) {
    TraceMessage(6, "%s Leave, returning %#08x", name, static_cast<unsigned>(hr));
    return hr;
}
