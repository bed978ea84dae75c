// Buffers, pins and the streaming engine of the driver object on the virtual
// device: what reaches the device, what the host is told, and what is left
// behind after many cycles.
#include "DriverHarness.h"

#include "device/StatusBlock.h"

#include <psapi.h>

#include <thread>

namespace asiotest {
namespace {

using DriverBuffers = DriverTest;
using DriverStreaming = DriverTest;
using DriverCycles = DriverTest;

bool WaitFor(const std::atomic<int>& counter, int atLeast, DWORD ms) {
    DWORD start = GetTickCount();
    while (counter < atLeast) {
        if (GetTickCount() - start > ms) return false;
        Sleep(5);
    }
    return true;
}

TEST_F(DriverBuffers, APinOpensWithIndexPlusOneChannelsAndClimbsPastRefusedCounts) {
    ASSERT_NE(nullptr, Ready(48000));
    ASSERT_EQ(ASE_OK, Buffers(driver, {1}, {}, 480));  // output channel 1 only
    ASSERT_EQ(1u, infos.size());
    EXPECT_NE(nullptr, infos[0].buffers[0]);
    EXPECT_NE(nullptr, infos[0].buffers[1]);
    const sim::Stream& render = device->streams[0];
    EXPECT_EQ(1u, render.open);
    EXPECT_EQ(2u, render.channels);
    EXPECT_EQ(48000u, render.rate);
    EXPECT_EQ(0x3u, render.channelMask);
    ASIOChannelInfo info = {};
    info.channel = 1;
    ASSERT_EQ(ASE_OK, driver->getChannelInfo(&info));
    EXPECT_EQ(ASIOTrue, info.isActive);
    info.channel = 0;
    ASSERT_EQ(ASE_OK, driver->getChannelInfo(&info));
    EXPECT_EQ(ASIOFalse, info.isActive);  // on the opened pin, but no buffer of the host's
    EXPECT_EQ(ASE_InvalidMode, Buffers(driver, {0}, {}, 480));
    ASSERT_EQ(ASE_OK, driver->disposeBuffers());
    EXPECT_EQ(0u, render.open);
    driver->Release();
    driver = nullptr;

    device->config.renderChannels = 4;
    device->config.refuseChannelMask = (1u << 2) | (1u << 3);
    ASSERT_NE(nullptr, Ready(48000));
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 480));
    EXPECT_EQ(4u, render.channels);
    EXPECT_EQ(0x33u, render.channelMask);
    ASSERT_EQ(ASE_OK, driver->disposeBuffers());
    EXPECT_EQ(ASE_InvalidParameter, Buffers(driver, {9}, {}, 480));  // no such channel: nothing made
    EXPECT_EQ(0u, render.open);
}

TEST_F(DriverBuffers, DsdSixtyFourSizesPacketsAndReportsAsTheDeviceExpects) {
    ASSERT_NE(nullptr, Ready(2822400));
    g_host.bits = 32;
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 28224));
    const sim::Stream& render = device->streams[0];
    EXPECT_EQ(88200u, render.rate);
    EXPECT_EQ(32u, render.bits);
    ASSERT_EQ(1u, device->reportCount);
    EXPECT_EQ(0xF5, device->reports[0].data[1]);
    EXPECT_EQ(0x2E, device->reports[0].data[4]);
    EXPECT_EQ(64u, Settled()->dsdMode);
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    EXPECT_EQ(882u, block.ReadOr(&StatusBlockLayout::period, 0));
    EXPECT_EQ(1u, block.ReadOr(&StatusBlockLayout::dsdActive, 0));
    EXPECT_EQ(1u, block.ReadOr(&StatusBlockLayout::nativeDsd, 0));
    EXPECT_EQ(0u, block.ReadOr(&StatusBlockLayout::dsd128, 9));

    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitFor(g_host.switches, 4, 5000));
    ASSERT_EQ(ASE_OK, driver->stop());
    EXPECT_GE(render.completed, 4u);
    EXPECT_EQ(render.completed * 7056, render.bytes);  // 882 stereo 32-bit frames per packet
    EXPECT_EQ(64u, render.dsd);

    ASSERT_EQ(ASE_OK, driver->disposeBuffers());
    ASSERT_EQ(4u, device->reportCount);  // the three "off" reports
    for (uint32_t i = 1; i < 4; ++i) {
        EXPECT_EQ(0xF4 + i, device->reports[i].data[1]);
        EXPECT_EQ(0x08, device->reports[i].data[4]);
    }
    EXPECT_EQ(0u, Settled()->dsdMode);
    EXPECT_EQ(0u, block.ReadOr(&StatusBlockLayout::dsdActive, 9));
}

TEST_F(DriverStreaming, SwitchesCarryPositionsAndThePatternReachesTheDeviceIntact) {
    for (int32_t width : {16, 24, 32}) {
        DeleteDriverSettingsKey();
        PutSettingDword("BitsPerSample", static_cast<uint32_t>(width));
        CStatusBlock block;
        ASSERT_EQ(S_OK, block.Open());
        block.Write(&StatusBlockLayout::bitsPerSample, static_cast<uint32_t>(width));
        ASSERT_NE(nullptr, Ready(96000));
        device->config.burst = 0;  // both directions in real time, as a DAW sees them
        g_host.bits = static_cast<unsigned>(width);
        g_host.writePattern = true;
        g_host.frame = 0;  // the take's first sound is the pattern's first frame
        g_host.switches = 0;
        g_host.positions.clear();
        ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {0, 1}, 1920));  // 20 ms
        ASSERT_EQ(ASE_OK, driver->start());
        ASSERT_TRUE(WaitFor(g_host.switches, 15, 5000)) << width;
        ASSERT_EQ(ASE_OK, driver->stop());
        ASSERT_GE(g_host.positions.size(), 3u);
        EXPECT_EQ(0u, g_host.positions[0]);
        EXPECT_EQ(1920u, g_host.positions[1]);
        EXPECT_EQ(3840u, g_host.positions[2]);
        EXPECT_GT(g_host.timeInfoSwitches, 0);
        const sim::Stream& render = device->streams[0];
        EXPECT_EQ(static_cast<uint32_t>(width), render.bits);
        ExpectHeardAsPlayed(render, 2, std::to_string(width) + " bits");
        ASSERT_EQ(ASE_OK, driver->disposeBuffers());
        driver->Release();
        driver = nullptr;
    }
}

