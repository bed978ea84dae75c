// Every format the device offers, end to end through the driver object:
// what the host writes reaches the device bit-exact, DSD natively and as
// DSD-over-PCM markers, with the reports the device expects.
#include "DriverHarness.h"

#include "device/AsioSettingsKey.h"
#include "device/SharedTypes.h"
#include "device/StatusBlock.h"

namespace asiotest {
namespace {

using DriverFormats = DriverTest;

// Marker reports reach the device from the driver's notification thread.
bool WaitValue(const volatile uint32_t& value, uint32_t expected, DWORD ms = 3000) {
    const DWORD start = GetTickCount();
    while (value != expected) {
        if (GetTickCount() - start > ms) return false;
        Sleep(2);
        sim::ActOnDueReports(*sim::State());  // the device acts on mode reports a little after their write
    }
    return true;
}

bool WaitSwitches(int atLeast) {
    DWORD start = GetTickCount();
    while (g_host.switches < atLeast) {
        if (GetTickCount() - start > 5000) return false;
        Sleep(2);
    }
    return true;
}

// The width the driver takes at init, set the way the panel sets it.
void UseWidth(CStatusBlock& block, uint32_t bits) {
    PutSettingDword(kValueBitsPerSample, bits);
    block.Write(&StatusBlockLayout::bitsPerSample, bits);
}

TEST_F(DriverFormats, EveryRateAtEveryWidthAndEveryDsdRateArriveIntact) {
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    // Real time: the engine relies on packets completing one after another.
    // 20 ms periods leave room for the stalls a busy machine gives Wine.
    device->config.burst = 0;
    const sim::Stream& render = device->streams[0];
    for (uint32_t bits : {16u, 24u, 32u}) {
        UseWidth(block, bits);
        for (uint32_t rate : kRateTable) {
            ASSERT_NE(nullptr, Ready(rate));
            g_host.bits = bits;
            g_host.writePattern = true;
            g_host.frame = 0;  // each take starts the host's stream again
            g_host.switches = 0;
            ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, static_cast<int32_t>(rate / 50)));
            ASSERT_EQ(ASE_OK, driver->start());
            ASSERT_TRUE(WaitSwitches(10)) << rate << " Hz " << bits;
            ASSERT_EQ(ASE_OK, driver->stop());
            EXPECT_EQ(rate, render.rate);
            EXPECT_EQ(bits, render.bits);
            ExpectHeardAsPlayed(render, 2, std::to_string(rate) + " Hz " + std::to_string(bits) + " bits");
            driver->disposeBuffers();
            driver->Release();
            driver = nullptr;
        }
    }

    for (uint32_t dsdRate : {kDsd64Rate, kDsd128Rate, kDsd256Rate}) {
        sim::ClearLog();
        ASSERT_NE(nullptr, Ready(dsdRate));
        g_host.bits = 32;  // 32 one-bit samples of a channel per group, as the device reads them
        g_host.writePattern = true;
        g_host.frame = 0;
        g_host.switches = 0;
        const int32_t samples = static_cast<int32_t>(dsdRate / 50);  // 20 ms of one-bit samples
        ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, samples));
        g_host.bufferSize = samples / 32;
        ASSERT_EQ(1u, device->reportCount);  // "on" before the stream
        EXPECT_EQ(0x2E, device->reports[0].data[4]);
        ASSERT_EQ(ASE_OK, driver->start());
        ASSERT_TRUE(WaitSwitches(10)) << dsdRate;
        ASSERT_EQ(ASE_OK, driver->stop());
        EXPECT_EQ(dsdRate / 44100, render.dsd);
        EXPECT_EQ(32u, render.bits);
        ExpectHeardAsPlayed(render, 2, "DSD " + std::to_string(dsdRate));
        driver->disposeBuffers();
        EXPECT_EQ(4u, device->reportCount);  // and the three "off" reports at dispose
        EXPECT_EQ(0u, Settled()->dsdMode);
        driver->Release();
        driver = nullptr;
    }
}

// Host-side writer of DSD-over-PCM: marker bytes 0x05 / 0xFA alternating per sample.
int g_markerFrame = 0;
enum MarkerMode { kMarkersAlternating, kMarkersPaired, kMarkersConstant, kMarkersBroken };
MarkerMode g_markerMode = kMarkersAlternating;

void WriteMarkers(int32_t index) {
    for (const ASIOBufferInfo& info : *g_host.buffers) {
        auto* half = static_cast<uint8_t*>(info.buffers[index]);
        for (int32_t f = 0; f < g_host.bufferSize; ++f) {
            half[f * 3 + 0] = 0x69;
            half[f * 3 + 1] = 0x96;
            const uint64_t frame = g_markerFrame + f;
            half[f * 3 + 2] = g_markerMode == kMarkersConstant ? 0xAA
                              : g_markerMode == kMarkersPaired ? ((frame / 2) % 2 ? 0xFA : 0x05)
                              : g_markerMode == kMarkersBroken ? (frame % 3 ? 0x05 : 0xFA)
                                                               : (frame % 2 ? 0xFA : 0x05);
        }
    }
    g_markerFrame += g_host.bufferSize;
}

