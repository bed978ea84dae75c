#include "device/StatusBlock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const GUID kDriverA = {0x1a2b3c4d, 0x1111, 0x2222, {0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa}};
const GUID kDriverB = {0x1a2b3c4d, 0x1111, 0x2222, {0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xab}};
const GUID kDriverC = {0x1a2b3c4e, 0x1111, 0x2222, {0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa}};

// A second, raw view of the named mapping, to see the bytes other programs see.
class RawView {
public:
    RawView() {
        m_mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kStatusBlockName);
        if (m_mapping) m_bytes = static_cast<unsigned char*>(MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    }
    ~RawView() {
        if (m_bytes) UnmapViewOfFile(m_bytes);
        if (m_mapping) CloseHandle(m_mapping);
    }
    bool ok() const { return m_bytes != nullptr; }
    uint32_t u32(size_t offset) const {
        uint32_t v;
        std::memcpy(&v, m_bytes + offset, 4);
        return v;
    }
    void put(size_t offset, uint32_t v) { std::memcpy(m_bytes + offset, &v, 4); }
    unsigned char* bytes() { return m_bytes; }

private:
    HANDLE m_mapping = nullptr;
    unsigned char* m_bytes = nullptr;
};

TEST(StatusBlock, CreatorZeroFillsAndWritesMagic) {
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    EXPECT_TRUE(block.Created());
    EXPECT_TRUE(block.IsValid());
    RawView raw;
    ASSERT_TRUE(raw.ok());
    EXPECT_EQ(0x20130107u, raw.u32(0));
    for (size_t offset = 4; offset < kStatusBlockSize; offset += 4) EXPECT_EQ(0u, raw.u32(offset)) << offset;

    CStatusBlock second;
    ASSERT_EQ(S_OK, second.Open());
    EXPECT_FALSE(second.Created());
    EXPECT_TRUE(second.IsValid());
}

// Each accessor must land on the byte offset the other deliverable and other
// processes read; write distinct values and look at the raw bytes.
TEST(StatusBlock, FieldsLandOnTheirOffsets) {
    struct Case {
        CStatusBlock::Field field;
        size_t offset;
    };
    const Case cases[] = {
        {&StatusBlockLayout::driverState, 0x004},       {&StatusBlockLayout::settingsLoaded, 0x008},
        {&StatusBlockLayout::changed, 0x01C},           {&StatusBlockLayout::showPanelRequest, 0x020},
        {&StatusBlockLayout::bufferSize, 0x024},        {&StatusBlockLayout::bitsPerSample, 0x028},
        {&StatusBlockLayout::period, 0x02C},            {&StatusBlockLayout::streamRate, 0x030},
        {&StatusBlockLayout::streamWidth, 0x034},       {&StatusBlockLayout::supportSampleRate, 0x038},
        {&StatusBlockLayout::supporBitsPerSample, 0x03C}, {&StatusBlockLayout::dsdActive, 0x140},
        {&StatusBlockLayout::dsd128, 0x144},            {&StatusBlockLayout::dsd256, 0x148},
        {&StatusBlockLayout::nativeDsd, 0x14C},         {&StatusBlockLayout::resetRequest, 0x150},
    };
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    RawView raw;
    ASSERT_TRUE(raw.ok());
    uint32_t value = 0x5000;
    for (const Case& c : cases) {
        ASSERT_TRUE(block.Write(c.field, ++value));
        EXPECT_EQ(value, raw.u32(c.offset)) << "offset " << c.offset;
        raw.put(c.offset, value + 0x100);
        EXPECT_EQ(value + 0x100, block.ReadOr(c.field, 0)) << "offset " << c.offset;
    }

    ASSERT_TRUE(block.Claim(kDriverA));
    EXPECT_EQ(0, std::memcmp(raw.bytes() + 0x00C, &kDriverA, 16));
    const uint32_t before = raw.u32(0x03C);
    const uint32_t after = raw.u32(0x140);
    ASSERT_TRUE(block.SetDeviceName(kDriverA, "Velmor R6"));
    EXPECT_STREQ("Velmor R6", reinterpret_cast<const char*>(raw.bytes() + 0x040));
    EXPECT_EQ(before, raw.u32(0x03C));
    EXPECT_EQ(after, raw.u32(0x140));
}

TEST(StatusBlock, WrongMagicIsNeverWritten) {
    // Another program's mapping under the same name, with a different magic.
    HANDLE foreign = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kStatusBlockSize,
                                        kStatusBlockName);
    ASSERT_NE(nullptr, foreign);
    RawView raw;
    ASSERT_TRUE(raw.ok());
    std::memset(raw.bytes(), 0x5A, kStatusBlockSize);
    raw.put(0, 0x20130108);

    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    EXPECT_FALSE(block.Created());
    EXPECT_FALSE(block.IsValid());

    uint32_t value = 7;
    EXPECT_FALSE(block.Read(&StatusBlockLayout::driverState, &value));
    EXPECT_EQ(7u, value);
    EXPECT_EQ(99u, block.ReadOr(&StatusBlockLayout::bufferSize, 99));
    EXPECT_FALSE(block.Write(&StatusBlockLayout::resetRequest, 1));
    EXPECT_FALSE(block.MarkChanged());
    EXPECT_FALSE(block.Claim(kDriverA));
    EXPECT_FALSE(block.IsOwnedBy(kDriverA));
    EXPECT_FALSE(block.SetDeviceName(kDriverA, "x"));
    EXPECT_FALSE(block.GiveBack(kDriverA));
    char name[8] = "keep";
    EXPECT_FALSE(block.ReadDeviceName(name, sizeof(name)));

    EXPECT_EQ(0x20130108u, raw.u32(0));
    for (size_t i = 4; i < kStatusBlockSize; ++i) ASSERT_EQ(0x5A, raw.bytes()[i]) << "byte " << i;
    CloseHandle(foreign);
}

