// asiohost selftest against the build's driver on a virtual device of the
// test's own: all OK when the device hears every format as played, NOT OK
// with the reason under each of the device's faults.
#include "device/AsioSettingsKey.h"
#include "simulator/SimDevice.h"
#include "simulator/SimState.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/SavedRegistration.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class Selftest : public ::testing::Test {
protected:
    void SetUp() override {
        dll = SiblingProgram("VelmorR5R6ASIO.dll");
        host = "\"" + SiblingProgram("asiohost.exe") + "\"";
        saved.Save();
        ASSERT_EQ(0u, RunChild("regsvr32 /s \"" + dll + "\"").exitCode);
        armed = true;
        SetEnvironmentVariableA("VELMOR_DEVICE", "simulated");
    }
    void TearDown() override {
        if (armed) saved.Restore([this] { RunChild("regsvr32 /s /u \"" + dll + "\""); });
        SetEnvironmentVariableA("VELMOR_DEVICE", nullptr);
        SetEnvironmentVariableA("VELMOR_SIM_INSTANCE", nullptr);
    }
    // A fresh device of its own for each case, so the prefix's default one is untouched.
    sim::SharedState* FreshDevice(const char* what) {
        char name[64];
        snprintf(name, sizeof(name), "selftest-%lu-%s", GetCurrentProcessId(), what);
        if (!sim::Attach(name)) return nullptr;
        sim::ResetDevice();
        SetEnvironmentVariableA("VELMOR_SIM_INSTANCE", name);
        return sim::State();
    }
    ChildResult Run() { return RunChild(host + " selftest VelmorR5R6 --seconds 0.5", 240000); }

    std::string dll, host;
    RegistrySandbox settings;
    SavedRegistration saved;
    bool armed = false;
};

TEST_F(Selftest, EveryFormatIsOkOnTheVirtualDeviceAndTheUsersSettingsStay) {
    ASSERT_NE(nullptr, FreshDevice("clean"));
    PutSettingDword(kValueBitsPerSample, 24);
    PutSettingDword(kValueBufferSize, 100);  // 10 ms: the self-test plays 40 ms
    PutSettingDword(kValueSampleRate, 44100);
    ChildResult result = Run();
    EXPECT_EQ(0u, result.exitCode) << result.output;
    EXPECT_NE(std::string::npos, result.output.find("in use: no other program holds the device")) << result.output;
    // Nine rates at 24 bits, 16 and 32 bits at 48 kHz, three DSD rates, duplex.
    EXPECT_EQ(15u, Count(result.output, " OK\n") + Count(result.output, " OK (second try")) << result.output;
    EXPECT_NE(std::string::npos, result.output.find("PCM 48000 Hz 24-bit    1920 samples 40.0 ms")) << result.output;
    EXPECT_NE(std::string::npos, result.output.find("verdict: OK, all 15 formats")) << result.output;
    uint32_t bits = 0, rate = 0;
    EXPECT_TRUE(GetSettingDword(kValueBitsPerSample, &bits) && bits == 24) << bits;
    EXPECT_TRUE(GetSettingDword(kValueSampleRate, &rate) && rate == 44100) << rate;
}

TEST_F(Selftest, EachDeviceFaultIsNotOkWithItsReason) {
    ASSERT_NE(nullptr, FreshDevice("unplugged"));
    sim::Unplug();
    ChildResult absent = Run();
    EXPECT_EQ(1u, absent.exitCode) << absent.output;
    EXPECT_NE(std::string::npos, absent.output.find("device: not present")) << absent.output;
    EXPECT_NE(std::string::npos, absent.output.find("verdict: NOT OK, nothing played")) << absent.output;

    sim::SharedState* device = FreshDevice("stall");
    ASSERT_NE(nullptr, device);
    device->config.stallCompletions = 1;
    ChildResult stalled = Run();
    EXPECT_EQ(1u, stalled.exitCode) << stalled.output;
    EXPECT_EQ(15u, Count(stalled.output, "NOT OK: no callbacks; ")) << stalled.output;
    EXPECT_EQ(15u, Count(stalled.output, "device heard: channels 0, 1 not locked\n")) << stalled.output;
    EXPECT_NE(std::string::npos, stalled.output.find("verdict: NOT OK, 15 of 15")) << stalled.output;

    device = FreshDevice("refuse");
    ASSERT_NE(nullptr, device);
    device->config.refuseChannelMask = 1u << 2;
    ChildResult refused = Run();
    EXPECT_EQ(1u, refused.exitCode) << refused.output;
    // Duplex opens the capture pin first: the render pin's refusal is the same.
    EXPECT_EQ(15u, Count(refused.output, "NOT OK: refused: createBuffers ASE_NotPresent (the device would not open the stream)"))
        << refused.output;

    // Another process streams: every row is refused and the holder named.
    device = FreshDevice("busy");
    ASSERT_NE(nullptr, device);
    const sim::Stream& render = device->streams[0];
    ChildResult owner;
    std::thread player([&] { owner = RunChild(host + " play VelmorR5R6 --buffer 960 --seconds 20", 120000); });
    for (int wait = 0; wait < 600 && render.channel[0].frames == 0; ++wait) Sleep(100);
    const bool streaming = render.channel[0].frames > 0;
    ChildResult busy;
    if (streaming) busy = Run();
    const bool stillStreaming = render.open && sim::ProcessAlive(render.ownerPid);
    player.join();
    ASSERT_TRUE(streaming) << "the owner never streamed: " << owner.output;
    ASSERT_TRUE(stillStreaming) << "the owner ended before the self-test did: " << owner.output;
    EXPECT_EQ(1u, busy.exitCode) << busy.output;
    EXPECT_NE(std::string::npos, busy.output.find("in use: another program holds the device (asiohost.exe, process "))
        << busy.output;
    EXPECT_LE(9u, Count(busy.output, " NOT OK: refused: createBuffers ASE_NotPresent (device busy: another program holds it)\n"))
        << busy.output;
    EXPECT_EQ(Count(busy.output, " NOT OK:"), Count(busy.output, "(device busy")) << busy.output;
    EXPECT_NE(std::string::npos, busy.output.find("verdict: NOT OK")) << busy.output;
}

}  // namespace
