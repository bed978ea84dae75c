// The streaming thread's scheduling: the "Pro Audio" multimedia class where
// the system has it, else the time-critical priority. Called by the thread
// itself: joined when the pins start running, left when they stop.
#pragma once

#include <windows.h>

class StreamPriority {
public:
    using SetCharacteristics = HANDLE(WINAPI*)(LPCWSTR task, LPDWORD index);
    using RevertCharacteristics = BOOL(WINAPI*)(HANDLE task);

    static constexpr const wchar_t* kAvrtModule = L"avrt.dll";
    static constexpr const wchar_t* kTaskName = L"Pro Audio";

    // Loads the class functions at run time: a system without them, or one
    // that refuses the class, leaves the thread time-critical.
    void Join(const wchar_t* module = kAvrtModule);
    // The same with the functions given (the module is not touched).
    void JoinWith(SetCharacteristics set, RevertCharacteristics revert);
    // Back out of the class and let the module go; time-critical stays.
    void Leave();
    bool InClass() const { return m_task != nullptr; }

private:
    HMODULE m_module = nullptr;
    HANDLE m_task = nullptr;
    RevertCharacteristics m_revert = nullptr;
};
