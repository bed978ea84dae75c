// The kernel-streaming library and the HID channel against the virtual
// device, driven the way the driver and the panel drive them, in both builds.
#include "device/HidChannel.h"
#include "device/KsAudFilter.h"
#include "device/KsEnumFilters.h"
#include "device/SharedTypes.h"
#include "device/SupportedDevices.h"
#include "device/VendorStatus.h"
#include "simulator/SimDevice.h"
#include "simulator/SimGuids.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

class KsOnVirtualDevice : public ::testing::Test {
protected:
    void SetUp() override {
        char name[64];
        snprintf(name, sizeof(name), "ks-%lu", GetCurrentProcessId());
        ASSERT_TRUE(sim::Attach(name));
        sim::ResetDevice();
        device = sim::State();
        InstallDeviceApi(&sim::DeviceTable());
    }
    void TearDown() override { InstallDeviceApi(nullptr); }

    // The device's path as the driver's discovery finds it.
    std::string FindDevicePath() {
        HRESULT hr = S_OK;
        CKsEnumFilters enumerator(&hr);
        const GUID classes[2] = {sim::kCategoryAudio, sim::kCategoryRender};
        if (FAILED(enumerator.EnumFilters(classes, 2)) || enumerator.Filters().Count() != 1) return "";
        return enumerator.Filters().Head()->item->SymbolicLink();
    }

    sim::SharedState* device = nullptr;
};

// The panel's probe: widths 32, 24, 16 (flag 4) and rates high to low (flag 8), one bit each.
struct Masks {
    uint32_t widths = 0;
    uint32_t rates = 0;
};
template <typename Filter>
Masks Probe(Filter& filter) {
    Masks masks;
    int bit = 0;
    for (WORD bits : {32, 24, 16}) {
        WAVEFORMATEX format = {};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.wBitsPerSample = bits;
        if (filter.FindViablePin(&format, kKsFormatCheckBits)) masks.widths |= 1u << bit;
        ++bit;
    }
    bit = 0;
    for (size_t i = kRateCount; i-- > 0; ++bit) {
        WAVEFORMATEX format = {};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nSamplesPerSec = kRateTable[i];
        if (filter.FindViablePin(&format, kKsFormatCheckRate)) masks.rates |= 1u << bit;
    }
    return masks;
}

TEST_F(KsOnVirtualDevice, EnumeratedAndProbedFiltersGiveTheMasksOfTheDevicesRanges) {
    std::string path = FindDevicePath();
    ASSERT_NE("", path);
    HRESULT hr = S_OK;
    CKsAudRenFilter render(path.c_str(), "", &hr);
    ASSERT_EQ(S_OK, hr);
    ASSERT_EQ(S_OK, render.Instantiate());
    ASSERT_EQ(S_OK, render.EnumeratePins());
    EXPECT_EQ(1u, render.RenderSinkPins().Count());
    CKsAudCapFilter capture(path.c_str(), "", &hr);
    ASSERT_EQ(S_OK, capture.Instantiate());
    ASSERT_EQ(S_OK, capture.EnumeratePins());
    EXPECT_EQ(1u, capture.CaptureSinkPins().Count());
    Masks r = Probe(render), c = Probe(capture);
    EXPECT_EQ(0x7u, r.widths);
    EXPECT_EQ(0x1FFu, r.rates);
    EXPECT_EQ(0x7u, c.widths);
    EXPECT_EQ(0x1FFu, c.rates);
#ifndef VELMOR_PANEL_BUILD
    EXPECT_EQ(S_OK, render.EnumerateNodes());
    EXPECT_EQ(7u, render.Nodes().Count());
#endif

    // A device without 32-bit PCM and without a capture pin.
    device->config.maxBits = 24;
    device->config.model = sim::kModelR5;
    path = FindDevicePath();
    CKsAudRenFilter r5(path.c_str(), "", &hr);
    ASSERT_EQ(S_OK, r5.Instantiate());
    ASSERT_EQ(S_OK, r5.EnumeratePins());
    EXPECT_EQ(0x6u, Probe(r5).widths);
    CKsAudCapFilter none(path.c_str(), "", &hr);
    ASSERT_EQ(S_OK, none.Instantiate());
    none.EnumeratePins();
    EXPECT_EQ(0u, none.CaptureSinkPins().Count());
}

