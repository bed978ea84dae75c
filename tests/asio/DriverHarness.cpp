#include "DriverHarness.h"

#include "asio/ClassFactory.h"
#include "simulator/SimDevice.h"
#include "simulator/TestPattern.h"

#include <cstdio>
#include <cstring>

namespace asiotest {

const CLSID kTestClsid = {0x5E1F0A11, 0x7C3D, 0x4B2A, {0x9E, 0x61, 0x0D, 0x44, 0x21, 0x7A, 0xB3, 0x05}};
HostLog g_host;

namespace {

void WritePattern(int32_t index) {
    HostLog& h = g_host;
    if (!h.buffers) return;
    unsigned bytes = h.bits / 8;
    for (const ASIOBufferInfo& info : *h.buffers) {
        if (info.isInput || !info.buffers[index]) continue;
        auto* half = static_cast<uint8_t*>(info.buffers[index]);
        for (int32_t f = 0; f < h.bufferSize; ++f) {
            TestPattern::Store(half + f * bytes, TestPattern::Sample(info.channelNum, h.frame + f, h.bits), bytes);
        }
    }
    h.frame += h.bufferSize;
}

void Switch(int32_t index) {
    HostLog& h = g_host;
    ASIOSamples position = {};
    ASIOTimeStamp stamp = {};
    if (h.driver && h.positions.size() < 64 && h.driver->getSamplePosition(&position, &stamp) == ASE_OK) {
        h.positions.push_back((uint64_t(position.hi) << 32) | position.lo);
    }
    if (h.checkInputs && h.switches < 2) {
        for (const ASIOBufferInfo& info : *h.buffers) {
            if (!info.isInput || !info.buffers[index]) continue;
            const auto* half = static_cast<const uint8_t*>(info.buffers[index]);
            for (int32_t b = 0; b < h.bufferSize * int32_t(h.bits / 8); ++b) {
                if (half[b]) {
                    ++h.staleInputs;
                    break;
                }
            }
        }
    }
    if (h.switches == h.stallAtSwitch) Sleep(h.stallMs);
    if (h.writePattern) WritePattern(index);
    if (h.driver) h.driver->outputReady();
    ++h.switches;
}

void BufferSwitch(int32_t index, ASIOBool) { Switch(index); }

ASIOTime* BufferSwitchTimeInfo(ASIOTime* time, int32_t index, ASIOBool) {
    if (time) {
        if (g_host.timeInfoSwitches == 0) g_host.firstTimeFlags = static_cast<unsigned>(time->timeInfo.flags);
        if (time->timeInfo.flags & kSampleRateChanged) ++g_host.rateChangedSwitches;
    }
    ++g_host.timeInfoSwitches;
    Switch(index);
    return nullptr;
}

void RateChanged(ASIOSampleRate) { ++g_host.rateChanges; }

int32_t Message(int32_t selector, int32_t value, void*, double*) {
    switch (selector) {
    case kAsioSelectorSupported:
        return value == kAsioResetRequest || value == kAsioEngineVersion || value == kAsioResyncRequest ||
               value == kAsioOverload || (value == kAsioSupportsTimeInfo && g_host.selectorTimeInfo);
    case kAsioEngineVersion: return g_host.engineVersion;
    case kAsioResetRequest: ++g_host.resetRequests; return 1;
    case kAsioResyncRequest: ++g_host.resyncRequests; return 0;  // 0: a reset would follow if the driver asked one
    case kAsioOverload: ++g_host.overloads; return 1;
    case kAsioSupportsTimeInfo: return g_host.timeInfo ? 1 : 0;
    default: return 0;
    }
}

}  // namespace

ASIOCallbacks HostCallbacks() { return {BufferSwitch, RateChanged, Message, BufferSwitchTimeInfo}; }

void DriverTest::SetUp() {
    char name[64];
    snprintf(name, sizeof(name), "asio-%lu", GetCurrentProcessId());
    ASSERT_TRUE(sim::Attach(name));
    sim::ResetDevice();
    device = sim::State();
    device->config.burst = 1;
    InstallDeviceApi(&sim::DeviceTable());
    g_host.switches = g_host.timeInfoSwitches = g_host.resetRequests = g_host.rateChanges = 0;
    g_host.positions.clear();
    g_host.buffers = &infos;
    g_host.frame = 0;
    g_host.writePattern = false;
    g_host.timeInfo = true;
    g_host.selectorTimeInfo = true;
    g_host.engineVersion = 2;
    g_host.resyncRequests = 0;
    g_host.rateChangedSwitches = 0;
    g_host.firstTimeFlags = 0;
    g_host.staleInputs = 0;
    g_host.checkInputs = false;
    g_host.stallAtSwitch = -1;
    g_host.stallMs = 0;
    g_host.overloads = 0;
    g_host.bits = 16;
    callbacks = HostCallbacks();
}

void DriverTest::TearDown() {
    if (driver) driver->Release();
    driver = nullptr;
    g_host.driver = nullptr;
    InstallDeviceApi(nullptr);
}

void ExpectHeardAsPlayed(const sim::Stream& render, unsigned channels, const std::string& what) {
    EXPECT_EQ(0u, render.startFaults) << what << ": first frame " << render.firstFrame;
    EXPECT_EQ(0u, render.leadFaults) << what << ": " << render.leadFrames << " silent frames first";
    EXPECT_EQ(0u, render.changedPackets) << what;
    EXPECT_EQ(0u, render.markerFaults) << what;
    for (unsigned c = 0; c < channels; ++c) {
        const sim::ChannelCounters& ch = render.channel[c];
        EXPECT_EQ(1u, ch.locked) << what << " channel " << c;
        EXPECT_EQ(0u, ch.breaks + ch.gaps + ch.channelFaults + ch.offsetFaults)
            << what << " channel " << c << ": breaks " << ch.breaks << " gaps " << ch.gaps << " channel "
            << ch.channelFaults << " offset " << ch.offsetFaults;
    }
}

sim::SharedState* DriverTest::Settled() {
    for (int i = 0; i < 2000 && device->reportsActedOn != device->reportCount; ++i) {
        Sleep(1);
        sim::ActOnDueReports(*device);
    }
    return device;
}

IASIO* DriverTest::Create(HRESULT* hr) {
    void* object = nullptr;
    HRESULT result = CreateDriverObject(nullptr, kTestClsid, kTestClsid, &object);
    if (hr) *hr = result;
    return SUCCEEDED(result) ? static_cast<IASIO*>(object) : nullptr;
}

IASIO* DriverTest::Ready(double rate) {
    driver = Create();
    EXPECT_NE(nullptr, driver);
    if (!driver) return nullptr;
    EXPECT_EQ(ASIOTrue, driver->init(nullptr));
    EXPECT_EQ(ASE_OK, driver->setSampleRate(rate));
    g_host.driver = driver;
    return driver;
}

ASIOError DriverTest::Buffers(IASIO* d, std::vector<int32_t> outputs, std::vector<int32_t> inputs, int32_t size) {
    infos.clear();
    for (int32_t c : outputs) infos.push_back({ASIOFalse, c, {nullptr, nullptr}});
    for (int32_t c : inputs) infos.push_back({ASIOTrue, c, {nullptr, nullptr}});
    g_host.bufferSize = size;
    return d->createBuffers(infos.data(), static_cast<int32_t>(infos.size()), size, &callbacks);
}

}  // namespace asiotest