TEST(StatusBlock, OwnershipGuardsDriverWrites) {
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    EXPECT_FALSE(block.WriteOwned(kDriverA, &StatusBlockLayout::driverState, 2)) << "nobody owns a new block";

    ASSERT_TRUE(block.Claim(kDriverA));
    EXPECT_TRUE(block.Claim(kDriverA)) << "claiming again keeps it";
    // Identities differing only in the last byte or only in the first word must not match.
    EXPECT_FALSE(block.Claim(kDriverB));
    EXPECT_FALSE(block.Claim(kDriverC));
    EXPECT_FALSE(block.IsOwnedBy(kDriverB));
    EXPECT_FALSE(block.IsOwnedBy(kDriverC));

    EXPECT_FALSE(block.WriteOwned(kDriverB, &StatusBlockLayout::driverState, 4));
    EXPECT_FALSE(block.SetDeviceName(kDriverB, "intruder"));
    EXPECT_TRUE(block.WriteOwned(kDriverA, &StatusBlockLayout::driverState, 3));
    EXPECT_EQ(3u, block.ReadOr(&StatusBlockLayout::driverState, 0));

    // Writers that ignore ownership still get through.
    EXPECT_TRUE(block.Write(&StatusBlockLayout::streamRate, 88200));

    EXPECT_FALSE(block.GiveBack(kDriverB));
    EXPECT_EQ(3u, block.ReadOr(&StatusBlockLayout::driverState, 0));
    block.Write(&StatusBlockLayout::changed, 0);
    EXPECT_TRUE(block.GiveBack(kDriverA));
    EXPECT_EQ(0u, block.ReadOr(&StatusBlockLayout::driverState, 9));
    EXPECT_EQ(1u, block.ReadOr(&StatusBlockLayout::changed, 0));
    GUID owner = kDriverA;
    ASSERT_TRUE(block.ReadOwner(&owner));
    EXPECT_EQ(GUID{}, owner);
    EXPECT_TRUE(block.Claim(kDriverB)) << "a freed block can be claimed by the next instance";
}

TEST(StatusBlock, DeviceNameIsCutAndReadSafely) {
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    ASSERT_TRUE(block.Claim(kDriverA));
    ASSERT_TRUE(block.Write(&StatusBlockLayout::dsdActive, 0x11223344));

    std::string longName(300, 'n');
    ASSERT_TRUE(block.SetDeviceName(kDriverA, longName.c_str()));
    char name[400];
    ASSERT_TRUE(block.ReadDeviceName(name, sizeof(name)));
    EXPECT_EQ(std::string(255, 'n'), name);
    EXPECT_EQ(0x11223344u, block.ReadOr(&StatusBlockLayout::dsdActive, 0));

    // A name without its terminator (left by another program) is read within the field.
    RawView raw;
    ASSERT_TRUE(raw.ok());
    std::memset(raw.bytes() + 0x40, 'z', 256);
    ASSERT_TRUE(block.ReadDeviceName(name, sizeof(name)));
    EXPECT_EQ(std::string(256, 'z'), name);

    char small[5];
    ASSERT_TRUE(block.ReadDeviceName(small, sizeof(small)));
    EXPECT_STREQ("zzzz", small);
    EXPECT_FALSE(block.ReadDeviceName(small, 0));
    EXPECT_FALSE(block.SetDeviceName(kDriverA, nullptr));
}

TEST(StatusBlock, BlockGoesWithItsLastHandle) {
    {
        CStatusBlock block;
        ASSERT_EQ(S_OK, block.Open());
        ASSERT_TRUE(block.Created());
        block.Write(&StatusBlockLayout::bufferSize, 250);
        CStatusBlock other;
        ASSERT_EQ(S_OK, other.OpenExisting());
        EXPECT_EQ(250u, other.ReadOr(&StatusBlockLayout::bufferSize, 0));
    }
    CStatusBlock none;
    EXPECT_TRUE(FAILED(none.OpenExisting())) << "no process holds the block any more";
    EXPECT_FALSE(none.IsValid());
    EXPECT_FALSE(none.Write(&StatusBlockLayout::changed, 1));

    CStatusBlock fresh;
    ASSERT_EQ(S_OK, fresh.Open());
    EXPECT_TRUE(fresh.Created());
    EXPECT_EQ(0u, fresh.ReadOr(&StatusBlockLayout::bufferSize, 1));
}

}  // namespace
