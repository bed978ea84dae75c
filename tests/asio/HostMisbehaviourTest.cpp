// Hosts that do what the ASIO contract allows but polite hosts never do: a
// scripted host that calls back into the driver from its callbacks (stop,
// dispose, release, rate changes), sleeps in them, skips outputReady or
// changes the rate under prepared buffers.
#include "DriverHarness.h"

#include "asio/DropoutCounts.h"
#include "asio/ModuleState.h"
#include "simulator/TestPattern.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <vector>

namespace asiotest {
namespace {

// What the scripted host does at which switch (-1: never).
struct Script {
    IASIO* driver = nullptr;
    std::vector<ASIOBufferInfo>* infos = nullptr;
    int32_t size = 0;
    unsigned bytes = 2;
    uint64_t frame = 0;
    bool outputReady = true;     // calls outputReady in every switch
    int skipOutputReady = -1;    // ... except this one
    DWORD sleepMs = 0;           // work done in every switch
    int stopAt = -1, disposeAt = -1, releaseAt = -1;
    bool releaseOnReset = false; // disposes and releases inside kAsioResetRequest
    bool released = false;
    std::atomic<int> switches{0};
    std::atomic<int> afterRelease{0};  // callbacks that reached the host after it let go
    std::atomic<int> overloads{0};
    std::atomic<int> resets{0};
    std::atomic<double> changedTo{0};
    int indices[256] = {};
    uint64_t positions[256] = {};
    ASIOError stopResult = 1, disposeResult = 1, startInside = 1, createInside = 1;
};
Script* g_script = nullptr;

void FillPattern(Script& s, int32_t index) {
    for (const ASIOBufferInfo& info : *s.infos) {
        if (info.isInput || !info.buffers[index]) continue;
        auto* half = static_cast<uint8_t*>(info.buffers[index]);
        for (int32_t f = 0; f < s.size; ++f) {
            TestPattern::Store(half + f * s.bytes,
                               TestPattern::Sample(info.channelNum, s.frame + f, s.bytes * 8), s.bytes);
        }
    }
    s.frame += s.size;
}

void Release(Script& s) {
    s.released = true;
    IASIO* d = s.driver;
    s.driver = nullptr;
    d->Release();
}

void OnSwitch(int32_t index, const ASIOTime* time) {
    Script& s = *g_script;
    if (s.released) {
        ++s.afterRelease;
        return;
    }
    const int n = s.switches;
    if (n < 256) {
        s.indices[n] = index;
        if (time) s.positions[n] = (uint64_t(time->timeInfo.samplePosition.hi) << 32) | time->timeInfo.samplePosition.lo;
    }
    if (s.sleepMs) Sleep(s.sleepMs);
    FillPattern(s, index);
    if (s.outputReady && n != s.skipOutputReady) s.driver->outputReady();
    if (n == s.stopAt) {
        s.stopResult = s.driver->stop();
        s.startInside = s.driver->start();
    }
    if (n == s.disposeAt) {
        s.disposeResult = s.driver->disposeBuffers();
        ASIOCallbacks callbacks = HostCallbacks();
        s.createInside = s.driver->createBuffers(s.infos->data(), 1, s.size, &callbacks);
    }
    if (n == s.releaseAt) Release(s);
    s.switches = n + 1;
}

void Switch(int32_t index, ASIOBool) { OnSwitch(index, nullptr); }
ASIOTime* SwitchTimeInfo(ASIOTime* time, int32_t index, ASIOBool) {
    OnSwitch(index, time);
    return nullptr;
}
void RateChanged(ASIOSampleRate rate) {
    if (g_script->released) ++g_script->afterRelease;
    g_script->changedTo = rate;
}
int32_t Message(int32_t selector, int32_t value, void*, double*) {
    Script& s = *g_script;
    if (s.released) ++s.afterRelease;
    switch (selector) {
    case kAsioSelectorSupported: return value == kAsioResetRequest || value == kAsioOverload;
    case kAsioEngineVersion: return 2;
    case kAsioSupportsTimeInfo: return 1;
    case kAsioOverload: ++s.overloads; return 1;
    case kAsioResetRequest:
        ++s.resets;
        if (s.releaseOnReset && !s.released) {
            s.driver->disposeBuffers();
            Release(s);
        }
        return 1;
    default: return 0;
    }
}

class HostMisbehaviour : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        g_script = &script;
        script.infos = &infos;
        callbacks = {Switch, RateChanged, Message, SwitchTimeInfo};
    }
    void TearDown() override {
        if (script.released) driver = nullptr;  // the host let go inside a callback
        DriverTest::TearDown();
        g_script = nullptr;
    }
    // A driver at the rate, with stereo output buffers of `size`, ready to start.
    void Prepare(double rate, int32_t size, bool realTime) {
        device->config.burst = realTime ? 0 : 1;
        ASSERT_NE(nullptr, Ready(rate));
        script.driver = driver;
        script.size = size;
        script.bytes = static_cast<unsigned>(static_cast<CAsioSample*>(driver)->SampleWidth() / 8);
        ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, size));
    }
    static bool WaitUntil(const std::function<bool()>& done, DWORD ms = 5000) {
        const DWORD start = GetTickCount();
        while (!done()) {
            if (GetTickCount() - start > ms) return false;
            Sleep(2);
        }
        return true;
    }
    Script script;
};

