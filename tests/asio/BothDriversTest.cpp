// The 32-bit and the 64-bit driver on one machine: each registered in its own
// registry view under the same name, and a 32-bit and a 64-bit host sharing
// the one device (the first owns it, the second is refused cleanly).
#include "DriverHarness.h"
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

std::string ReadView(REGSAM view, const char* name) {
    const std::string path = std::string(kAsioKeyPath) + "\\" + kDriverKeyName;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return "<no key>";
    char value[520] = "";
    DWORD size = sizeof(value) - 1;
    LONG status = RegGetValueA(key, nullptr, name, RRF_RT_REG_SZ, nullptr, value, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(value) : "<no value>";
}

class BothDrivers : public ::testing::Test {
protected:
    void SetUp() override {
        dll64 = SiblingProgram("VelmorR5R6ASIO.dll");
        dll32 = OtherArchProgram("VelmorR5R6ASIO.dll");
        host32 = OtherArchProgram("asiohost.exe");
        if (dll32.empty() || host32.empty()) GTEST_SKIP() << "build/win32 holds no driver or asiohost";
        char folder[MAX_PATH] = "";
        ASSERT_NE(0u, GetSystemWow64DirectoryA(folder, sizeof(folder)));
        regsvr32 = std::string("\"") + folder + "\\regsvr32.exe\" /s ";
        saved64.Save();
        saved32.Save();
        char name[64];
        snprintf(name, sizeof(name), "both-%lu", GetCurrentProcessId());
        ASSERT_TRUE(sim::Attach(name));
        sim::ResetDevice();
        SetEnvironmentVariableA("VELMOR_SIM_INSTANCE", name);
        SetEnvironmentVariableA("VELMOR_DEVICE", "simulated");
        armed = true;
    }
    void TearDown() override {
        if (!armed) return;
        saved64.Restore([this] { RunChild("regsvr32 /s /u \"" + dll64 + "\""); });
        saved32.Restore([this] { RunChild(regsvr32 + "/u \"" + dll32 + "\""); });
        SetEnvironmentVariableA("VELMOR_DEVICE", nullptr);
        SetEnvironmentVariableA("VELMOR_SIM_INSTANCE", nullptr);
    }

    std::string dll64, dll32, host32, regsvr32;
    RegistrySandbox settings;
    SavedRegistration saved64{KEY_WOW64_64KEY}, saved32{KEY_WOW64_32KEY};
    bool armed = false;
};

TEST_F(BothDrivers, A32BitHostPlaysThroughItsDriverAndA64BitHostIsRefused) {
    ASSERT_EQ(0u, RunChild(regsvr32 + "\"" + dll32 + "\"").exitCode);
    ASSERT_EQ(0u, RunChild("regsvr32 /s \"" + dll64 + "\"").exitCode);
    EXPECT_EQ(dll32, ReadView(KEY_WOW64_32KEY, "Driver"));
    EXPECT_EQ(dll64, ReadView(KEY_WOW64_64KEY, "Driver"));

    const char play[] = " play VelmorR5R6 --rate 48000 --buffer 960 --seconds ";
    ChildResult first;
    std::thread owner([&] { first = RunChild("\"" + host32 + "\"" + play + "3", 180000); });
    const sim::Stream& render = sim::State()->streams[0];
    // A 32-bit process may take long to start where 32-bit Wine is emulated.
    for (int wait = 0; wait < 1500 && render.channel[0].frames == 0; ++wait) Sleep(100);
    const bool streaming = render.channel[0].frames > 0;
    ChildResult second;
    if (streaming) second = RunChild("\"" + SiblingProgram("asiohost.exe") + "\"" + play + "0.5");
    owner.join();
    ASSERT_TRUE(streaming) << first.output;

    // A busy machine may hold the host past a period (missed periods, which
    // the driver reports as overloads); what it played must still arrive whole.
    EXPECT_TRUE(first.exitCode == 0 || first.exitCode == 1) << first.output;
    EXPECT_NE(std::string::npos, first.output.find("position jumps 0")) << first.output;
    EXPECT_NE(std::string::npos, first.output.find("reset requests 0, resync requests 0, rate changes 0")) << first.output;
    EXPECT_EQ(1u, second.exitCode) << second.output;
    EXPECT_NE(std::string::npos, second.output.find("createBuffers failed (-1000)")) << second.output;
    asiotest::ExpectHeardAsPlayed(render, 2, "the 32-bit host's stream");
}

}  // namespace
