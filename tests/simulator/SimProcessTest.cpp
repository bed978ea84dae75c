// One device for every process: while this process streams, the control tool
// and other programs (of both architectures) see the stream.
#include "SimHarness.h"

#include "tests/support/ChildProcess.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace simtest {
namespace {

class SimProcesses : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        SetEnvironmentVariableA("VELMOR_SIM_INSTANCE", sim::InstanceName());
    }
    void TearDown() override {
        SetEnvironmentVariableA("VELMOR_DEVICE", nullptr);
        SetEnvironmentVariableA("VELMOR_SIM_INSTANCE", nullptr);
        SimTest::TearDown();
    }
};

// Streams the test pattern to pin 0 in real time (10 ms packets, four queued)
// until stopped.
class Player {
public:
    explicit Player(const PinFormat& format) : m_format(format) {
        m_filter = OpenFilter();
        EXPECT_EQ(DWORD(0), CreatePin(m_filter, 0, format, &m_pin));
        StepTo(m_pin, KSSTATE_STOP, KSSTATE_PAUSE);
        m_thread = std::thread([this] { Run(); });
    }
    ~Player() {
        m_stop = true;
        m_thread.join();
        Api().CloseHandle(m_pin);
        Api().CloseHandle(m_filter);
    }

private:
    void Run() {
        const uint32_t frames = m_format.rate / 100;
        const unsigned frameBytes = m_format.channels * m_format.bits / 8;
        std::unique_ptr<Packet> packets[4];
        uint64_t next = 0;
        unsigned lead = sim::kDefaultLeadPackets;  // silent, as a take begins
        for (auto& p : packets) {
            p = std::make_unique<Packet>(frames * frameBytes);
            if (lead) {
                --lead;
            } else {
                FillPattern(p->data, next, frames, m_format.channels, m_format.bits);
                next += frames;
            }
            p->Queue(m_pin, true);
        }
        SetState(m_pin, KSSTATE_RUN);
        for (int k = 0; !m_stop; k = (k + 1) % 4) {
            if (!packets[k]->Wait(2000)) break;
            FillPattern(packets[k]->data, next, frames, m_format.channels, m_format.bits);
            next += frames;
            packets[k]->Queue(m_pin, true);
        }
        // Stopped before the packets go: the stop ends those still queued.
        StepTo(m_pin, KSSTATE_RUN, KSSTATE_STOP);
    }

