// The support log: what it writes, and how it keeps out of the driver's way
// when it is full, unwritable, gone or large.
#include "DriverHarness.h"
#include "asio/DriverLog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cinttypes>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class DriverLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[MAX_PATH];
        GetTempPathA(sizeof(folder), folder);
        path = std::string(folder) + "VelmorR5R6-logtest-" + std::to_string(GetCurrentProcessId()) + ".log";
        DeleteFileA(path.c_str());
        DeleteFileA((path + ".1").c_str());
    }
    void TearDown() override {
        driverlog::End();
        DeleteFileA(path.c_str());
        DeleteFileA((path + ".1").c_str());
    }
    void Create(const std::string& contents = "") {
        std::ofstream(path, std::ios::binary) << contents;
    }
    std::string Read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string path;
};

TEST_F(DriverLogTest, OffWithoutTheFileThenLinesWithTimeProcessAndThread) {
    driverlog::Begin(path.c_str());
    EXPECT_FALSE(driverlog::On());  // no file, no log
    driverlog::Line("never written");
    driverlog::End();

    Create();
    driverlog::Begin(path.c_str());
    driverlog::Begin(path.c_str());  // a second driver object of the process shares it
    ASSERT_TRUE(driverlog::On());
    driverlog::Line("createBuffers(%d channels, %d samples) = %d", 2, 960, 0);
    driverlog::Event("dropout: host late, callback %" PRId64 " us of a %" PRId64 " us period", 16000, 10000);
    driverlog::End();
    EXPECT_TRUE(driverlog::On());
    ASSERT_TRUE(driverlog::Flush());
    const std::string text = Read(path);
    const std::string id = "[" + std::to_string(GetCurrentProcessId()) + ":" + std::to_string(GetCurrentThreadId()) + "] ";
    EXPECT_NE(std::string::npos, text.find(id + "createBuffers(2 channels, 960 samples) = 0\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find(id + "dropout: host late, callback 16000 us of a 10000 us period\r\n"))
        << text;
    EXPECT_EQ(std::string::npos, text.find("never written"));
    // yyyy-mm-dd hh:mm:ss.mmm before the ids.
    ASSERT_GT(text.size(), 24u);
    EXPECT_EQ('-', text[4]);
    EXPECT_EQ('.', text[19]);
}

TEST_F(DriverLogTest, AFullRingLosesRecordsAndSaysHowMany) {
    Create();
    driverlog::Begin(path.c_str());
    const uint64_t before = driverlog::Lost();
    // Far faster than the writer's pass: most of these find the ring full.
    for (int i = 0; i < 5000; ++i) driverlog::Event("period %" PRId64, i);
    const uint64_t lost = driverlog::Lost() - before;
    EXPECT_GE(lost, 5000u - driverlog::kRingRecords);
    ASSERT_TRUE(driverlog::Flush());
    const std::string text = Read(path);
    EXPECT_NE(std::string::npos, text.find("period 0\r\n"));
    EXPECT_NE(std::string::npos, text.find("log: " + std::to_string(lost) + " records lost")) << lost;
}

TEST_F(DriverLogTest, AnUnwritableOrRemovedLogSwitchesItselfOff) {
    // A folder where the file should be: it exists, but takes no lines.
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    driverlog::Begin(path.c_str());
    driverlog::Line("into a folder");
    driverlog::Flush();
    EXPECT_FALSE(driverlog::On());
    driverlog::End();
    RemoveDirectoryA(path.c_str());

    // The user removed the file (log off) while the driver ran.
    Create();
    driverlog::Begin(path.c_str());
    driverlog::Line("first");
    ASSERT_TRUE(driverlog::Flush());
    ASSERT_TRUE(DeleteFileA(path.c_str()));
    driverlog::Line("second");
    driverlog::Flush();
    EXPECT_FALSE(driverlog::On());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str())) << "the log made its file again";
}