TEST_F(KsOnVirtualDevice, NoOpenableFilterAndAMissingAliasLeaveNothingListed) {
    device->config.alias = sim::kAliasMissing;
    EXPECT_EQ("", FindDevicePath());
    device->config.alias = sim::kAliasRemoved;
    EXPECT_EQ("", FindDevicePath());
    device->config.alias = sim::kAliasPresent;
    sim::Unplug();
    HRESULT hr = S_OK;
    CKsEnumFilters enumerator(&hr);
    const GUID classes[2] = {sim::kCategoryAudio, sim::kCategoryRender};
    EXPECT_EQ(E_FAIL, enumerator.EnumFilters(classes, 2));
}

TEST_F(KsOnVirtualDevice, HidChannelFindsTheDeviceAmongOthersAndSendsItsReports) {
    USHORT input = 0, output = 0;
    HidChannel channel;
    ASSERT_TRUE(FindHidDevice(&channel, kVelmorVendorId, kVelmorProductR6, &input, &output));
    EXPECT_EQ(64, output);
    SendHidCommand(&channel, 0xF6, 0x61, 0x01, 0x00);
    CloseHidChannel(&channel);
    ASSERT_EQ(1u, device->reportCount);
    EXPECT_EQ(0xF6, device->reports[0].data[1]);
    EXPECT_EQ(1, device->volumeSteps);

    HidChannel other;
    EXPECT_FALSE(FindHidDevice(&other, kVelmorVendorId, 0x0453, &input, &output));  // no such product here
    EXPECT_EQ(0, output);

    device->config.hidOutputLength = 0;  // found, but nothing can be written
    EXPECT_TRUE(SendHidReport(kVelmorVendorId, kVelmorProductR6, 0xF6, 0x61, 0x02, 0x00));
    EXPECT_EQ(1u, device->reportCount);
    device->config.hidOutputLength = 65;  // longer than the report buffer: sent padded to its length
    EXPECT_TRUE(SendHidReport(kVelmorVendorId, kVelmorProductR6, 0xF6, 0x61, 0x02, 0x00));
    ASSERT_EQ(2u, device->reportCount);
    EXPECT_EQ(65u, device->reports[1].length);
    device->config.hidExtraInterfaces = 300;  // the device lies past the 256 interfaces looked at
    EXPECT_FALSE(SendHidReport(kVelmorVendorId, kVelmorProductR6, 0xF6, 0x61, 0x00, 0x00));
}

TEST_F(KsOnVirtualDevice, PanelFindsTheDeviceByServiceAndReadsItsStatusThroughEitherSet) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    ASSERT_EQ(S_OK, OpenAudioDeviceByService(&handle, "vmr5r6hs"));
    ULONG flag = 9, reserved = 0, rate = 0, bits = 0;
    ASSERT_EQ(S_OK, QueryDeviceStreamStatus(handle, &flag, &reserved, &rate, &bits));
    EXPECT_EQ(0u, flag);
    device->config.refuseFirstVendorSet = 1;
    EXPECT_EQ(S_OK, QueryDeviceStreamStatus(handle, &flag, &reserved, &rate, &bits));
    device->config.vendorReplyLength = 47;
    EXPECT_EQ(E_FAIL, QueryDeviceStreamStatus(handle, &flag, &reserved, &rate, &bits));
    device->config.vendorReplyLength = 48;
    EXPECT_EQ(S_OK, QueryDeviceStreamStatus(handle, &flag, &reserved, &rate, &bits));
    DeviceApi().CloseHandle(handle);
    HANDLE none = INVALID_HANDLE_VALUE;
    EXPECT_EQ(E_FAIL, OpenAudioDeviceByService(&none, kServiceFullSpeed));
    device->config.fullSpeed = 1;
    EXPECT_EQ(S_OK, OpenAudioDeviceByService(&none, kServiceFullSpeed));
    DeviceApi().CloseHandle(none);
}