    PinFormat m_format;
    HANDLE m_filter = INVALID_HANDLE_VALUE;
    HANDLE m_pin = nullptr;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST_F(SimProcesses, ToolAndAnotherProgramSeeTheStreamOfThisOne) {
    PinFormat format;
    format.rate = 96000;
    format.bits = 24;
    Player player(format);
    // Until the device has heard the pattern on both channels (a busy machine may take a while).
    for (int i = 0; i < 1000 && !(state->streams[0].completed >= 4 && state->streams[0].channel[1].locked); ++i) Sleep(10);
    ASSERT_TRUE(state->streams[0].channel[1].locked) << "the device never heard the pattern";

    ChildResult status = RunChild("\"" + SiblingProgram("velmor-sim.exe") + "\" status");
    ASSERT_EQ(0u, status.exitCode) << status.output;
    EXPECT_NE(std::string::npos, status.output.find("stream 0 render open state RUN rate 96000 bits 24 valid 24 channels 2"))
        << status.output;
    EXPECT_NE(std::string::npos, status.output.find("stream 0 channel 1 frames ")) << status.output;
    EXPECT_NE(std::string::npos, status.output.find("breaks 0 gaps 0 channel 0 offset 0 locked yes")) << status.output;
    EXPECT_NE(std::string::npos, status.output.find("stream 0 takes 1 first-frame 0 lead-frames 1920 dop no\n"))
        << status.output;
    EXPECT_NE(std::string::npos, status.output.find("stream 0 faults none\n")) << status.output;

    ChildResult json = RunChild("\"" + SiblingProgram("velmor-sim.exe") + "\" status --json");
    EXPECT_NE(std::string::npos, json.output.find("\"state\":\"RUN\",\"rate\":96000,\"bits\":24")) << json.output;

    SetEnvironmentVariableA("VELMOR_DEVICE", "simulated");
    ChildResult vendor = RunChild("\"" + SiblingProgram("sim_peer.exe") + "\" vendor");
    EXPECT_EQ(0u, vendor.exitCode) << vendor.output;
    EXPECT_EQ("stream 1 channels 2 rate 96000 bits 24\n", vendor.output);
}

// The request faults set from the tool reach the device; status shows them and
// the partial packets a stream refused.
TEST_F(SimProcesses, ToolSetsRequestFaultsAndShowsPartialPackets) {
    auto tool = [](const std::string& args) { return RunChild("\"" + SiblingProgram("velmor-sim.exe") + "\" " + args); };
    EXPECT_EQ(0u, tool("fault pend-properties fail").exitCode);
    EXPECT_EQ(sim::kPendThenFail, state->config.pendProperties);
    EXPECT_EQ(0u, tool("fault pend-properties answer").exitCode);
    EXPECT_EQ(sim::kPendThenAnswer, state->config.pendProperties);
    EXPECT_EQ(0u, tool("fault size-query-insufficient on").exitCode);
    EXPECT_EQ(1u, state->config.sizeQueryInsufficient);
    EXPECT_EQ(2u, tool("fault pend-properties sometimes").exitCode);
    EXPECT_EQ(2u, tool("fault size-query-insufficient 1").exitCode);
    EXPECT_EQ(sim::kPendThenAnswer, state->config.pendProperties);

    state->streams[0].completed = 1;
    state->streams[0].channels = 2;
    state->streams[0].partialPackets = 3;
    state->streams[0].channel[1].breaks = 2;
    state->streams[0].channel[1].channelFaults = 2;
    state->streams[0].startFaults = 1;
    ChildResult status = tool("status");
    EXPECT_NE(std::string::npos, status.output.find("stream 0 faults channel 2, start 1, break 2\n")) << status.output;
    EXPECT_NE(std::string::npos, status.output.find("fault pend-properties answer\n")) << status.output;
    EXPECT_NE(std::string::npos, status.output.find("fault size-query-insufficient on\n")) << status.output;
    EXPECT_NE(std::string::npos, status.output.find("underruns 0 dry 0 ms partial 3\n")) << status.output;
    ChildResult json = tool("status --json");
    EXPECT_NE(std::string::npos, json.output.find("\"pend_properties\":\"answer\",\"size_query_insufficient\":true"))
        << json.output;
    EXPECT_NE(std::string::npos, json.output.find("\"partial_packets\":3")) << json.output;
    EXPECT_NE(std::string::npos, json.output.find("\"faults\":{\"channel\":2,\"start\":1,\"break\":2}")) << json.output;

    EXPECT_EQ(0u, tool("reset").exitCode);
    EXPECT_EQ(sim::kPendNever, state->config.pendProperties);
    EXPECT_EQ(0u, state->config.sizeQueryInsufficient);
}

TEST_F(SimProcesses, ShippedProgramsUseTheVirtualDeviceOnlyWhenAskedTo) {
    ChildResult real = RunChild("\"" + SiblingProgram("sim_peer.exe") + "\" selected");
    EXPECT_EQ("real\n", real.output);
    SetEnvironmentVariableA("VELMOR_DEVICE", "simulated");
    ChildResult simulated = RunChild("\"" + SiblingProgram("sim_peer.exe") + "\" selected");
    EXPECT_EQ("simulated\n", simulated.output);

    // Only the DLL beside the program counts: one in the working folder is never loaded.
    char temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(sizeof(temp), temp));
    std::string folder = std::string(temp) + "velmor-sim-dll-" + std::to_string(GetCurrentProcessId());
    std::string copy = folder + "\\sim_peer.exe";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(SiblingProgram("sim_peer.exe").c_str(), copy.c_str(), FALSE));
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof(previous), previous);
    std::string bin = SiblingProgram("sim_peer.exe");
    SetCurrentDirectoryA(bin.substr(0, bin.find_last_of('\\')).c_str());  // where VelmorR5R6Sim.dll is
    ChildResult planted = RunChild("\"" + copy + "\" selected");
    SetCurrentDirectoryA(previous);
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder.c_str());
    EXPECT_EQ("real\n", planted.output);
}

// The 32-bit panel reads what a 64-bit driver plays: one layout for both.
TEST_F(SimProcesses, ThirtyTwoBitProgramReadsTheVendorStatusOfThisStream) {
    std::string peer = OtherArchProgram("sim_peer.exe");
    ASSERT_FALSE(peer.empty()) << "the other architecture's build is missing (scripts/build builds both)";
    PinFormat format;
    format.rate = 44100;
    format.bits = 16;
    Player player(format);
    SetEnvironmentVariableA("VELMOR_DEVICE", "simulated");
    ChildResult vendor = RunChild("\"" + peer + "\" vendor");
    EXPECT_EQ(0u, vendor.exitCode) << vendor.output;
    EXPECT_EQ("stream 1 channels 2 rate 44100 bits 16\n", vendor.output);
}

}  // namespace
}  // namespace simtest