TEST_F(HostMisbehaviour, StopDisposeAndReleaseInsideTheSwitchNeitherHangNorOutliveTheObject) {
    // stop() inside the switch: returns, no further switch, and the engine starts again.
    Prepare(48000, 480, false);
    script.stopAt = 3;
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitUntil([&] { return script.stopResult != 1; })) << "stop() inside the switch did not return";
    EXPECT_EQ(ASE_OK, script.stopResult);
    EXPECT_EQ(ASE_InvalidMode, script.startInside);  // the engine to acknowledge it is the caller
    Sleep(100);  // burst completions would have switched many times by now
    EXPECT_EQ(4, script.switches.load());
    script.stopAt = -1;
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitUntil([&] { return script.switches >= 10; })) << "no switch after a restart";
    ASSERT_EQ(ASE_OK, driver->stop());

    // disposeBuffers() inside: done once the switch returns; the host's next
    // createBuffers (from its own thread) waits for it and succeeds.
    script.switches = 0;
    script.disposeAt = 2;
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitUntil([&] { return script.createInside != 1; })) << "disposeBuffers() inside did not return";
    EXPECT_EQ(ASE_OK, script.disposeResult);
    EXPECT_EQ(ASE_InvalidMode, script.createInside);
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 480));
    EXPECT_EQ(3, script.switches.load());
    script.disposeAt = -1;
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitUntil([&] { return script.switches >= 8; })) << "no switch on the new buffers";

    // stop, dispose and the last Release inside one switch: destroyed when it returns.
    driver = nullptr;  // the script's now
    const int at = script.switches + 4;
    script.stopAt = script.disposeAt = script.releaseAt = at;
    ASSERT_TRUE(WaitUntil([&] { return LiveObjects() == 0; })) << "the object outlived its last release";
    EXPECT_TRUE(HeapValidate(DriverHeap(), 0, nullptr));
    EXPECT_EQ(0u, device->streams[0].open);
    Sleep(50);
    EXPECT_EQ(0, script.afterRelease.load());
}

// The freed object's block, handed out again at once and zero-filled: the
// driver writing into its freed self shows here as well as to a heap check.
void* g_canary = nullptr;
int32_t CanaryMessage(int32_t selector, int32_t value, void* message, double* opt) {
    const int32_t answer = Message(selector, value, message, opt);
    if (selector == kAsioResetRequest && g_script->released && !g_canary) g_canary = DriverAlloc(sizeof(CAsioSample));
    return answer;
}

TEST_F(HostMisbehaviour, AHostReleasingInsideTheRateChangesResetRequestLeavesFreedMemoryAlone) {
    callbacks.asioMessage = CanaryMessage;
    Prepare(48000, 480, false);
    script.releaseOnReset = true;
    driver = nullptr;  // the script's now
    g_canary = nullptr;
    EXPECT_EQ(ASE_OK, script.driver->setSampleRate(96000));
    EXPECT_TRUE(script.released);
    EXPECT_EQ(96000.0, script.changedTo.load());
    EXPECT_EQ(0, LiveObjects());
    ASSERT_NE(nullptr, g_canary);
    const auto* bytes = static_cast<const uint8_t*>(g_canary);
    size_t written = 0;
    for (size_t i = 0; i < sizeof(CAsioSample); ++i) written += bytes[i] != 0;
    EXPECT_EQ(0u, written) << "the driver wrote into its freed object";
    DriverFree(g_canary);
    g_canary = nullptr;
    EXPECT_TRUE(HeapValidate(DriverHeap(), 0, nullptr));
}

