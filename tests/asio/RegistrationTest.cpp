// The driver DLL as hosts meet it: registered with regsvr32, found under
// HKLM "Software\ASIO", created through COM by the reference host.
#include "simulator/SimDevice.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/SavedRegistration.h"
#include "tools/asiohost/SwitchTiming.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string ReadString(HKEY root, const std::string& path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
    char value[520] = "";
    DWORD type = 0, size = sizeof(value) - 1;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "<no value>";
    return type == REG_SZ ? std::string(value) : "<not a string>";
}

bool KeyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

const char kAsioKey[] = "Software\\ASIO\\VelmorR5R6";

class DriverRegistration : public ::testing::Test {
protected:
    void SetUp() override {
        saved.Save();
        dll = SiblingProgram("VelmorR5R6ASIO.dll");
        char name[64];
        snprintf(name, sizeof(name), "reg-%lu", GetCurrentProcessId());
        ASSERT_TRUE(sim::Attach(name));
        sim::ResetDevice();
        SetEnvironmentVariableA("VELMOR_SIM_INSTANCE", name);
    }
    void TearDown() override {
        // Only a registration of the test's own is removed; the prefix's comes back.
        saved.Restore([this] { Regsvr32("/u"); });
        SetEnvironmentVariableA("VELMOR_DEVICE", nullptr);
        SetEnvironmentVariableA("VELMOR_SIM_INSTANCE", nullptr);
    }
    ChildResult Regsvr32(const std::string& options) { return RunChild("regsvr32 /s " + options + " \"" + dll + "\""); }
    ChildResult Host(const std::string& arguments) {
        return RunChild("\"" + SiblingProgram("asiohost.exe") + "\" " + arguments);
    }

    std::string dll;
    RegistrySandbox settings;
    SavedRegistration saved;
};

TEST_F(DriverRegistration, EachRegistrationMakesAClassAndTheAsioKeyNamesTheNewest) {
    ASSERT_EQ(0u, Regsvr32("").exitCode);
    std::string first = ReadString(HKEY_LOCAL_MACHINE, kAsioKey, "CLSID");
    ASSERT_EQ(38u, first.size()) << first;
    EXPECT_EQ('{', first.front());
    EXPECT_EQ(dll, ReadString(HKEY_LOCAL_MACHINE, kAsioKey, "Driver"));
    std::string classKey = "CLSID\\" + first;
    EXPECT_EQ(dll, ReadString(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", nullptr));
    EXPECT_EQ("Apartment", ReadString(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", "ThreadingModel"));
    EXPECT_EQ("VelmorR5R6", ReadString(HKEY_CLASSES_ROOT, classKey, "FriendlyName"));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAsioKey, 0, KEY_READ, &key));
    wchar_t wide[64] = {};
    DWORD type = 0, size = sizeof(wide);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"CLSID", nullptr, &type, reinterpret_cast<BYTE*>(wide), &size));
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(39u * sizeof(wchar_t), size);  // a wide string with its terminator
    RegCloseKey(key);

    ASSERT_EQ(0u, Regsvr32("").exitCode);
    std::string second = ReadString(HKEY_LOCAL_MACHINE, kAsioKey, "CLSID");
    EXPECT_NE(first, second);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, classKey));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + second));

    PutSettingDword("SampleRate", 48000);
    ASSERT_EQ(0u, Regsvr32("/u").exitCode);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + second));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, classKey));  // the older registration's class stays
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAsioKey));
    EXPECT_FALSE(SettingExists("SampleRate"));
    RegDeleteKeyA(HKEY_CLASSES_ROOT, (classKey + "\\InprocServer32").c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, classKey.c_str());
}