#ifndef VELMOR_PANEL_BUILD
// 48000 Hz, 24 bits, stereo, as the driver asks for it.
WAVEFORMATEXTENSIBLE DriverFormat() {
    WAVEFORMATEXTENSIBLE format = {};
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = 2;
    format.Format.nSamplesPerSec = 48000;
    format.Format.wBitsPerSample = 24;
    format.Format.nBlockAlign = 6;
    format.Format.nAvgBytesPerSec = 288000;
    format.Format.cbSize = 22;
    format.Samples.wValidBitsPerSample = 24;
    format.dwChannelMask = 3;
    format.SubFormat = sim::kSubtypePcm;
    return format;
}
#endif

// Property requests that pend, and size queries answered "insufficient buffer".
TEST_F(KsOnVirtualDevice, RequestsThatPendCountByTheirOutcome) {
    device->config.pendProperties = sim::kPendThenAnswer;
    std::string path = FindDevicePath();  // every size query pends
    ASSERT_NE("", path);
    HRESULT hr = S_OK;
    CKsAudRenFilter filter(path.c_str(), "", &hr);
    ASSERT_EQ(S_OK, filter.Instantiate());
    ASSERT_EQ(S_OK, filter.EnumeratePins());
    EXPECT_EQ(0x7u, Probe(filter).widths);
#ifndef VELMOR_PANEL_BUILD
    auto* pin = static_cast<CKsAudPin*>(filter.RenderSinkPins().Head()->item);
    WAVEFORMATEXTENSIBLE format = DriverFormat();
    ASSERT_EQ(S_OK, pin->SetFormat(&format.Format));
    ASSERT_EQ(S_OK, pin->Instantiate(FALSE));
    EXPECT_EQ(S_OK, pin->SetState(KSSTATE_ACQUIRE));
    // A state change that fails after pending is a failure, and the pin keeps its state.
    device->config.pendProperties = sim::kPendThenFail;
    EXPECT_EQ(E_FAIL, pin->SetState(KSSTATE_PAUSE));
    EXPECT_EQ(KSSTATE_ACQUIRE, pin->State());
    EXPECT_EQ(ULONG(KSSTATE_ACQUIRE), device->streams[0].state);
#endif
    device->config.pendProperties = sim::kPendNever;
    device->config.sizeQueryInsufficient = 1;
    EXPECT_EQ(path, FindDevicePath());
}

#ifndef VELMOR_PANEL_BUILD
// The driver's pin sequence: format, instance, reset, states up, eight packets, states down.
TEST_F(KsOnVirtualDevice, APinOpenedTheDriversWayStreamsEightPackets) {
    device->config.burst = 1;
    std::string path = FindDevicePath();
    HRESULT hr = S_OK;
    CKsAudRenFilter filter(path.c_str(), "", &hr);
    ASSERT_EQ(S_OK, filter.Instantiate());
    ASSERT_EQ(S_OK, filter.EnumeratePins());
    auto* pin = static_cast<CKsAudPin*>(filter.RenderSinkPins().Head()->item);
    WAVEFORMATEXTENSIBLE format = DriverFormat();
    ASSERT_EQ(S_OK, pin->SetFormat(&format.Format));
    ASSERT_EQ(S_OK, pin->Instantiate(FALSE));
    ASSERT_EQ(S_OK, pin->Reset());
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) ASSERT_EQ(S_OK, pin->SetState(state));
    struct Packet {
        KSSTREAM_HEADER header = {};
        OVERLAPPED overlapped = {};
        BYTE data[480 * 6] = {};
    };
    auto packets = std::make_unique<Packet[]>(8);
    for (int k = 0; k < 8; ++k) {
        Packet& p = packets[k];
        p.header.Size = sizeof(p.header);
        p.header.FrameExtent = p.header.DataUsed = sizeof(p.data);
        p.header.Data = p.data;
        p.overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        ASSERT_EQ(S_OK, pin->WriteData(&p.header, &p.overlapped));
    }
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(packets[k].overlapped.hEvent, 2000));
        CloseHandle(packets[k].overlapped.hEvent);
    }
    EXPECT_EQ(8u, device->streams[0].completed);
    EXPECT_EQ(2u, device->streams[0].channels);
    pin->ClosePin();  // steps down and closes
    EXPECT_EQ(0u, device->streams[0].open);
}
#endif

}  // namespace
