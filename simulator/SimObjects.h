// The virtual device's handles in this process: filters, pin instances and
// HID interfaces, each behind a real (unnamed event) handle so that handle
// values are unique and a stray CloseHandle cannot hurt. All of it is guarded
// by one process-wide lock, shared with the device clock.
#pragma once

#include "RenderCheck.h"
#include "SimModel.h"
#include "SimState.h"

#include <windows.h>
#include <ks.h>

#include <cstdint>
#include <vector>

namespace sim {

enum class Kind { Filter, Pin, Hid };

struct Packet {
    KSSTREAM_HEADER* header;
    OVERLAPPED* overlapped;
    uint32_t frames;
    int64_t duration;          // performance-counter ticks the packet plays for
    uint32_t bytes;            // render: DataUsed at submission
};

constexpr uint32_t kPacketQueueSize = 64;

struct PinInstance {
    ULONG pinId = 0;
    PinDesc desc = {};
    ULONG rate = 0;
    ULONG bits = 0;
    ULONG validBits = 0;
    ULONG channels = 0;
    ULONG blockAlign = 0;
    ULONG state = 0;           // KSSTATE
    bool flushing = false;
    bool running = false;      // clock runs (KSSTATE_RUN)
    bool starved = true;       // running with nothing queued
    bool dry = false;          // ran dry while running: the next packet ends an underrun
    bool stalled = false;      // held by the stall fault: goes on afresh, without catching up
    int64_t chainTime = 0;     // when the device finished the data it has
    Packet queue[kPacketQueueSize] = {};
    uint32_t head = 0;
    uint32_t count = 0;
    int64_t headDeadline = 0;
    uint32_t dsd = 0;          // mode the device read the last render packet in (0: PCM)
    RenderCheck check;
    // Render data as it was when each queue slot's packet was submitted: the
    // platform takes it then, so later writes to the buffer are not heard.
    std::vector<uint8_t> taken[kPacketQueueSize];
    uint64_t captureFrame = 0;
};

struct Object {
    Kind kind;
    uint32_t generation;       // device generation at open; older than the device's: removed
    bool overlapped;
    uint16_t vendorId;         // HID interfaces
    uint16_t productId;
    bool deviceHid;            // the device's own HID interface
    PinInstance* pin;          // Kind::Pin
};

void Lock();
void Unlock();
struct LocalLock {
    LocalLock() { Lock(); }
    ~LocalLock() { Unlock(); }
    LocalLock(const LocalLock&) = delete;
    LocalLock& operator=(const LocalLock&) = delete;
};

// Registers a new object (taking ownership) and returns its handle; null on failure.
HANDLE AddObject(Object* object);
// The object behind a handle, or null (caller holds the lock).
Object* FindObject(HANDLE handle);
// Removes and frees the object behind a handle; false when it is not ours.
bool RemoveObject(HANDLE handle);
// Every live pin instance (caller holds the lock).
template <typename F>
void ForEachPin(F f);

bool IsRemoved(const Object& object);

// Performance-counter ticks.
int64_t Now();
int64_t TicksPerSecond();

// Ends an overlapped request with a status and byte count and signals its
// event; while this thread holds the lock, only once it lets go.
void Complete(OVERLAPPED* overlapped, LONG status, ULONG_PTR bytes);
// Inside the lock: marks the clock to be woken once this thread lets go
// (true); outside it: false, the caller wakes it now.
bool WakeAfterUnlock();

// Packet completion (caller holds the lock); status 0 for data, else an NTSTATUS.
void CompleteHead(PinInstance& pin, LONG status);
void CancelAll(PinInstance& pin, LONG status);
void WakeClock();
// A request that pended: the device's clock completes it shortly with this
// status and byte count (caller holds the lock).
void CompleteLater(OVERLAPPED* overlapped, LONG status, ULONG_PTR bytes);

}  // namespace sim

#include "SimObjectsImpl.h"
