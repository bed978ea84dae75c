#include "asio/DriverSettings.h"
#include "device/AsioSettingsKey.h"
#include "tests/support/RegistrySandbox.h"

#include <gtest/gtest.h>

namespace {

class DriverSettings : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, block.Open()); }

    uint32_t Field(CStatusBlock::Field field) { return block.ReadOr(field, 0xdead); }
    void PutAll(uint32_t rate, uint32_t buffer, uint32_t bits, uint32_t rates, uint32_t widths) {
        PutSettingDword(kValueSampleRate, rate);
        PutSettingDword(kValueBufferSize, buffer);
        PutSettingDword(kValueBitsPerSample, bits);
        PutSettingDword(kValueSupportSampleRate, rates);
        PutSettingDword(kValueSupporBitsPerSample, widths);
    }

    RegistrySandbox registry;
    CStatusBlock block;
};

TEST_F(DriverSettings, NoKeyReadsNothingAndAppliesNoDefault) {
    uint32_t rate = 96000;
    EXPECT_EQ(S_FALSE, ReadDriverSettings(block, &rate));
    EXPECT_EQ(96000u, rate);
    EXPECT_EQ(0u, Field(&StatusBlockLayout::settingsLoaded));
    EXPECT_EQ(0u, Field(&StatusBlockLayout::bufferSize));
    EXPECT_EQ(0u, Field(&StatusBlockLayout::bitsPerSample));
    EXPECT_EQ(0u, Field(&StatusBlockLayout::supportSampleRate));
    EXPECT_EQ(0u, Field(&StatusBlockLayout::supporBitsPerSample));
    EXPECT_EQ(0u, Field(&StatusBlockLayout::changed));
}

TEST_F(DriverSettings, StoredValuesEnterTheBlockOnce) {
    PutAll(176400, 250, 24, 0x1FF, 0xE);
    uint32_t rate = 0;
    ASSERT_EQ(S_OK, ReadDriverSettings(block, &rate));
    EXPECT_EQ(176400u, rate);
    EXPECT_EQ(250u, Field(&StatusBlockLayout::bufferSize));
    EXPECT_EQ(24u, Field(&StatusBlockLayout::bitsPerSample));
    EXPECT_EQ(0x1FFu, Field(&StatusBlockLayout::supportSampleRate));
    EXPECT_EQ(0xEu, Field(&StatusBlockLayout::supporBitsPerSample));
    EXPECT_EQ(1u, Field(&StatusBlockLayout::settingsLoaded));
    EXPECT_EQ(1u, Field(&StatusBlockLayout::changed));

    // The panel edits the block; a later read (another driver's init) keeps
    // the block's values and takes only the rate from the registry.
    block.Write(&StatusBlockLayout::bufferSize, 40);
    block.Write(&StatusBlockLayout::changed, 0);
    PutAll(48000, 600, 16, 2, 2);
    ASSERT_EQ(S_OK, ReadDriverSettings(block, &rate));
    EXPECT_EQ(48000u, rate);
    EXPECT_EQ(40u, Field(&StatusBlockLayout::bufferSize));
    EXPECT_EQ(24u, Field(&StatusBlockLayout::bitsPerSample));
    EXPECT_EQ(0u, Field(&StatusBlockLayout::changed));
}

TEST_F(DriverSettings, MissingOrMalformedValuesTakeTheirDefaults) {
    // The key exists; each value is missing or not a four-byte DWORD.
    PutSettingRaw(kValueSampleRate, REG_SZ, "96000", 6);
    const unsigned char twoBytes[2] = {0x80, 0x00};
    PutSettingRaw(kValueBufferSize, REG_BINARY, twoBytes, sizeof(twoBytes));
    const unsigned long long wide = 24;
    PutSettingRaw(kValueBitsPerSample, REG_QWORD, &wide, sizeof(wide));
    PutSettingRaw("SupportBitsPerSample", REG_DWORD, "\x0e\0\0\0", 4);  // the name the driver never reads

    uint32_t rate = 0;
    ASSERT_EQ(S_OK, ReadDriverSettings(block, &rate));
    EXPECT_EQ(44100u, rate);
    EXPECT_EQ(100u, Field(&StatusBlockLayout::bufferSize));
    EXPECT_EQ(16u, Field(&StatusBlockLayout::bitsPerSample));
    EXPECT_EQ(2u, Field(&StatusBlockLayout::supportSampleRate));
    EXPECT_EQ(2u, Field(&StatusBlockLayout::supporBitsPerSample));
    EXPECT_EQ(1u, Field(&StatusBlockLayout::settingsLoaded));
}