void MarkerSwitch(int32_t index, ASIOBool) {
    WriteMarkers(index);
    g_host.driver->outputReady();
    ++g_host.switches;
}

ASIOTime* MarkerSwitchTimeInfo(ASIOTime*, int32_t index, ASIOBool) {
    MarkerSwitch(index, ASIOTrue);
    return nullptr;
}

TEST_F(DriverFormats, DsdMarkersInTwentyFourBitFramesAreReportedOnceAndPublished) {
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    UseWidth(block, 24);
    device->config.burst = 0;
    ASSERT_NE(nullptr, Ready(176400));
    callbacks.bufferSwitch = MarkerSwitch;
    callbacks.bufferSwitchTimeInfo = MarkerSwitchTimeInfo;
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 1764));
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitSwitches(10));
    EXPECT_TRUE(WaitValue(device->markerState, 1));
    EXPECT_EQ(1u, device->markerReports);  // once, however many periods carry markers
    EXPECT_EQ(1u, block.ReadOr(&StatusBlockLayout::dsdActive, 0));
    EXPECT_EQ(0u, block.ReadOr(&StatusBlockLayout::dsd128, 9));
    ASSERT_EQ(ASE_OK, driver->stop());
    EXPECT_TRUE(WaitValue(device->markerReports, 2));  // cleared again at stop
    EXPECT_EQ(0u, device->markerState);
    // Found again in the next take, and cleared by disposeBuffers without a stop.
    g_host.switches = 0;
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitSwitches(5));
    EXPECT_TRUE(WaitValue(device->markerState, 1));
    driver->disposeBuffers();
    EXPECT_TRUE(WaitValue(device->markerState, 0));
}

TEST_F(DriverFormats, MarkersInPairsOrConstantAreFoundAndAnythingElseIsNot) {
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    UseWidth(block, 24);
    device->config.burst = 0;
    for (MarkerMode mode : {kMarkersPaired, kMarkersConstant, kMarkersBroken}) {
        g_markerMode = mode;
        Settled()->markerReports = 0;
        g_host.switches = 0;
        ASSERT_NE(nullptr, Ready(352800));
        callbacks.bufferSwitch = MarkerSwitch;
        callbacks.bufferSwitchTimeInfo = MarkerSwitchTimeInfo;
        ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 3528));
        ASSERT_EQ(ASE_OK, driver->start());
        ASSERT_TRUE(WaitSwitches(5));
        if (mode != kMarkersBroken) {
            EXPECT_TRUE(WaitValue(device->markerReports, 1)) << mode;
        }
        EXPECT_EQ(mode == kMarkersBroken ? 0u : 1u, device->markerReports) << mode;
        EXPECT_EQ(mode == kMarkersBroken ? 0u : 1u, block.ReadOr(&StatusBlockLayout::dsdActive, 9)) << mode;
        EXPECT_EQ(mode == kMarkersBroken ? 0u : 1u, block.ReadOr(&StatusBlockLayout::dsd128, 9)) << mode;  // at 352800
        driver->Release();  // while running
        driver = nullptr;
    }
    g_markerMode = kMarkersAlternating;
}

TEST_F(DriverFormats, DsdOneTwentyEightAndTwoFiftySixAreFlaggedAndReportedUntilDisposed) {
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    const struct { double rate; int32_t size; uint8_t report; uint32_t mode, dsd128, dsd256; } kCases[] = {
        {5644800, 56448, 0xF6, 128, 1, 0}, {11289600, 112896, 0xF7, 256, 0, 1}};
    for (const auto& c : kCases) {
        device->reportCount = 0;
        ASSERT_NE(nullptr, Ready(c.rate));
        ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, c.size));
        ASSERT_EQ(1u, device->reportCount);
        EXPECT_EQ(c.report, device->reports[0].data[1]);
        EXPECT_EQ(c.mode, Settled()->dsdMode);
        EXPECT_EQ(c.dsd128, block.ReadOr(&StatusBlockLayout::dsd128, 9));
        EXPECT_EQ(c.dsd256, block.ReadOr(&StatusBlockLayout::dsd256, 9));
        EXPECT_EQ(1u, block.ReadOr(&StatusBlockLayout::nativeDsd, 9));
        EXPECT_EQ(uint32_t(c.size / 32), block.ReadOr(&StatusBlockLayout::period, 0));
        ASSERT_EQ(ASE_OK, driver->disposeBuffers());
        EXPECT_EQ(0u, Settled()->dsdMode);
        EXPECT_EQ(0u, block.ReadOr(&StatusBlockLayout::nativeDsd, 9));
        driver->Release();
        driver = nullptr;
    }
}

}  // namespace
}  // namespace asiotest
