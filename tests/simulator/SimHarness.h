// Raw Win32 requests to the virtual device through the seam, the way the
// driver and the panel make them, for the simulator's tests.
#pragma once

#include "device/DeviceApi.h"
#include "simulator/SimDevice.h"
#include "simulator/SimGuids.h"

#include <gtest/gtest.h>
#include <winioctl.h>
#include <mmreg.h>
#include <ksmedia.h>

#include <string>
#include <vector>

namespace simtest {

// Each test process gets a device of its own, in factory setup, behind the seam.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    sim::SharedState* state = nullptr;
    bool comInitialized = false;
};

const DeviceApiTable& Api();

// A SetupAPI record with its cbSize set.
template <typename T>
T Sized() {
    T record = {};
    record.cbSize = sizeof(T);
    return record;
}

// The first interface of a class ("" when none), through SetupAPI's two-call protocol.
std::string InterfacePath(const GUID& cls);
HANDLE OpenFilter(DWORD flags = FILE_FLAG_OVERLAPPED);

// One KSPROPERTY (or KSP_PIN when pinId is not ~0u) request, waited for;
// returns the Win32 error (0 on success).
DWORD Property(HANDLE handle, const GUID& set, ULONG id, ULONG flags, void* out, DWORD outSize,
               DWORD* returned = nullptr, ULONG pinId = ~0u);
DWORD PinProperty(HANDLE filter, ULONG pinId, ULONG id, void* out, DWORD outSize, DWORD* returned = nullptr);
// A pin property of any size, read with a size query first.
std::vector<BYTE> PinPropertyMulti(HANDLE filter, ULONG pinId, ULONG id);

struct PinFormat {
    ULONG rate = 48000;
    WORD bits = 24;
    WORD validBits = 0;   // 0: same as bits
    WORD channels = 2;
    bool extensible = true;
    DWORD channelMask = ~0u;  // ~0: the first `channels` speaker positions
};
// KSPIN_CONNECT + KSDATAFORMAT + wave format, as the driver builds it.
std::vector<BYTE> ConnectBuffer(ULONG pinId, const PinFormat& format);
DWORD CreatePin(HANDLE filter, ULONG pinId, const PinFormat& format, HANDLE* pin);
DWORD SetState(HANDLE pin, KSSTATE state);
// STOP -> ACQUIRE -> PAUSE -> RUN (or down), one step at a time.
void StepTo(HANDLE pin, KSSTATE from, KSSTATE to);
DWORD Reset(HANDLE pin, ULONG how);

// One stream packet: header, OVERLAPPED with its own event, data.
struct Packet {
    KSSTREAM_HEADER header = {};
    OVERLAPPED overlapped = {};
    std::vector<BYTE> data;
    explicit Packet(size_t bytes);
    ~Packet();
    Packet(const Packet&) = delete;
    Packet& operator=(const Packet&) = delete;
    HANDLE Event() const;
    // Queues with IOCTL_KS_WRITE_STREAM / READ_STREAM; returns GetLastError (ERROR_IO_PENDING when queued).
    DWORD Queue(HANDLE pin, bool write);
    bool Wait(DWORD ms);
};

// Fills frames [first, first + frames) of the test pattern.
void FillPattern(std::vector<BYTE>& data, uint64_t first, uint32_t frames, unsigned channels, unsigned bits);

}  // namespace simtest