TEST_F(DriverSettings, InvalidBlockStillGetsTheRate) {
    PutAll(32000, 20, 32, 1, 8);
    CStatusBlock closed;
    uint32_t rate = 0;
    ASSERT_EQ(S_OK, ReadDriverSettings(closed, &rate));
    EXPECT_EQ(32000u, rate);
    EXPECT_EQ(0u, Field(&StatusBlockLayout::settingsLoaded));

    ASSERT_EQ(S_OK, WriteDriverSettings(closed, 88200));
    uint32_t stored = 0;
    ASSERT_TRUE(GetSettingDword(kValueSampleRate, &stored));
    EXPECT_EQ(88200u, stored);
    ASSERT_TRUE(GetSettingDword(kValueBufferSize, &stored));
    EXPECT_EQ(20u, stored) << "no block, so the block-held values are left alone";
}

TEST_F(DriverSettings, WriteCreatesTheKeyAndStoresBlockValuesOnlyWhenLoaded) {
    block.Write(&StatusBlockLayout::bufferSize, 300);
    ASSERT_EQ(S_OK, WriteDriverSettings(block, 88200));
    uint32_t stored = 0;
    ASSERT_TRUE(GetSettingDword(kValueSampleRate, &stored));
    EXPECT_EQ(88200u, stored) << "a DSD64 stream is stored as its frame rate";
    EXPECT_FALSE(SettingExists(kValueBufferSize));

    block.Write(&StatusBlockLayout::settingsLoaded, 1);
    block.Write(&StatusBlockLayout::bitsPerSample, 32);
    block.Write(&StatusBlockLayout::supportSampleRate, 0x7F);
    block.Write(&StatusBlockLayout::supporBitsPerSample, 0xA);
    ASSERT_EQ(S_OK, WriteDriverSettings(block, 44100));
    const struct {
        const char* name;
        uint32_t value;
    } expected[] = {{"SampleRate", 44100},       {"BufferSize", 300},          {"BitsPerSample", 32},
                    {"SupportSampleRate", 0x7F}, {"SupporBitsPerSample", 0xA}};
    for (const auto& e : expected) {
        ASSERT_TRUE(GetSettingDword(e.name, &stored)) << e.name;
        EXPECT_EQ(e.value, stored) << e.name;
    }
}

TEST_F(DriverSettings, NextBlockLifeLoadsTheRegistryAgain) {
    PutAll(44100, 50, 24, 2, 6);
    uint32_t rate = 0;
    ASSERT_EQ(S_OK, ReadDriverSettings(block, &rate));
    ASSERT_EQ(50u, Field(&StatusBlockLayout::bufferSize));
    block.Write(&StatusBlockLayout::bufferSize, 70);
    ASSERT_EQ(S_OK, WriteDriverSettings(block, rate));
    block.Close();

    // The last handle is gone, so the block went with it; the next creator
    // starts from zero and loads what the last one stored.
    ASSERT_EQ(S_OK, block.Open());
    ASSERT_TRUE(block.Created());
    EXPECT_EQ(0u, Field(&StatusBlockLayout::settingsLoaded));
    ASSERT_EQ(S_OK, ReadDriverSettings(block, &rate));
    EXPECT_EQ(70u, Field(&StatusBlockLayout::bufferSize));
    EXPECT_EQ(24u, Field(&StatusBlockLayout::bitsPerSample));
}

}  // namespace
