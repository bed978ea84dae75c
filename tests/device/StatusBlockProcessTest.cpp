// The block as other processes see it: the same architecture and the other
// one (the 32-bit panel and a 64-bit driver share it).
#include "device/StatusBlock.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const GUID kOwner = {0xfeedc0de, 0x0102, 0x0304, {0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c}};
const char kOwnerText[] = "{FEEDC0DE-0102-0304-0506-0708090A0B0C}";
const char kOtherText[] = "{FEEDC0DE-0102-0304-0506-0708090A0B0D}";
const char kPeer[] = "status_block_peer.exe";

// Peers to run: the other architecture's always; our own only on the 64-bit
// side, since 32-bit programs may start slowly (emulated) and 64->32 and
// 32->64 already cover the pairs that differ.
std::vector<std::string> Peers() {
    std::vector<std::string> peers;
    if (sizeof(void*) == 8) peers.push_back(SiblingProgram(kPeer));
    std::string other = OtherArchProgram(kPeer);
    if (!other.empty()) peers.push_back(other);
    return peers;
}

ChildResult RunPeer(const std::string& peer, const std::string& commands) {
    return RunChild("\"" + peer + "\" " + commands);
}

class StatusBlockProcesses : public ::testing::Test {
protected:
    void SetUp() override {
        peers = Peers();
        if (OtherArchProgram(kPeer).empty()) {
            ADD_FAILURE() << "the other architecture's build is missing (scripts/build builds both)";
        }
    }
    std::vector<std::string> peers;
};

TEST_F(StatusBlockProcesses, PeerSeesFieldsAndOwner) {
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    ASSERT_TRUE(block.Claim(kOwner));
    block.WriteOwned(kOwner, &StatusBlockLayout::driverState, 4);
    block.Write(&StatusBlockLayout::settingsLoaded, 1);
    block.Write(&StatusBlockLayout::bufferSize, 200);
    block.Write(&StatusBlockLayout::bitsPerSample, 24);
    block.Write(&StatusBlockLayout::streamRate, 88200);
    block.SetDeviceName(kOwner, "Velmor R6 DAC");
    block.MarkChanged();

    for (const std::string& peer : peers) {
        ChildResult shown = RunPeer(peer, "show");
        ASSERT_TRUE(shown.started) << peer;
        EXPECT_EQ(0u, shown.exitCode) << peer;
        EXPECT_EQ(std::string("valid=1 state=4 loaded=1 changed=1 buffer=200 bits=24 rate=88200 owner=") +
                      kOwnerText + " name=Velmor R6 DAC\n",
                  shown.output)
            << peer;
    }
}

TEST_F(StatusBlockProcesses, OwnershipHoldsAcrossProcesses) {
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    for (const std::string& peer : peers) {
        ASSERT_TRUE(block.Claim(kOwner));
        block.WriteOwned(kOwner, &StatusBlockLayout::driverState, 2);
        EXPECT_EQ("claimed=0\nwritten=0\nwritten=1\ngiven=0\n",
                  RunPeer(peer, std::string("claim ") + kOtherText + " state " + kOtherText + " 4 state " +
                                    kOwnerText + " 3 giveback " + kOtherText)
                      .output)
            << peer;
        EXPECT_EQ(3u, block.ReadOr(&StatusBlockLayout::driverState, 0)) << peer;

        // Given back here, the peer's instance can take the block, and give it back again.
        ASSERT_TRUE(block.GiveBack(kOwner));
        block.Write(&StatusBlockLayout::changed, 0);
        EXPECT_EQ("claimed=1\nwritten=1\n",
                  RunPeer(peer, std::string("claim ") + kOtherText + " state " + kOtherText + " 2").output)
            << peer;
        EXPECT_FALSE(block.IsOwnedBy(kOwner));
        EXPECT_FALSE(block.Claim(kOwner));
        EXPECT_EQ(2u, block.ReadOr(&StatusBlockLayout::driverState, 0));
        EXPECT_EQ("given=1\n", RunPeer(peer, std::string("giveback ") + kOtherText).output) << peer;
        EXPECT_EQ(0u, block.ReadOr(&StatusBlockLayout::driverState, 9));
        EXPECT_EQ(1u, block.ReadOr(&StatusBlockLayout::changed, 0));
    }
}

TEST_F(StatusBlockProcesses, BlockCreatedByAnExitedProcessIsGone) {
    for (const std::string& peer : peers) {
        EXPECT_EQ("created=1\n", RunPeer(peer, "create").output) << peer;
        CStatusBlock block;
        EXPECT_TRUE(FAILED(block.OpenExisting())) << peer;
    }
}

}  // namespace
