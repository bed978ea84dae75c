#include "device/AsioSettingsKey.h"
#include "panel/AsioBlockSettings.h"
#include "tests/support/RegistrySandbox.h"

#include <gtest/gtest.h>

namespace {

class PanelAsioSettings : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, block.Open()); }
    uint32_t Field(CStatusBlock::Field field) { return block.ReadOr(field, 0xdead); }

    RegistrySandbox registry;
    CStatusBlock block;
};

TEST_F(PanelAsioSettings, MissingKeyGivesTheDefaults) {
    ASSERT_EQ(S_OK, LoadAsioSettingsIntoBlock(block));
    EXPECT_EQ(100u, Field(&StatusBlockLayout::bufferSize));
    EXPECT_EQ(16u, Field(&StatusBlockLayout::bitsPerSample));
    EXPECT_EQ(2u, Field(&StatusBlockLayout::supportSampleRate));
    EXPECT_EQ(2u, Field(&StatusBlockLayout::supporBitsPerSample));
    EXPECT_EQ(1u, Field(&StatusBlockLayout::settingsLoaded));
}

TEST_F(PanelAsioSettings, LoadsOncePerBlockLife) {
    PutSettingDword(kValueBufferSize, 5000);
    PutSettingDword(kValueSupporBitsPerSample, 0xE);
    ASSERT_EQ(S_OK, LoadAsioSettingsIntoBlock(block));
    EXPECT_EQ(5000u, Field(&StatusBlockLayout::bufferSize));
    EXPECT_EQ(16u, Field(&StatusBlockLayout::bitsPerSample));
    EXPECT_EQ(0xEu, Field(&StatusBlockLayout::supporBitsPerSample));

    PutSettingDword(kValueBufferSize, 20);
    EXPECT_EQ(S_FALSE, LoadAsioSettingsIntoBlock(block));
    EXPECT_EQ(5000u, Field(&StatusBlockLayout::bufferSize));
}

TEST_F(PanelAsioSettings, StoresOnlyTheTwoEditedValues) {
    EXPECT_EQ(S_FALSE, StoreAsioSettingsFromBlock(block)) << "nothing loaded, nothing to store";
    EXPECT_FALSE(SettingExists(kValueBufferSize));

    ASSERT_EQ(S_OK, LoadAsioSettingsIntoBlock(block));
    block.Write(&StatusBlockLayout::bufferSize, 25);
    block.Write(&StatusBlockLayout::bitsPerSample, 24);
    block.Write(&StatusBlockLayout::supportSampleRate, 0x1FF);
    ASSERT_EQ(S_OK, StoreAsioSettingsFromBlock(block));
    uint32_t value = 0;
    ASSERT_TRUE(GetSettingDword(kValueBufferSize, &value));
    EXPECT_EQ(25u, value);
    ASSERT_TRUE(GetSettingDword(kValueBitsPerSample, &value));
    EXPECT_EQ(24u, value);
    EXPECT_FALSE(SettingExists(kValueSupportSampleRate));
    EXPECT_FALSE(SettingExists(kValueSampleRate));
}

// As the driver's own writer: what it could not run keeps the stored value.
TEST_F(PanelAsioSettings, ValuesOutsideTheDriversRangeAreNotStored) {
    PutSettingDword(kValueBufferSize, 200);
    PutSettingDword(kValueBitsPerSample, 24);
    ASSERT_EQ(S_OK, LoadAsioSettingsIntoBlock(block));
    for (uint32_t length : {0u, 10u, 6010u, 4294967290u}) {
        block.Write(&StatusBlockLayout::bufferSize, length);
        block.Write(&StatusBlockLayout::bitsPerSample, 8);
        ASSERT_EQ(S_OK, StoreAsioSettingsFromBlock(block));
        uint32_t value = 0;
        ASSERT_TRUE(GetSettingDword(kValueBufferSize, &value));
        EXPECT_EQ(200u, value) << length;
        ASSERT_TRUE(GetSettingDword(kValueBitsPerSample, &value));
        EXPECT_EQ(24u, value);
    }
}

TEST_F(PanelAsioSettings, InvalidBlockIsLeftAlone) {
    CStatusBlock closed;
    EXPECT_EQ(S_FALSE, LoadAsioSettingsIntoBlock(closed));
    EXPECT_EQ(S_FALSE, StoreAsioSettingsFromBlock(closed));
    EXPECT_FALSE(SettingExists(kValueBufferSize));
}

}  // namespace
