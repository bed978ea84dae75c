// The engine's stall guard. The streaming thread marks each packet
// completion with one store; the watchdog thread sleeps until two seconds
// after the last mark and asks for a reset only when no newer one came.
// Nothing on the period's path calls the system or waits for the watchdog.
#pragma once

#include <windows.h>

class StreamWatchdog {
public:
    static constexpr DWORD kStallMs = 2000;
    static constexpr DWORD kIdlePollMs = 250;  // how soon an arming is seen

    // Counting from now (start, reset request); Mark keeps it from firing.
    void Arm(DWORD nowMs) {
        InterlockedExchange(&m_markMs, static_cast<LONG>(nowMs));
        InterlockedExchange(&m_armed, 1);
    }
    void Disarm() { InterlockedExchange(&m_armed, 0); }
    void Mark(DWORD nowMs) {
        if (m_armed) m_markMs = static_cast<LONG>(nowMs);  // aligned store: no lock, no barrier needed
    }
    // The watchdog thread: true once kStallMs passed armed without a mark,
    // false when `quit` was signalled first.
    bool Wait(HANDLE quit, DWORD(WINAPI* nowMs)()) const;

private:
    volatile LONG m_armed = 0;
    volatile LONG m_markMs = 0;
};
