// velmor-remote against a service on loopback: probe, status, set-asio then
// status reflects it; exit codes 0, 1 and 2.
#include "tests/remote/RemoteHost.h"

#include "device/StatusBlock.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class RemoteToolTest : public ::testing::Test {
protected:
    ChildResult Tool(const std::string& arguments) {
        return RunChild("\"" + SiblingProgram("velmor-remote.exe") + "\" --port " + std::to_string(host.Port()) +
                            " --timeout 3000 " + arguments,
                        60000);
    }
    RemoteHost host;
};

TEST_F(RemoteToolTest, ProbeStatusAndSetAsio) {
    ASSERT_EQ(S_OK, host.StartResult());
    CStatusBlock block;  // the real block name: the tool reaches the protocol's default
    ASSERT_EQ(S_OK, block.Open());
    uint32_t savedSize = block.ReadOr(&StatusBlockLayout::bufferSize, 0);
    uint32_t savedBits = block.ReadOr(&StatusBlockLayout::bitsPerSample, 0);
    host.Invoke([](FakeRemotePanel& panel, RemoteProtocol&, UdpService&) { panel.asio = true; });

    ChildResult probe = Tool("probe");
    EXPECT_EQ(0u, probe.exitCode) << probe.output;
    EXPECT_NE(std::string::npos, probe.output.find("panel at 127.0.0.1")) << probe.output;

    ChildResult set = Tool("set-asio --buffer-ms 25 --bit 16");
    EXPECT_EQ(0u, set.exitCode) << set.output;
    ChildResult status = Tool("--json status");
    EXPECT_EQ(0u, status.exitCode) << status.output;
    EXPECT_NE(std::string::npos, status.output.find(R"("asio":{"buffer_size":"25","bit":"16"})")) << status.output;
    ChildResult plain = Tool("status");
    EXPECT_NE(std::string::npos, plain.output.find("asio.buffer_size: 25")) << plain.output;

    block.Write(&StatusBlockLayout::bufferSize, savedSize);
    block.Write(&StatusBlockLayout::bitsPerSample, savedBits);
}

TEST_F(RemoteToolTest, ExitCodes) {
    ASSERT_EQ(S_OK, host.StartResult());
    ChildResult fail = Tool(R"(send "{\"api\":\"VOL_UP\"}")");
    EXPECT_EQ(1u, fail.exitCode) << fail.output;
    EXPECT_NE(std::string::npos, fail.output.find("fail")) << fail.output;
    ChildResult usage = Tool("set-asio --volume 3");
    EXPECT_EQ(2u, usage.exitCode) << usage.output;
    ChildResult unknown = Tool("reboot");
    EXPECT_EQ(2u, unknown.exitCode) << unknown.output;
    // A status answer that is never sent: get_status with a failing query.
    host.Invoke([](FakeRemotePanel& panel, RemoteProtocol&, UdpService&) { panel.captureVolumeResult = E_FAIL; });
    ChildResult silent = RunChild("\"" + SiblingProgram("velmor-remote.exe") + "\" --port " +
                                      std::to_string(host.Port()) + " --timeout 300 status",
                                  60000);
    EXPECT_EQ(1u, silent.exitCode) << silent.output;
    EXPECT_NE(std::string::npos, silent.output.find("no answer")) << silent.output;
}

}  // namespace