TEST_F(HostMisbehaviour, ARateChangeWhilePreparedNeverStreamsAtARateOtherThanTheOneReported) {
    Prepare(48000, 960, true);
    const sim::Stream& render = device->streams[0];
    ASSERT_EQ(ASE_OK, driver->setSampleRate(96000));
    EXPECT_EQ(1, script.resets.load());
    ASIOSampleRate reported = 0;
    ASSERT_EQ(ASE_OK, driver->getSampleRate(&reported));
    EXPECT_EQ(96000.0, reported);
    // Pins opened at 48000 would play a 96000 host at half speed.
    EXPECT_EQ(ASE_InvalidMode, driver->start());
    EXPECT_NE(uint32_t(KSSTATE_RUN), render.state);
    // The buffers in use still hold PCM at the width they were made for.
    ASSERT_EQ(ASE_OK, driver->setSampleRate(2822400));
    ASIOChannelInfo info = {};
    ASSERT_EQ(ASE_OK, driver->getChannelInfo(&info));
    EXPECT_EQ(script.bytes == 3 ? ASIOSTInt24LSB : script.bytes == 4 ? ASIOSTInt32LSB : ASIOSTInt16LSB, info.type);
    EXPECT_EQ(ASE_InvalidMode, driver->start());

    // New buffers at the rate: the device runs at it.
    ASSERT_EQ(ASE_OK, driver->setSampleRate(96000));
    ASSERT_EQ(ASE_OK, driver->disposeBuffers());
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 1920));
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitUntil([&] { return script.switches >= 3; }));
    EXPECT_EQ(96000u, render.rate);
    // Latency of the buffers in use, not of the preferred size.
    int32_t input = 0, output = 0;
    ASSERT_EQ(ASE_OK, driver->getLatencies(&input, &output));
    EXPECT_EQ(1920, input);
    EXPECT_EQ(1920, output);

    // A rate change while running stops the stream rather than run on at the old rate.
    ASSERT_EQ(ASE_OK, driver->setSampleRate(44100));
    EXPECT_NE(uint32_t(KSSTATE_RUN), render.state);
    EXPECT_EQ(ASE_InvalidMode, driver->start());
    ASSERT_EQ(ASE_OK, driver->disposeBuffers());

    // DSD64 to DSD128, and a DSD size between frames.
    ASSERT_EQ(ASE_OK, driver->setSampleRate(2822400));
    EXPECT_EQ(ASE_InvalidParameter, Buffers(driver, {0, 1}, {}, 28224 + 16));
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 28224));
    ASSERT_EQ(ASE_OK, driver->setSampleRate(5644800));
    EXPECT_EQ(ASE_InvalidMode, driver->start());
}

TEST_F(HostMisbehaviour, ALateHostIsToldOfEveryDryPeriodAndAHostWithoutOutputReadyIsHeard) {
    // 32 ms of work in every 20 ms period: the device runs dry each time.
    Prepare(48000, 960, true);
    const sim::Stream& render = device->streams[0];
    script.sleepMs = 32;
    ASSERT_EQ(ASE_SUCCESS, driver->future(kAsioCanReportOverload, nullptr));
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitUntil([&] { return script.switches >= 12; })) << "late host: fewer than 12 switches";
    ASSERT_EQ(ASE_OK, driver->stop());
    const int underruns = static_cast<int>(render.underruns);
    EXPECT_GE(underruns, 8);
    // The last dry spell may come after the last period step.
    EXPECT_GE(script.overloads.load(), underruns - 1);
    EXPECT_LE(script.overloads.load(), underruns);
    DropoutCounts counts = {};
    ASSERT_EQ(ASE_SUCCESS, driver->future(kVelmorGetDropoutCounts, &counts));
    EXPECT_EQ(uint32_t(script.overloads.load()), counts.hostLate + counts.driverLate + counts.deviceUnderrun);
    EXPECT_GE(counts.hostLate, counts.driverLate + counts.deviceUnderrun);
    EXPECT_EQ(0u, counts.packetFailed);
    ASSERT_EQ(ASE_OK, driver->disposeBuffers());

    // A host that fills its halves and never calls outputReady plays its audio.
    script.sleepMs = 0;
    script.outputReady = false;
    script.switches = 0;
    script.frame = 0;  // every take starts the pattern afresh
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 960));
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitUntil([&] { return script.switches >= 8; }));
    ASSERT_EQ(ASE_OK, driver->stop());
    ExpectHeardAsPlayed(render, 2, "a host without outputReady");

    // One that uses it but misses it once: that period is silence (one gap),
    // not the audio queued eight periods before (the pattern at other frames).
    script.outputReady = true;
    script.skipOutputReady = 12;
    script.switches = 0;
    script.frame = 0;
    const sim::ChannelCounters before = render.channel[0];
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitUntil([&] { return script.switches >= 20; }));
    ASSERT_EQ(ASE_OK, driver->stop());
    EXPECT_EQ(1u, render.channel[0].gaps - before.gaps);
    EXPECT_EQ(0u, render.channel[0].offsetFaults - before.offsetFaults);
    EXPECT_EQ(1u, render.channel[0].breaks - before.breaks);
}

// Burst completions with a host a little slow: ring positions 7 and 0 are
// both done when the driver looks, and 0 is reported first.
TEST_F(HostMisbehaviour, BurstCompletionsAreServedInRingOrder) {
    Prepare(48000, 480, false);
    script.sleepMs = 1;
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitUntil([&] { return script.switches >= 200; })) << "fewer than 200 switches";
    ASSERT_EQ(ASE_OK, driver->stop());
    int wrongOrder = 0;
    for (int n = 0; n < 200; ++n) {
        wrongOrder += script.indices[n] != n % 2;
        EXPECT_EQ(uint64_t(n) * 480, script.positions[n]) << n;
    }
    EXPECT_EQ(0, wrongOrder);
}

}  // namespace
}  // namespace asiotest