TEST_F(DriverStreaming, AStalledDeviceGivesOneResetRequestAfterTwoSeconds) {
    ASSERT_NE(nullptr, Ready(48000));
    device->config.burst = 0;
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 480));
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitFor(g_host.switches, 3, 2000));
    g_host.resetRequests = 0;
    device->config.stallCompletions = 1;
    DWORD stalled = GetTickCount();
    ASSERT_TRUE(WaitFor(g_host.resetRequests, 1, 5000));
    DWORD after = GetTickCount() - stalled;
    EXPECT_GE(after, 1800u);
    Sleep(2500);
    EXPECT_EQ(1, g_host.resetRequests.load());  // once per buffer set
    ASSERT_EQ(ASE_OK, driver->stop());
    ASSERT_EQ(ASE_OK, driver->disposeBuffers());
}

TEST_F(DriverStreaming, TheWatchdogStaysQuietWhileCompletionsComeAndWhileStopped) {
    ASSERT_NE(nullptr, Ready(48000));
    device->config.burst = 0;
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 480));
    g_host.resetRequests = 0;
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitFor(g_host.switches, 3, 2000)) << "first switches";
    // Longer than the stall limit: every completion holds it off.
    const int before = g_host.switches;
    Sleep(3000);
    EXPECT_GT(g_host.switches.load(), before + 10);
    EXPECT_EQ(0, g_host.resetRequests.load()) << "while completing";
    ASSERT_EQ(ASE_OK, driver->stop());
    Sleep(2600);
    EXPECT_EQ(0, g_host.resetRequests.load()) << "while stopped";
    // A new start counts from itself, not from the last completion before the stop.
    g_host.switches = 0;
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitFor(g_host.switches, 3, 2000)) << "switches after the restart";
    Sleep(500);
    EXPECT_EQ(0, g_host.resetRequests.load()) << "after the restart";
    ASSERT_EQ(ASE_OK, driver->stop());
    ASSERT_EQ(ASE_OK, driver->disposeBuffers());
}

TEST_F(DriverStreaming, AResetAskedForInTheBlockBeforeBuffersIsServedAtTheFirstWakeUp) {
    ASSERT_NE(nullptr, Ready(48000));
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    block.Write(&StatusBlockLayout::resetRequest, 1);
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 480));
    EXPECT_EQ(0, g_host.resetRequests.load());  // nothing runs yet
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitFor(g_host.resetRequests, 1, 2000));
    EXPECT_EQ(0u, block.ReadOr(&StatusBlockLayout::resetRequest, 9));
    driver->stop();
    driver->disposeBuffers();
}

TEST_F(DriverStreaming, UnpluggingWhileRunningNeitherHangsNorCrashes) {
    ASSERT_NE(nullptr, Ready(48000));
    device->config.burst = 0;
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {0, 1}, 480));
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitFor(g_host.switches, 3, 2000));
    sim::Unplug();
    Sleep(100);
    std::atomic<bool> done{false};
    std::thread closer([&] {
        driver->stop();
        driver->disposeBuffers();
        driver->Release();
        driver = nullptr;
        done = true;
    });
    DWORD start = GetTickCount();
    while (!done && GetTickCount() - start < 10000) Sleep(10);
    ASSERT_TRUE(done) << "stop, disposeBuffers or Release hung after removal";
    closer.join();
}

size_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
    return counters.PrivateUsage;
}

DWORD Handles() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

TEST_F(DriverCycles, ThousandBufferCyclesAndHundredObjectsLeaveHandlesAndMemoryFlat) {
    ASSERT_NE(nullptr, Ready(48000));
    auto cycle = [&] {
        ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {0, 1}, 480));
        ASSERT_EQ(ASE_OK, driver->disposeBuffers());
    };
    for (int i = 0; i < 20; ++i) cycle();  // warm-up: first-use allocations of the process
    DWORD handles = Handles();
    size_t bytes = PrivateBytes();
    for (int i = 0; i < 1000; ++i) {
        cycle();
        if (HasFatalFailure()) return;
    }
    EXPECT_LE(Handles(), handles + 4);
    EXPECT_LE(PrivateBytes(), bytes + 512 * 1024);
    driver->Release();
    driver = nullptr;

    auto object = [&] {
        IASIO* d = Create();
        ASSERT_NE(nullptr, d);
        ASSERT_EQ(ASIOTrue, d->init(nullptr));
        d->Release();
    };
    for (int i = 0; i < 5; ++i) object();
    handles = Handles();
    bytes = PrivateBytes();
    for (int i = 0; i < 100; ++i) {
        object();
        if (HasFatalFailure()) return;
    }
    EXPECT_LE(Handles(), handles + 4);
    EXPECT_LE(PrivateBytes(), bytes + 512 * 1024);
}

}  // namespace
}  // namespace asiotest
