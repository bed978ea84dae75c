#include "StreamWatchdog.h"

bool StreamWatchdog::Wait(HANDLE quit, DWORD(WINAPI* nowMs)()) const {
    for (;;) {
        DWORD timeout = kIdlePollMs;
        if (m_armed) {
            // The mark first, the clock after: an arming wrote the mark before the flag.
            const DWORD mark = static_cast<DWORD>(m_markMs);
            const DWORD elapsed = nowMs() - mark;
            if (elapsed >= kStallMs) return true;
            timeout = kStallMs - elapsed;
        }
        if (WaitForSingleObject(quit, timeout) != WAIT_TIMEOUT) return false;
    }
}
