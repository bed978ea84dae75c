// A small scripted kernel-streaming filter behind the device seam: pin and
// topology properties built from the published structures, pin creation,
// state changes, resets and stream requests recorded.
#pragma once

#include "device/DeviceApi.h"
#include "device/KsConstants.h"

#include <windows.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

HANDLE const kFakeFilterHandle = reinterpret_cast<HANDLE>(0x1000);

KSDATARANGE_AUDIO AudioRange(ULONG maxChannels, ULONG minBits, ULONG maxBits, ULONG minRate, ULONG maxRate,
                             const GUID& subFormat = kKsDataFormatSubtypePcm);

struct FakeKsPin {
    ULONG communication = KSPIN_COMMUNICATION_SINK;
    ULONG dataFlow = KSPIN_DATAFLOW_IN;
    std::vector<KSIDENTIFIER> interfaces = {{{kKsInterfaceSetIdStandard, kKsInterfaceStandardStreaming, 0}}};
    std::vector<KSIDENTIFIER> mediums = {{{kKsMediumSetIdStandard, kKsMediumTypeAnyInstance, 0}}};
    std::vector<BYTE> ranges;  // back to back, each FormatSize long
    ULONG rangeCount = 0;
    std::wstring name = L"Speaker";

    void AddRange(const void* range, size_t size);
    void AddRange(const KSDATARANGE_AUDIO& range) { AddRange(&range, sizeof(range)); }
};

struct FakeKsDevice {
    std::set<std::string> openable;  // symbolic links CreateFileA opens
    std::vector<FakeKsPin> pins;
    std::vector<GUID> nodes;
    bool pinCountFails = false;
    ULONG claimedPinCount = 0;  // the pin count answered, when not 0
    std::set<std::pair<ULONG, ULONG>> failing;             // (pin, property) that fail
    std::map<std::pair<ULONG, ULONG>, std::vector<BYTE>> raw;  // (pin, property) answered verbatim
    bool rawTopology = false;
    std::vector<BYTE> topology;  // used when rawTopology

    // Pin instances.
    DWORD createPinResult = 0;
    std::vector<std::vector<BYTE>> connects;  // KSPIN_CONNECT and data format as sent
    std::vector<HANDLE> createdFrom;          // filter handle of each KsCreatePin
    int nextPin = 0;
    bool stateFails = false;
    std::vector<std::pair<HANDLE, KSSTATE>> states;
    std::vector<ULONG> resets;
    DWORD streamError = ERROR_SUCCESS;  // ERROR_IO_PENDING queues
    std::vector<std::pair<DWORD, DWORD>> streams;  // (ioctl, output size)
    std::vector<HANDLE> closed;
    std::vector<DWORD> createFlags;

    static HANDLE PinHandle(int n) { return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x2000 + n)); }
};

extern FakeKsDevice* g_ks;

// Fixture base: installs the fake behind the seam for one test.
class KsFakeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    FakeKsDevice device;
    DeviceApiTable table;
};

// Makes one of the next nothrow allocations fail: the (skip + 1)-th one of
// exactly this size (size 0: of any size).
void FailAllocation(size_t size, int skip = 0);
void StopFailingAllocations();
