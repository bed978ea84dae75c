// The device clock: one thread per process completes the packets of its
// running pins on absolute deadlines (frames / rate after the previous one),
// checks render data against the test pattern as it is "played" and fills
// capture packets with it. Wine's timed waits wake a fraction of a
// millisecond late, so the thread wakes a little early and finishes each wait
// by yielding until the deadline.
#include "SimDevice.h"
#include "SimObjects.h"

#include <ks.h>

#include <cstring>
#include <vector>

namespace sim {

namespace {

constexpr LONG kStatusDeviceNotConnected = static_cast<LONG>(0xC000009D);
// Timed waits end up to ~0.4 ms late under Wine; closer than this, yield instead.
constexpr int64_t kWakeEarlyMicroseconds = 400;
// Even with nothing to complete, look for a removal made by another process this often.
constexpr DWORD kIdlePollMs = 50;

HANDLE g_wake = nullptr;
INIT_ONCE g_clockOnce = INIT_ONCE_STATIC_INIT;

constexpr LONG kStatusPending = 0x103;
// A pended request completes this long after it was made.
constexpr int64_t kLaterMicroseconds = 2000;

struct Later {
    OVERLAPPED* overlapped;
    LONG status;
    ULONG_PTR bytes;
    int64_t due;
};
std::vector<Later>* g_later = nullptr;  // guarded by the process lock

uint32_t DsdMode(const SharedState& state, const PinInstance& pin) {
    if (pin.bits != 32 || pin.desc.Capture()) return 0;
    uint32_t mode = state.dsdMode;
    if ((mode == 64 && pin.rate == 88200) || (mode == 128 && pin.rate == 176400) || (mode == 256 && pin.rate == 352800)) {
        return mode;
    }
    return 0;
}

// The device reads DSD from the mode report on, PCM before it: data it read
// in one mode does not continue the pattern in the other.
void FollowMode(PinInstance& pin, uint32_t mode) {
    if (mode == pin.dsd) return;
    pin.dsd = mode;
    pin.check.Reanchor();
}

// Plays what was taken at submission; a buffer that changed since is a fault
// of the sender (on the device it would not be heard).
void Play(PinInstance& pin, const Packet& packet, uint32_t slot, Stream* stream) {
    const std::vector<uint8_t>& taken = pin.taken[slot];
    const bool changed = packet.bytes && std::memcmp(taken.data(), packet.header->Data, packet.bytes) != 0;
    pin.check.Play(taken.data(), packet.frames, pin.blockAlign);
    if (!stream) return;
    if (changed) ++stream->changedPackets;
    unsigned channels = pin.channels < kMaxChannels ? pin.channels : kMaxChannels;
    for (unsigned c = 0; c < channels; ++c) stream->channel[c].frames += packet.frames;
    pin.check.Publish(*stream);
}

uint32_t Record(PinInstance& pin, KSSTREAM_HEADER& header, Stream* stream) {
    unsigned bytes = pin.bits / 8;
    uint32_t frames = header.FrameExtent / pin.blockAlign;
    auto* data = static_cast<uint8_t*>(header.Data);
    for (uint32_t f = 0; f < frames; ++f, ++pin.captureFrame) {
        uint8_t* frame = data + static_cast<size_t>(f) * pin.blockAlign;
        for (unsigned c = 0; c < pin.channels; ++c) {
            TestPattern::Store(frame + c * bytes, TestPattern::Sample(c, pin.captureFrame, pin.bits), bytes);
        }
    }
    if (stream) {
        for (unsigned c = 0; c < pin.channels && c < kMaxChannels; ++c) {
            stream->channel[c].frames += frames;
            stream->channel[c].locked = 1;
        }
    }
    return frames * pin.blockAlign;
}

void Pop(PinInstance& pin) {
    pin.head = (pin.head + 1) % kPacketQueueSize;
    --pin.count;
}

// Completes the pended requests that are due; returns the earliest deadline left (0: none).
int64_t CompleteDueRequests(int64_t now) {
    int64_t earliest = 0;
    if (!g_later) return earliest;
    for (size_t i = 0; i < g_later->size();) {
        Later later = (*g_later)[i];
        if (later.due > now) {
            if (earliest == 0 || later.due < earliest) earliest = later.due;
            ++i;
            continue;
        }
        g_later->erase(g_later->begin() + static_cast<std::ptrdiff_t>(i));
        Complete(later.overlapped, later.status, later.bytes);
    }
    return earliest;
}

// Runs every pin's due completions; returns the earliest pending deadline (0: none).
int64_t Service() {
    LocalLock lock;
    SharedState* state = State();
    int64_t now = Now();
    int64_t earliest = CompleteDueRequests(now);
    ForEachPin([&](Object& object) {
        PinInstance& pin = *object.pin;
        if (IsRemoved(object)) {
            CancelAll(pin, kStatusDeviceNotConnected);
            pin.running = false;
            return;
        }
        if (!pin.running) return;
        if (state && state->config.stallCompletions) {
            pin.stalled = true;
            return;
        }
        if (pin.stalled) {
            // A device that stopped plays its packets from now on at its own
            // pace: what it held does not come back in a burst.
            pin.stalled = false;
            pin.chainTime = now;
            if (pin.count) pin.headDeadline = now + pin.queue[pin.head].duration;
        }
        bool burst = state && state->config.burst;
        while (pin.count && (burst || pin.headDeadline <= now)) {
            CompleteHead(pin, 0);
        }
        if (pin.count && (earliest == 0 || pin.headDeadline < earliest)) earliest = pin.headDeadline;
    });
    return earliest;
}

DWORD WINAPI ClockThread(void*) {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    const int64_t early = kWakeEarlyMicroseconds * TicksPerSecond() / 1000000;
    for (;;) {
        int64_t deadline = Service();
        if (deadline == 0) {
            WaitForSingleObject(g_wake, kIdlePollMs);
            continue;
        }
        int64_t left = deadline - Now();
        if (left > early) {
            int64_t ms = (left - early) * 1000 / TicksPerSecond();
            if (ms > kIdlePollMs) ms = kIdlePollMs;
            if (ms > 0) {
                WaitForSingleObject(g_wake, static_cast<DWORD>(ms));
                continue;
            }
        }
        // The last fraction of a millisecond: yield until the deadline.
        while (Now() < deadline) {
            if (WaitForSingleObject(g_wake, 0) == WAIT_OBJECT_0) break;
            Sleep(0);
        }
    }
    return 0;
}

BOOL CALLBACK StartClock(PINIT_ONCE, PVOID, PVOID*) {
    g_wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, ClockThread, nullptr, 0, nullptr);
    if (thread) CloseHandle(thread);
    return TRUE;
}

}  // namespace

