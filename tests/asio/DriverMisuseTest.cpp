// The driver object under misuse and faults, the way third-party hosts meet
// it: requests it cannot serve, several objects at once, stored values out
// of range, restarts, hosts without time info, and memory running out.
#include "DriverHarness.h"

#include "FailingNew.h"

#include "asio/BlockOwnership.h"
#include "asio/ClassFactory.h"
#include "asio/ModuleState.h"
#include "device/AsioSettingsKey.h"
#include "device/StatusBlock.h"

#include <atomic>
#include <thread>

namespace asiotest {
namespace {

using DriverRequests = DriverTest;
using DriverOwnership = DriverTest;
using DriverRestart = DriverTest;

bool WaitSwitches(int atLeast, DWORD ms = 5000) {
    DWORD start = GetTickCount();
    while (g_host.switches < atLeast) {
        if (GetTickCount() - start > ms) return false;
        Sleep(2);
    }
    return true;
}

TEST_F(DriverRequests, WhatCannotBeServedIsRefusedAndLeavesNothingBehind) {
    ASSERT_NE(nullptr, Ready(48000));
    const sim::Stream& render = device->streams[0];
    // Sizes outside 2 ms .. 600 ms, one below, one above and one that would overflow.
    for (int32_t size : {95, 28801, 99999999, 0x7FFFFFFF}) {
        EXPECT_EQ(ASE_InvalidParameter, Buffers(driver, {0, 1}, {0, 1}, size)) << size;
        EXPECT_EQ(nullptr, infos[0].buffers[0]) << size;
    }
    EXPECT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 96));  // the minimum itself
    ASSERT_EQ(ASE_OK, driver->disposeBuffers());

    // Pins the device will not open (another process streams, or no channel count fits).
    device->config.refuseChannelMask = 0xFFFFFFFFu;
    EXPECT_EQ(ASE_NotPresent, Buffers(driver, {0, 1}, {0, 1}, 480));
    EXPECT_EQ(nullptr, infos[0].buffers[0]);
    EXPECT_EQ(0u, render.open);
    EXPECT_EQ(ASE_OK, driver->start());  // nothing to start: no wait on an engine that is not there
    device->config.refuseChannelMask = 0;
    EXPECT_EQ(ASE_OK, Buffers(driver, {0, 1}, {0, 1}, 480));  // still initialized, so it can try again
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitSwitches(3));
    driver->Release();  // while running: stops, disposes, ends its threads
    driver = nullptr;
    EXPECT_EQ(0u, render.open);
    EXPECT_EQ(0, LiveObjects());

    // Inputs of a render-only device.
    device->config.model = sim::kModelR5;
    ASSERT_NE(nullptr, Ready(48000));
    EXPECT_EQ(ASE_InvalidParameter, Buffers(driver, {0}, {0}, 480));
    EXPECT_EQ(nullptr, infos[0].buffers[0]);
    EXPECT_EQ(ASE_OK, Buffers(driver, {0}, {}, 480));
}

TEST_F(DriverRequests, AStartAfterARateOfAnotherFormatWaitsForNewBuffers) {
    PutSettingDword(kValueBitsPerSample, 16);
    ASSERT_NE(nullptr, Ready(48000));
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {0, 1}, 480));
    // Accepted with a reset request the host has not acted on yet: its buffers hold 16-bit samples.
    ASSERT_EQ(ASE_OK, driver->setSampleRate(2822400));
    EXPECT_EQ(ASE_InvalidMode, driver->start());
    EXPECT_TRUE(HeapValidate(DriverHeap(), 0, nullptr));
    ASSERT_EQ(ASE_OK, driver->disposeBuffers());  // the host's answer: new buffers, which carry DSD
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {0, 1}, 28224));
    ASSERT_EQ(ASE_OK, driver->start());
    EXPECT_TRUE(WaitSwitches(3));
}

TEST_F(DriverRequests, AggregationOtherThanThroughIUnknownIsRefused) {
    driver = Create();  // keeps the block and the device as a host would
    ASSERT_NE(nullptr, driver);
    const long before = LiveObjects();
    IUnknown* outer = driver;  // any outer unknown
    void* object = reinterpret_cast<void*>(1);
    auto* factory = new CAsioClsFactory(kTestClsid);
    factory->NonDelegatingAddRef();
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer, kTestClsid, &object));
    EXPECT_EQ(nullptr, object);
    factory->NonDelegatingRelease();
    EXPECT_EQ(before, LiveObjects());
}

