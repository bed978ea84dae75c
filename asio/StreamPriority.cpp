#include "StreamPriority.h"

void StreamPriority::Join(const wchar_t* module) {
    Leave();
    HMODULE avrt = LoadLibraryW(module);
    SetCharacteristics set = nullptr;
    RevertCharacteristics revert = nullptr;
    if (avrt) {
        set = reinterpret_cast<SetCharacteristics>(
            reinterpret_cast<void*>(GetProcAddress(avrt, "AvSetMmThreadCharacteristicsW")));
        revert = reinterpret_cast<RevertCharacteristics>(
            reinterpret_cast<void*>(GetProcAddress(avrt, "AvRevertMmThreadCharacteristics")));
    }
    JoinWith(set, revert);
    if (m_task) {
        m_module = avrt;
    } else if (avrt) {
        FreeLibrary(avrt);
    }
}

void StreamPriority::JoinWith(SetCharacteristics set, RevertCharacteristics revert) {
    if (m_task) Leave();
    DWORD index = 0;
    // Without a way back out the class is not joined at all.
    HANDLE task = set && revert ? set(kTaskName, &index) : nullptr;
    if (task) {
        m_task = task;
        m_revert = revert;
        return;
    }
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

void StreamPriority::Leave() {
    if (m_task) {
        m_revert(m_task);
        m_task = nullptr;
        m_revert = nullptr;
        // The class set its own priority; what the thread was started with comes back.
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    }
    if (m_module) {
        FreeLibrary(m_module);
        m_module = nullptr;
    }
}