void WakeClock() {
    InitOnceExecuteOnce(&g_clockOnce, StartClock, nullptr, nullptr);
    if (WakeAfterUnlock()) return;
    if (g_wake) SetEvent(g_wake);
}

void CompleteHead(PinInstance& pin, LONG status) {
    if (!pin.count) return;
    const uint32_t slot = pin.head;
    Packet packet = pin.queue[slot];
    Pop(pin);
    SharedState* state = State();
    Stream* stream = state && pin.pinId < kMaxPins && state->streams[pin.pinId].ownerPid == GetCurrentProcessId()
                         ? &state->streams[pin.pinId]
                         : nullptr;
    ULONG moved = 0;
    if (status == 0) {
        if (state) ActOnDueReports(*state);
        if (!pin.desc.Capture()) FollowMode(pin, state ? DsdMode(*state, pin) : 0);
        if (stream) stream->dsd = pin.dsd;
        if (pin.desc.Capture()) {
            moved = Record(pin, *packet.header, stream);
            packet.header->DataUsed = moved;
        } else {
            Play(pin, packet, slot, stream);
            moved = packet.header->DataUsed;
        }
        pin.chainTime = pin.headDeadline;
        if (stream) {
            ++stream->completed;
            stream->bytes += moved;
        }
        if (pin.count) {
            pin.headDeadline = pin.chainTime + pin.queue[pin.head].duration;
        } else if (pin.running && !(state && state->config.burst)) {
            // Nothing left to play: the device runs dry until the next packet.
            pin.starved = true;
            pin.dry = true;
            if (stream) {
                ++stream->underruns;
                stream->starved = 1;
            }
        }
        if (stream && pin.count) stream->starved = 0;
    } else {
        if (pin.desc.Capture()) packet.header->DataUsed = 0;
        if (stream) ++stream->cancelled;
    }
    Complete(packet.overlapped, status, moved);
}

void CompleteLater(OVERLAPPED* overlapped, LONG status, ULONG_PTR bytes) {
    if (!g_later) g_later = new std::vector<Later>;  // lives until the process ends
    overlapped->Internal = kStatusPending;
    overlapped->InternalHigh = 0;
    g_later->push_back({overlapped, status, bytes, Now() + kLaterMicroseconds * TicksPerSecond() / 1000000});
    WakeClock();
}

void CancelAll(PinInstance& pin, LONG status) {
    while (pin.count) CompleteHead(pin, status);
    pin.starved = true;
    pin.dry = false;
}

}  // namespace sim