TEST_F(DriverRequests, RunningOutOfMemoryAnywhereGivesAResultNotAnException) {
    // The n-th allocation of the host's thread fails, for every n until the whole sequence succeeds.
    bool completed = false;
    infos.reserve(8);  // the harness itself allocates nothing while allocations fail
    long n = 0;
    for (; n < 1000000 && !completed; n += 1 + n / 8) {
        FailNthAllocation(n);
        IASIO* d = Create();
        bool ready = d && d->init(nullptr) == ASIOTrue && d->setSampleRate(48000) == ASE_OK;
        ASIOError buffers = ready ? Buffers(d, {0, 1}, {0, 1}, 480) : ASE_NotPresent;
        completed = !AllocationFailed() && buffers == ASE_OK;
        FailNthAllocation(-1);
        if (d) d->Release();
        EXPECT_EQ(0, LiveObjects()) << n;
    }
    EXPECT_TRUE(completed) << n;
}

TEST_F(DriverOwnership, EachObjectIsItsOwnIdentityAndOnlyOneWinsTheBlock) {
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    PutSettingDword(kValueBitsPerSample, 32);
    ASSERT_NE(nullptr, Ready(48000));
    auto* first = static_cast<CAsioSample*>(driver);
    EXPECT_FALSE(IsEqualGUID(kTestClsid, first->OwnerIdentity()));
    EXPECT_TRUE(block.IsOwnedBy(first->OwnerIdentity()));

    // A second object of the same class: no owner, and its life leaves the first's state alone.
    IASIO* second = Create();
    ASSERT_NE(nullptr, second);
    EXPECT_FALSE(block.IsOwnedBy(static_cast<CAsioSample*>(second)->OwnerIdentity()));
    EXPECT_EQ(uint32_t(kDriverInitialized), block.ReadOr(&StatusBlockLayout::driverState, 9));
    ASSERT_EQ(ASIOTrue, second->init(nullptr));
    EXPECT_EQ(ASE_NoClock, second->canSampleRate(2822400));  // DSD is the owner's
    // The panel shows the owner's stream rate, not that of a host the device refuses.
    EXPECT_EQ(48000u, block.ReadOr(&StatusBlockLayout::streamRate, 0));
    ASSERT_EQ(ASE_OK, second->setSampleRate(44100));
    EXPECT_EQ(48000u, block.ReadOr(&StatusBlockLayout::streamRate, 0));
    second->Release();
    EXPECT_TRUE(block.IsOwnedBy(first->OwnerIdentity()));
    EXPECT_EQ(uint32_t(kDriverInitialized), block.ReadOr(&StatusBlockLayout::driverState, 9));
    EXPECT_EQ(ASE_OK, driver->canSampleRate(2822400));

    // A claim waits for the claim lock whoever holds it (another process, say):
    // none can slip between another's check and store.
    CStatusBlock free;
    ASSERT_EQ(S_OK, free.Open("VelmorR5R6_claim_test"));
    const GUID identity = NewOwnerIdentity(kTestClsid);
    HANDLE lock = CreateMutexA(nullptr, FALSE, kClaimMutexName);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(lock, 1000));
    std::atomic<bool> done{false};
    std::thread other([&] { done = ClaimBlock(free, identity); });
    Sleep(100);
    EXPECT_FALSE(done.load()) << "a claim went ahead while the lock was held";
    ReleaseMutex(lock);
    other.join();
    EXPECT_TRUE(done.load() && free.IsOwnedBy(identity));
    CloseHandle(lock);
}

TEST_F(DriverOwnership, AHostRefusedWhileTheOwnerStreamsDsdSendsTheDeviceNothing) {
    PutSettingDword(kValueBitsPerSample, 32);
    ASSERT_NE(nullptr, Ready(2822400));
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 28224));
    ASSERT_EQ(64u, Settled()->dsdMode);
    const uint32_t reports = device->reportCount;
    IASIO* second = Create();  // a second host asks for PCM buffers while the device is busy
    ASSERT_NE(nullptr, second);
    ASSERT_EQ(ASIOTrue, second->init(nullptr));
    ASSERT_EQ(ASE_OK, second->setSampleRate(48000));
    ASIOBufferInfo outputs[2] = {{ASIOFalse, 0, {nullptr, nullptr}}, {ASIOFalse, 1, {nullptr, nullptr}}};
    EXPECT_EQ(ASE_NotPresent, second->createBuffers(outputs, 2, 480, &callbacks));
    second->Release();
    EXPECT_EQ(reports, device->reportCount);
    EXPECT_EQ(64u, Settled()->dsdMode);
}

