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

}  // namespace

std::map<HANDLE, Object*>& ObjectTable() {
    static auto* table = new std::map<HANDLE, Object*>;  // lives until the process ends
    return *table;
}

void Lock() { EnterCriticalSection(LockObject()); }
void Unlock() { LeaveCriticalSection(LockObject()); }

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