TEST_F(DriverRegistration, TheReferenceHostListsCreatesAndProbesTheDriver) {
    ASSERT_EQ(0u, Regsvr32("").exitCode);
    ChildResult list = Host("list");
    EXPECT_NE(std::string::npos, list.output.find("VelmorR5R6 {")) << list.output;

    // Without the device the host is told creation failed; nothing crashes.
    ChildResult none = Host("probe VelmorR5R6");
    EXPECT_EQ(1u, none.exitCode) << none.output;
    EXPECT_NE(std::string::npos, none.output.find("could not be created (0x80004005)")) << none.output;

    SetEnvironmentVariableA("VELMOR_DEVICE", "simulated");
    ChildResult probe = Host("probe VelmorR5R6 --json");
    ASSERT_EQ(0u, probe.exitCode) << probe.output;
    for (const char* expected : {"\"name\":\"VelmorR5R6\"", "\"version\":2", "\"inputs\":2", "\"outputs\":2",
                                 "\"name\":\"VelmorR5R6_OUT_L\"", "\"kAsioCanTimeInfo\":\"ASE_SUCCESS\""}) {
        EXPECT_NE(std::string::npos, probe.output.find(expected)) << expected << "\n" << probe.output;
    }

    // A DAW's duplex stream: steady switches, and the recorded pattern intact from the third switch on.
    ChildResult duplex = Host("duplex VelmorR5R6 --rate 48000 --buffer 960 --seconds 1");
    EXPECT_NE(std::string::npos, duplex.output.find("2 of 2 channels locked, 0 breaks")) << duplex.output;
    EXPECT_NE(std::string::npos, duplex.output.find("position jumps 0")) << duplex.output;
    const sim::Stream& render = sim::State()->streams[0];
    EXPECT_EQ(0u, render.channel[0].breaks + render.channel[1].breaks);
    EXPECT_EQ(1u, render.channel[0].locked);

    // Values a run cannot use are refused; switches far ahead of the device's clock are a glitch.
    for (const char* bad : {"--rate 0", "--rate -48000", "--rate fast", "--buffer 0", "--buffer 1.5"}) {
        EXPECT_EQ(2u, Host(std::string("play VelmorR5R6 ") + bad).exitCode) << bad;
    }
    sim::State()->config.burst = 1;
    ChildResult burst = Host("play VelmorR5R6 --rate 48000 --buffer 480 --seconds 0.5");
    EXPECT_EQ(1u, burst.exitCode) << burst.output;
    EXPECT_EQ(std::string::npos, burst.output.find("early periods 0,")) << burst.output;
    // A device that finishes every packet at once is dry every period, and the driver says why.
    EXPECT_EQ(std::string::npos, burst.output.find("overloads reported 0\n")) << burst.output;
    EXPECT_NE(std::string::npos, burst.output.find("dropouts by cause: host late 0, driver late 0, device underrun "))
        << burst.output;
    sim::State()->config.burst = 0;

    sim::State()->config.model = sim::kModelR5;
    probe = Host("probe VelmorR5R6 --json");
    EXPECT_NE(std::string::npos, probe.output.find("\"inputs\":0")) << probe.output;
    ChildResult missing = Host("probe NoSuchDriver");
    EXPECT_EQ(1u, missing.exitCode);
    EXPECT_NE(std::string::npos, missing.output.find("no ASIO driver named")) << missing.output;
}

TEST(HostSwitchTiming, OneLateSwitchIsOneLateSwitch) {
    // 2 ms periods of 96 samples; the first switch 1.5 ms late, one in the middle 3 ms late, then
    // catching up, and the stream 30 ms later from the last quarter on (a dropout restarts it).
    double times[200];
    uint64_t positions[200];
    for (uint32_t i = 0; i < 200; ++i) {
        times[i] = 10.0 + 2.0 * i + (i == 0 ? 1.5 : i == 100 ? 3.0 : i == 101 ? 1.0 : 0.0) + (i >= 150 ? 30.0 : 0.0);
        positions[i] = 96ull * i;
    }
    EXPECT_EQ(0u, EarlySwitches(times, positions, 200, 96, 2.0));
    for (uint32_t i = 0; i < 200; ++i) times[i] = 10.0 + 0.2 * i;  // as fast as packets are queued
    EXPECT_GT(EarlySwitches(times, positions, 200, 96, 2.0), 50u);
}

}  // namespace
