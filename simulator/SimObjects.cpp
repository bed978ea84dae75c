#include "SimObjects.h"

namespace sim {

namespace {

CRITICAL_SECTION* LockObject() {
    static CRITICAL_SECTION* section = [] {
        auto* cs = new CRITICAL_SECTION;
        InitializeCriticalSectionAndSpinCount(cs, 4000);
        return cs;
    }();
    return section;
}

// Completions and clock wake-ups made while this thread holds the lock are
// delivered once it lets go: a woken waiter that runs at once must not find
// the lock still held (the completing thread preempted inside it).
struct Completion {
    OVERLAPPED* overlapped;
    LONG status;
    ULONG_PTR bytes;
};
constexpr int kDeferredMax = 256;
thread_local int t_depth = 0;
thread_local int t_deferred = 0;
thread_local bool t_wake = false;
thread_local Completion t_completions[kDeferredMax];

void Deliver(const Completion& c) {
    c.overlapped->InternalHigh = c.bytes;
    c.overlapped->Internal = static_cast<ULONG_PTR>(static_cast<ULONG>(c.status));
    HANDLE event = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(c.overlapped->hEvent) & ~ULONG_PTR(1));
    if (event) SetEvent(event);
}

}  // namespace

void Complete(OVERLAPPED* overlapped, LONG status, ULONG_PTR bytes) {
    if (!overlapped) return;
    const Completion c = {overlapped, status, bytes};
    if (t_depth > 0 && t_deferred < kDeferredMax) {
        t_completions[t_deferred++] = c;
        return;
    }
    Deliver(c);
}

bool WakeAfterUnlock() {
    if (t_depth == 0) return false;
    t_wake = true;
    return true;
}

std::map<HANDLE, Object*>& ObjectTable() {
    static auto* table = new std::map<HANDLE, Object*>;  // lives until the process ends
    return *table;
}

void Lock() {
    EnterCriticalSection(LockObject());
    ++t_depth;
}

void Unlock() {
    const bool last = --t_depth == 0;
    LeaveCriticalSection(LockObject());
    if (!last) return;
    const int count = t_deferred;
    t_deferred = 0;
    for (int i = 0; i < count; ++i) Deliver(t_completions[i]);
    if (t_wake) {
        t_wake = false;
        WakeClock();
    }
}

HANDLE AddObject(Object* object) {
    HANDLE token = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!token) {
        delete object->pin;
        delete object;
        return nullptr;
    }
    LocalLock lock;
    ObjectTable()[token] = object;
    return token;
}

Object* FindObject(HANDLE handle) {
    auto found = ObjectTable().find(handle);
    return found == ObjectTable().end() ? nullptr : found->second;
}

bool RemoveObject(HANDLE handle) {
    Object* object = nullptr;
    {
        LocalLock lock;
        auto found = ObjectTable().find(handle);
        if (found == ObjectTable().end()) return false;
        object = found->second;
        ObjectTable().erase(found);
        if (object->pin) {
            CancelAll(*object->pin, static_cast<LONG>(0xC0000120));  // STATUS_CANCELLED
            SharedState* state = State();
            if (state && object->pin->pinId < kMaxPins) {
                Stream& stream = state->streams[object->pin->pinId];
                if (stream.ownerPid == GetCurrentProcessId()) {
                    stream.state = 0;
                    stream.open = 0;
                }
            }
        }
    }
    ::CloseHandle(handle);
    delete object->pin;
    delete object;
    return true;
}

bool IsRemoved(const Object& object) {
    SharedState* state = State();
    return !state || !state->present || state->generation != object.generation;
}

int64_t Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t TicksPerSecond() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return frequency;
}

}  // namespace sim