TEST_F(DriverOwnership, StoredValuesOutOfRangeStayOutOfTheAnswersAndTheRegistry) {
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    PutSettingDword(kValueBufferSize, 0xFFFFFFFFu);
    ASSERT_NE(nullptr, Ready(48000));
    int32_t minimum = 0, maximum = 0, preferred = 0, granularity = 0, input = 0, output = 0;
    ASSERT_EQ(ASE_OK, driver->getBufferSize(&minimum, &maximum, &preferred, &granularity));
    EXPECT_EQ(maximum, preferred);
    ASSERT_EQ(ASE_OK, driver->getLatencies(&input, &output));
    EXPECT_EQ(maximum, input);
    driver->Release();
    driver = nullptr;

    // Values that reach the block later (another program, a stale panel) are not stored either.
    PutSettingDword(kValueBufferSize, 100);
    PutSettingDword(kValueBitsPerSample, 24);
    block.Write(&StatusBlockLayout::bufferSize, 1);
    block.Write(&StatusBlockLayout::bitsPerSample, 20);
    ASSERT_NE(nullptr, Ready(48000));
    ASSERT_EQ(ASE_OK, driver->getBufferSize(&minimum, &maximum, &preferred, &granularity));
    EXPECT_EQ(96, minimum);
    EXPECT_EQ(minimum, preferred);
    driver->Release();
    driver = nullptr;
    uint32_t stored = 0;
    ASSERT_TRUE(GetSettingDword(kValueBufferSize, &stored));
    EXPECT_EQ(100u, stored);
    ASSERT_TRUE(GetSettingDword(kValueBitsPerSample, &stored));
    EXPECT_EQ(24u, stored);
}

TEST_F(DriverOwnership, PcmAfterDsdRunsAtTheConfiguredWidth) {
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    PutSettingDword(kValueBitsPerSample, 24);
    ASSERT_NE(nullptr, Ready(2822400));
    ASIOChannelInfo info = {};
    ASSERT_EQ(ASE_OK, driver->getChannelInfo(&info));
    EXPECT_EQ(ASIOSTDSDInt8MSB1, info.type);
    ASSERT_EQ(ASE_OK, driver->setSampleRate(48000));
    ASSERT_EQ(ASE_OK, driver->getChannelInfo(&info));
    EXPECT_EQ(ASIOSTInt24LSB, info.type);
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 480));
    EXPECT_EQ(24u, device->streams[0].bits);
    EXPECT_EQ(24u, block.ReadOr(&StatusBlockLayout::streamWidth, 0));
}

TEST_F(DriverRestart, ANewTakeStartsCleanAndDropoutsAreReportedAsOverloads) {
    device->config.burst = 0;
    ASSERT_NE(nullptr, Ready(48000));
    g_host.bits = static_cast<uint32_t>(static_cast<CAsioSample*>(driver)->SampleWidth());
    g_host.writePattern = true;
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {0, 1}, 960));  // 20 ms periods
    const sim::Stream& render = device->streams[0];
    for (int take = 0; take < 3; ++take) {
        g_host.switches = 0;
        g_host.frame = 0;  // each take plays the pattern from its first frame
        g_host.checkInputs = true;
        DWORD started = GetTickCount();
        ASSERT_EQ(ASE_OK, driver->start());
        ASSERT_TRUE(WaitSwitches(1));
        // A switch before the first packet played can only be a completion of the last take.
        EXPECT_GE(GetTickCount() - started, 12u) << take;
        ASSERT_TRUE(WaitSwitches(6));
        if (take == 0) {
            g_host.frame += 12345;  // one jump in what the host plays: the device counts a break
            ASSERT_TRUE(WaitSwitches(10));
        }
        ASSERT_EQ(ASE_OK, driver->stop());
        EXPECT_EQ(0, g_host.staleInputs.load()) << take;
        // Like the frames, the breaks count over the pin's life, across stops.
        EXPECT_EQ(1u, render.channel[0].breaks) << take;
    }

    // The host holds one switch for four periods: told as an overload, never
    // asked to resync (which restarts a host's engine) or to reset.
    EXPECT_EQ(ASE_SUCCESS, driver->future(kAsioCanReportOverload, nullptr));
    g_host.switches = 0;
    g_host.stallAtSwitch = 4;
    g_host.stallMs = 80;
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitSwitches(12));
    ASSERT_EQ(ASE_OK, driver->stop());
    EXPECT_GE(g_host.overloads.load(), 1);
    EXPECT_EQ(0, g_host.resyncRequests.load());
    EXPECT_EQ(0, g_host.resetRequests.load());
}