TEST_F(DriverLogTest, TheFileNeverPassesItsCapAndOneOlderFileIsKept) {
    Create(std::string(driverlog::kLogMaxBytes - 100, 'x'));
    driverlog::Begin(path.c_str());
    for (int i = 0; i < 20; ++i) driverlog::Line("line %d of the new file", i);
    ASSERT_TRUE(driverlog::Flush());
    const std::string older = Read(path + ".1");
    const std::string text = Read(path);
    EXPECT_EQ(driverlog::kLogMaxBytes - 100, older.size());
    EXPECT_NE(std::string::npos, text.find("line 0 of the new file"));
    EXPECT_NE(std::string::npos, text.find("line 19 of the new file"));
    EXPECT_LT(text.size(), 4096u);
}

}  // namespace

namespace asiotest {
namespace {

class DriverSessionLog : public DriverTest {
protected:
    void SetUp() override {
        char folder[MAX_PATH];
        GetTempPathA(sizeof(folder), folder);
        profile = std::string(folder) + "VelmorR5R6-profile-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(profile.c_str(), nullptr);
        path = profile + "\\VelmorR5R6ASIO.log";
        std::ofstream(path, std::ios::binary);  // the user switched the log on
        DWORD length = GetEnvironmentVariableA("USERPROFILE", saved, sizeof(saved));
        hadProfile = length > 0 && length < sizeof(saved);
        SetEnvironmentVariableA("USERPROFILE", profile.c_str());
        DriverTest::SetUp();
    }
    void TearDown() override {
        DriverTest::TearDown();
        SetEnvironmentVariableA("USERPROFILE", hadProfile ? saved : nullptr);
        DeleteFileA(path.c_str());
        RemoveDirectoryA(profile.c_str());
    }
    std::string profile, path;
    char saved[MAX_PATH] = "";
    bool hadProfile = false;
};

bool WaitSwitches(int atLeast) {
    const DWORD start = GetTickCount();
    while (g_host.switches < atLeast) {
        if (GetTickCount() - start > 10000) return false;
        Sleep(2);
    }
    return true;
}

TEST_F(DriverSessionLog, ASessionIsLoggedWithTheHostDeviceCallsDropoutsAndSummary) {
    ASSERT_NE(nullptr, Ready(48000));
    device->config.burst = 0;
    ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1}, {}, 480));  // 10 ms
    ASSERT_EQ(ASE_OK, driver->start());
    ASSERT_TRUE(WaitSwitches(5));
    // The device stops for a while: when it goes on, the packets ahead are gone at once.
    device->config.stallCompletions = 1;
    Sleep(150);
    device->config.stallCompletions = 0;
    ASSERT_TRUE(WaitSwitches(g_host.switches + 5));
    // The host takes 40 ms of a 10 ms period.
    g_host.stallMs = 40;
    g_host.stallAtSwitch = g_host.switches + 2;
    ASSERT_TRUE(WaitSwitches(g_host.stallAtSwitch + 5));
    ASSERT_EQ(ASE_OK, driver->stop());
    ASSERT_EQ(ASE_OK, driver->disposeBuffers());
    driver->Release();  // the last driver object of the process: the log writes what is left
    driver = nullptr;

    std::ifstream in(path, std::ios::binary);
    std::stringstream read;
    read << in.rdbuf();
    const std::string text = read.str();
    for (const char* expected :
         {"host ", "-bit), driver VelmorR5R6 version 2 built ", "device R6 ", "init() = ASIOTrue",
          "state LOADED -> INITIALIZED", "setSampleRate(48000) = ASE_OK",
          "createBuffers(2 channels, 480 samples) = ASE_OK, state PREPARED",
          "prepared: host rate 48000, stream rate 48000, PCM", "start() = ASE_OK, state RUNNING",
          ": host late (callback ", "to the host: overload", "take: ",
          " periods; dropouts: host late ", "longest callback ", "stop() = ASE_OK, state PREPARED",
          "disposeBuffers() = ASE_OK", "released, state INITIALIZED"}) {
        EXPECT_NE(std::string::npos, text.find(expected)) << expected << "\n" << text;
    }
    // The stall: a completion that came late while the next packet still played.
    EXPECT_NE(std::string::npos, text.find(": device underrun (the device delivered ")) << text;
    EXPECT_EQ(std::string::npos, text.find(": driver late (")) << text;
    // The per-period calls are counted, not written one by one.
    EXPECT_EQ(std::string::npos, text.find("outputReady("));
}

}  // namespace
}  // namespace asiotest