TEST_F(DriverRestart, TheHostsCallbacksEndWithItsBuffersAndRefusedRequestsAreNotWaitedFor) {
    device->config.burst = 0;
    ASSERT_NE(nullptr, Ready(44100));
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {0, 1}, 882));  // 20 ms periods
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitSwitches(3));
    device->config.failStreams = 1;  // requests fail at once, their OVERLAPPED left marked pending
    Sleep(100);
    ASSERT_EQ(ASE_OK, driver->stop());
    DWORD started = GetTickCount();
    ASSERT_EQ(ASE_OK, driver->disposeBuffers());
    EXPECT_LT(GetTickCount() - started, 500u);
    device->config.failStreams = 0;

    // A rate set between buffers reaches no callback (the host may have deleted
    // what they reach) and needs no reset: the next buffers open the pins at it.
    g_host.resetRequests = g_host.rateChanges = 0;
    ASSERT_EQ(ASE_OK, driver->setSampleRate(96000));
    EXPECT_EQ(0, g_host.resetRequests.load() + g_host.rateChanges.load());
    g_host.switches = g_host.timeInfoSwitches = 0;
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {0, 1}, 960));
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitSwitches(3));
    EXPECT_EQ(96000u, device->streams[0].rate);
    EXPECT_EQ(0u, g_host.firstTimeFlags.load() & kSampleRateChanged);
}

TEST_F(DriverRestart, HostCapabilitiesAreAskedByTheirOwnSelectorsAndRateChangesReachTheHost) {
    // Says "selector supported" for time info but answers the question itself with 0, and has no time-info callback.
    g_host.timeInfo = false;
    callbacks.bufferSwitchTimeInfo = nullptr;
    ASSERT_NE(nullptr, Ready(48000));
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 480));
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitSwitches(5));
    driver->disposeBuffers();

    // The other way round: the selector question says no, the question itself says yes.
    g_host.timeInfo = true;
    g_host.selectorTimeInfo = false;
    callbacks = HostCallbacks();
    g_host.switches = 0;
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 480));
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitSwitches(5));
    EXPECT_GE(g_host.timeInfoSwitches.load(), 5);
    driver->disposeBuffers();

    // An old engine (version 1) gets plain switches even though it has time info.
    g_host.engineVersion = 1;
    g_host.switches = g_host.timeInfoSwitches = 0;
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 480));
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitSwitches(5));
    EXPECT_EQ(0, g_host.timeInfoSwitches.load());
    driver->disposeBuffers();

    // A rate change while prepared: the host is told and asked to reset, and
    // the buffers made at 48000 do not start at 96000. Set back before the host
    // reset, the first time info of the stream says the rate changed, once.
    g_host.engineVersion = 2;
    g_host.switches = g_host.timeInfoSwitches = g_host.rateChangedSwitches = 0;
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 480));
    ASSERT_EQ(ASE_OK, driver->setSampleRate(96000));
    EXPECT_EQ(1, g_host.rateChanges.load());
    EXPECT_EQ(1, g_host.resetRequests.load());
    EXPECT_EQ(ASE_InvalidMode, driver->start());
    ASSERT_EQ(ASE_OK, driver->setSampleRate(48000));
    EXPECT_EQ(2, g_host.rateChanges.load());
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitSwitches(5));
    EXPECT_EQ(0x17u, g_host.firstTimeFlags.load());
    EXPECT_EQ(1, g_host.rateChangedSwitches.load());
    driver->disposeBuffers();
}

}  // namespace
}  // namespace asiotest
