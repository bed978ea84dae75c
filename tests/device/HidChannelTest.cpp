#include "device/DeviceApi.h"
#include "device/HidChannel.h"
#include "device/KsConstants.h"
#include "device/SupportedDevices.h"
#include "device/VendorStatus.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

HDEVINFO const kHidSet = reinterpret_cast<HDEVINFO>(0x41D0);
const GUID kHidGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct FakeHid {
    USHORT vendorId;
    USHORT productId;
    USHORT inputLength;
    USHORT outputLength;
};

// HID interfaces behind the seam; every handle opened on them is tracked.
struct HidWorld {
    std::vector<FakeHid> devices;
    DWORD highestIndex = 0;
    std::map<HANDLE, size_t> open;  // handle -> device
    std::vector<DWORD> openFlags;
    ULONG_PTR nextHandle = 0x3000;
    int preparsed = 0;
    std::vector<std::vector<BYTE>> writes;
    std::vector<DWORD> writeHandleFlags;  // open flags of the handle each write went through
    std::map<HANDLE, DWORD> flagsOf;
    bool overlappedOpenFails = false;
    int destroyed = 0;
};
HidWorld* g_hid = nullptr;

void WINAPI GetHidGuid(LPGUID guid) { *guid = kHidGuid; }

HDEVINFO WINAPI HidClassDevs(const GUID* guid, PCSTR, HWND, DWORD flags) {
    EXPECT_EQ(kHidGuid, *guid);
    EXPECT_EQ(DWORD(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE), flags);
    return kHidSet;
}

BOOL WINAPI HidEnum(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    g_hid->highestIndex = index;
    if (index >= g_hid->devices.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->Reserved = index;
    return TRUE;
}

BOOL WINAPI HidDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                      PDWORD required, PSP_DEVINFO_DATA) {
    std::string path = "\\\\?\\hid#" + std::to_string(data->Reserved);
    DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (required) *required = needed;
    if (!detail || size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    EXPECT_EQ(DWORD(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)), detail->cbSize);
    std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

HANDLE WINAPI HidOpen(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD, DWORD flags, HANDLE) {
    EXPECT_EQ(DWORD(GENERIC_READ | GENERIC_WRITE), access);
    EXPECT_EQ(DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE), share);
    g_hid->openFlags.push_back(flags);
    if ((flags & FILE_FLAG_OVERLAPPED) && g_hid->overlappedOpenFails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(g_hid->nextHandle++);
    g_hid->flagsOf[handle] = flags;
    g_hid->open[handle] = std::stoul(std::string(path).substr(std::strlen("\\\\?\\hid#")));
    return handle;
}

BOOL WINAPI HidClose(HANDLE handle) {
    EXPECT_EQ(1u, g_hid->open.erase(handle)) << "closing a handle that is not open";
    return TRUE;
}

BOOLEAN WINAPI HidAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
    const FakeHid& hid = g_hid->devices[g_hid->open.at(handle)];
    attributes->VendorID = hid.vendorId;
    attributes->ProductID = hid.productId;
    return TRUE;
}

BOOLEAN WINAPI HidPreparsed(HANDLE handle, PHIDP_PREPARSED_DATA* data) {
    ++g_hid->preparsed;
    *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(g_hid->open.at(handle) + 1);
    return TRUE;
}

BOOLEAN WINAPI HidFreePreparsed(PHIDP_PREPARSED_DATA) {
    --g_hid->preparsed;
    return TRUE;
}

NTSTATUS WINAPI HidCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) {
    const FakeHid& hid = g_hid->devices[reinterpret_cast<size_t>(data) - 1];
    std::memset(caps, 0, sizeof(*caps));
    caps->InputReportByteLength = hid.inputLength;
    caps->OutputReportByteLength = hid.outputLength;
    return HIDP_STATUS_SUCCESS;
}

BOOL WINAPI HidWrite(HANDLE handle, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    EXPECT_EQ(nullptr, overlapped);
    EXPECT_TRUE(g_hid->open.count(handle));
    const BYTE* bytes = static_cast<const BYTE*>(data);
    g_hid->writes.emplace_back(bytes, bytes + size);
    g_hid->writeHandleFlags.push_back(g_hid->flagsOf[handle]);
    *written = size;
    return TRUE;
}

BOOL WINAPI HidDestroy(HDEVINFO set) {
    EXPECT_EQ(kHidSet, set);
    ++g_hid->destroyed;
    return TRUE;
}

class HidChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_hid = &world;
        table = RealDeviceApi();
        table.HidD_GetHidGuid = GetHidGuid;
        table.SetupDiGetClassDevsA = HidClassDevs;
        table.SetupDiEnumDeviceInterfaces = HidEnum;
        table.SetupDiGetDeviceInterfaceDetailA = HidDetail;
        table.SetupDiDestroyDeviceInfoList = HidDestroy;
        table.CreateFileA = HidOpen;
        table.CloseHandle = HidClose;
        table.HidD_GetAttributes = HidAttributes;
        table.HidD_GetPreparsedData = HidPreparsed;
        table.HidD_FreePreparsedData = HidFreePreparsed;
        table.HidP_GetCaps = HidCaps;
        table.WriteFile = HidWrite;
        InstallDeviceApi(&table);
    }
    void TearDown() override {
        InstallDeviceApi(nullptr);
        g_hid = nullptr;
    }

    HidWorld world;
    DeviceApiTable table;
};

TEST_F(HidChannelTest, OpensOnlyTheDeviceWithBothIds) {
    world.devices = {{0x046D, kVelmorProductR6, 8, 8},
                     {kVelmorVendorId, kVelmorProductR5, 64, 64},
                     {kVelmorVendorId, kVelmorProductR6, 32, 64}};
    HidChannel channel;
    USHORT in = 0, out = 0;
    ASSERT_TRUE(FindHidDevice(&channel, kVelmorVendorId, kVelmorProductR6, &in, &out));
    EXPECT_EQ(32, in);
    EXPECT_EQ(64, out);
    // Only the matching device stays open, once plain and once overlapped.
    ASSERT_EQ(2u, world.open.size());
    EXPECT_EQ(2u, world.open.at(channel.hSync));
    EXPECT_EQ(2u, world.open.at(channel.hOverlapped));
    EXPECT_EQ((std::vector<DWORD>{0, 0, 0, FILE_FLAG_OVERLAPPED}), world.openFlags);
    EXPECT_EQ(0, world.preparsed) << "every preparsed block is given back";
    EXPECT_EQ(1, world.destroyed);

    // An open channel is kept as it is.
    in = out = 7;
    EXPECT_TRUE(FindHidDevice(&channel, kVelmorVendorId, kVelmorProductR5, &in, &out));
    EXPECT_EQ(7, in);
    EXPECT_EQ(1, world.destroyed);

    CloseHidChannel(&channel);
    EXPECT_TRUE(world.open.empty());
    EXPECT_EQ(0, channel.outputReportLength);
}

TEST_F(HidChannelTest, MissingDeviceOrArgumentsLeaveNothingOpen) {
    world.devices = {{kVelmorVendorId, kVelmorProductR5, 64, 64}};
    HidChannel channel;
    USHORT in = 5, out = 5;
    EXPECT_FALSE(FindHidDevice(&channel, kVelmorVendorId, kVelmorProductR6, &in, &out));
    EXPECT_EQ(0, in);
    EXPECT_EQ(0, out);
    EXPECT_TRUE(world.open.empty());
    EXPECT_EQ(INVALID_HANDLE_VALUE, channel.hSync);

    EXPECT_FALSE(FindHidDevice(&channel, kVelmorVendorId, kVelmorProductR5, &in, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_DATA), GetLastError());
    EXPECT_TRUE(world.open.empty());

    // Nothing to write through: no report.
    SendHidCommand(&channel, 0xF6, 0x61, 0x01, 0);
    EXPECT_TRUE(world.writes.empty());
}

TEST_F(HidChannelTest, ReportsGoThroughTheSynchronousHandleWhichNeedsItsOverlappedTwin) {
    world.devices = {{kVelmorVendorId, kVelmorProductR6, 64, 64}};
    EXPECT_TRUE(SendHidReport(kVelmorVendorId, kVelmorProductR6, 0xF6, 0x61, 0x01, 0));
    EXPECT_EQ(std::vector<DWORD>{0}, world.writeHandleFlags) << "written through the handle opened without overlap";

    // The device matches but its overlapped open fails: not found, nothing left open, nothing written.
    world.overlappedOpenFails = true;
    HidChannel channel;
    USHORT in = 5, out = 5;
    EXPECT_FALSE(FindHidDevice(&channel, kVelmorVendorId, kVelmorProductR6, &in, &out));
    EXPECT_EQ(0, in);
    EXPECT_EQ(0, out);
    EXPECT_TRUE(world.open.empty());
    EXPECT_FALSE(SendHidReport(kVelmorVendorId, kVelmorProductR6, 0xF6, 0x61, 0x00, 0));
    EXPECT_EQ(1u, world.writes.size());
    EXPECT_TRUE(world.open.empty());
}

TEST_F(HidChannelTest, LooksAtTheFirst256InterfacesOnly) {
    world.devices.assign(300, FakeHid{0x1234, 0x0001, 8, 8});
    world.devices[256] = {kVelmorVendorId, kVelmorProductR6, 64, 64};
    HidChannel channel;
    USHORT in = 0, out = 0;
    EXPECT_FALSE(FindHidDevice(&channel, kVelmorVendorId, kVelmorProductR6, &in, &out));
    EXPECT_EQ(255u, world.highestIndex);
    EXPECT_TRUE(world.open.empty());

    world.devices[255] = world.devices[256];
    EXPECT_TRUE(FindHidDevice(&channel, kVelmorVendorId, kVelmorProductR6, &in, &out));
    CloseHidChannel(&channel);
}

TEST_F(HidChannelTest, ReportsAreWrittenAtTheDevicesLength) {
    world.devices = {{kVelmorVendorId, kVelmorProductR5, 64, 64}, {kVelmorVendorId, kVelmorProductR6, 64, 0},
                     {kVelmorVendorId, 0x0453, 64, 100}, {kVelmorVendorId, 0x0454, 64, 5}};

    EXPECT_TRUE(SendHidReport(kVelmorVendorId, kVelmorProductR5, 0xF5, 0x21, 0x32, 0x2E));
    ASSERT_EQ(1u, world.writes.size());
    std::vector<BYTE> expected(64, 0);
    expected[1] = 0xF5;
    expected[2] = 0x21;
    expected[3] = 0x32;
    expected[4] = 0x2E;
    EXPECT_EQ(expected, world.writes[0]);
    EXPECT_TRUE(world.open.empty()) << "both handles closed after the report";

    // Output report length 0: found, nothing written.
    EXPECT_TRUE(SendHidReport(kVelmorVendorId, kVelmorProductR6, 0xF6, 0x61, 0x01, 0));
    EXPECT_EQ(1u, world.writes.size());

    // Longer than 64 bytes: zero-padded to the device's length; shorter: cut.
    EXPECT_TRUE(SendHidReport(kVelmorVendorId, 0x0453, 0xF6, 0x61, 0x02, 0));
    ASSERT_EQ(2u, world.writes.size());
    expected.assign(100, 0);
    expected[1] = 0xF6;
    expected[2] = 0x61;
    expected[3] = 0x02;
    EXPECT_EQ(expected, world.writes[1]);
    EXPECT_TRUE(SendHidReport(kVelmorVendorId, 0x0454, 0xF8, 0x21, 0x35, 1));
    EXPECT_EQ((std::vector<BYTE>{0, 0xF8, 0x21, 0x35, 1}), world.writes[2]);

    EXPECT_FALSE(SendHidReport(kVelmorVendorId, 0x0999, 0xF6, 0x61, 0x00, 0));
    EXPECT_EQ(3u, world.writes.size());
    EXPECT_TRUE(world.open.empty());
}

// The device's audio interface found by service name, and its status property.
HDEVINFO const kAudioSet = reinterpret_cast<HDEVINFO>(0xA0D0);
HDEVINFO const kInstanceSet = reinterpret_cast<HDEVINFO>(0xA0D1);
HANDLE const kAudioHandle = reinterpret_cast<HANDLE>(0xA0D2);

struct FakeAudioDevice {
    std::string service;  // empty: the property cannot be read
    std::string instanceId;
};

struct AudioWorld {
    std::vector<FakeAudioDevice> devices;
    std::string enumerator;  // instance id asked for
    std::string opened;
    int destroyed = 0;
    int closed = 0;
    // Status property.
    bool primaryRefused = false;
    bool secondaryRefused = false;
    DWORD replyLength = 72;
    std::vector<GUID> sets;
};
AudioWorld* g_audio = nullptr;

HDEVINFO WINAPI AudioClassDevs(const GUID* guid, PCSTR enumerator, HWND, DWORD flags) {
    EXPECT_EQ(kKsCategoryAudio, *guid);
    if (!enumerator) {
        EXPECT_EQ(DWORD(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE), flags);
        return kAudioSet;
    }
    EXPECT_EQ(DWORD(DIGCF_DEVICEINTERFACE), flags);
    g_audio->enumerator = enumerator;
    return kInstanceSet;
}

BOOL WINAPI AudioEnumInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) {
    EXPECT_EQ(kAudioSet, set);
    if (index >= g_audio->devices.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->Reserved = index;
    return TRUE;
}

BOOL WINAPI AudioProperty(HDEVINFO, PSP_DEVINFO_DATA data, DWORD property, PDWORD, PBYTE buffer, DWORD size, PDWORD) {
    EXPECT_EQ(DWORD(SPDRP_SERVICE), property);
    const std::string& service = g_audio->devices[data->Reserved].service;
    if (service.empty() || service.size() + 1 > size) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    std::memcpy(buffer, service.c_str(), service.size() + 1);
    return TRUE;
}

BOOL WINAPI AudioInstanceId(HDEVINFO, PSP_DEVINFO_DATA data, PSTR buffer, DWORD size, PDWORD required) {
    const std::string& id = g_audio->devices[data->Reserved].instanceId;
    if (required) *required = static_cast<DWORD>(id.size() + 1);
    if (size < id.size() + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, id.c_str(), id.size() + 1);
    return TRUE;
}

BOOL WINAPI AudioEnumInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID* guid, DWORD index,
                                PSP_DEVICE_INTERFACE_DATA) {
    EXPECT_EQ(kInstanceSet, set);
    EXPECT_EQ(kKsCategoryAudio, *guid);
    return index == 0;
}

BOOL WINAPI AudioDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                        PDWORD required, PSP_DEVINFO_DATA) {
    std::string path = "\\\\?\\" + g_audio->enumerator + "#{audio}";
    DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (required) *required = needed;
    if (!detail || size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

BOOL WINAPI AudioDestroy(HDEVINFO) {
    ++g_audio->destroyed;
    return TRUE;
}

HANDLE WINAPI AudioOpen(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD flags, HANDLE) {
    EXPECT_EQ(DWORD(GENERIC_READ), access);
    EXPECT_EQ(0u, flags) << "the audio interface is opened for synchronous requests";
    g_audio->opened = path;
    return kAudioHandle;
}

BOOL WINAPI AudioStatus(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                        LPOVERLAPPED overlapped) {
    EXPECT_EQ(kAudioHandle, handle);
    EXPECT_EQ(kIoctlKsProperty, code);
    EXPECT_EQ(72u, inSize);
    EXPECT_EQ(72u, outSize);
    EXPECT_EQ(nullptr, overlapped);
    const KSPROPERTY& property = *static_cast<KSPROPERTY*>(in);
    EXPECT_EQ(kVendorStatusPropertyId, property.Id);
    EXPECT_EQ(kKsPropertyTypeGet, property.Flags);
    g_audio->sets.push_back(property.Set);
    bool primary = property.Set == kVendorStatusSetPrimary;
    if (primary ? g_audio->primaryRefused : g_audio->secondaryRefused) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    ULONG reply[18] = {};
    reply[8] = 1;                          // stream flag
    reply[9] = primary ? 0x11 : 0x22;      // passed on
    reply[10] = 176400;                    // rate
    reply[11] = 24;                        // bits
    std::memcpy(out, reply, sizeof(reply));
    *returned = g_audio->replyLength;
    return TRUE;
}

class VendorStatus : public ::testing::Test {
protected:
    void SetUp() override {
        g_audio = &world;
        table = RealDeviceApi();
        table.SetupDiGetClassDevsA = AudioClassDevs;
        table.SetupDiEnumDeviceInfo = AudioEnumInfo;
        table.SetupDiGetDeviceRegistryPropertyA = AudioProperty;
        table.SetupDiGetDeviceInstanceIdA = AudioInstanceId;
        table.SetupDiEnumDeviceInterfaces = AudioEnumInterfaces;
        table.SetupDiGetDeviceInterfaceDetailA = AudioDetail;
        table.SetupDiDestroyDeviceInfoList = AudioDestroy;
        table.CreateFileA = AudioOpen;
        table.DeviceIoControl = AudioStatus;
        InstallDeviceApi(&table);
    }
    void TearDown() override {
        InstallDeviceApi(nullptr);
        g_audio = nullptr;
    }

    AudioWorld world;
    DeviceApiTable table;
};

TEST_F(VendorStatus, OpensTheDeviceOfTheServiceWhateverTheCase) {
    world.devices = {{"usbaudio", "USB\\VID_046D&PID_0A44&MI_01\\1"},
                     {"", "ROOT\\NOSERVICE\\0000"},
                     {"vmr5r6hs", "USB\\VID_3A45&PID_0452&MI_01\\7&1"}};
    HANDLE handle = nullptr;
    ASSERT_EQ(S_OK, OpenAudioDeviceByService(&handle, kServiceHighSpeed));
    EXPECT_EQ(kAudioHandle, handle);
    EXPECT_EQ("USB\\VID_3A45&PID_0452&MI_01\\7&1", world.enumerator);
    EXPECT_EQ("\\\\?\\USB\\VID_3A45&PID_0452&MI_01\\7&1#{audio}", world.opened);
    EXPECT_EQ(2, world.destroyed) << "both device sets are given back";

    world.destroyed = 0;
    EXPECT_EQ(E_FAIL, OpenAudioDeviceByService(&handle, kServiceFullSpeed));
    EXPECT_EQ(INVALID_HANDLE_VALUE, handle);
    EXPECT_EQ(1, world.destroyed);
    EXPECT_EQ(E_FAIL, OpenAudioDeviceByService(nullptr, kServiceHighSpeed));
}

TEST_F(VendorStatus, StatusFromEitherPropertySet) {
    ULONG flag = 0, passed = 0, rate = 0, bits = 0;
    ASSERT_EQ(S_OK, QueryDeviceStreamStatus(kAudioHandle, &flag, &passed, &rate, &bits));
    EXPECT_EQ(1u, flag);
    EXPECT_EQ(0x11u, passed);
    EXPECT_EQ(176400u, rate);
    EXPECT_EQ(24u, bits);
    EXPECT_EQ(1u, world.sets.size());

    world.primaryRefused = true;
    ASSERT_EQ(S_OK, QueryDeviceStreamStatus(kAudioHandle, &flag, &passed, &rate, &bits));
    EXPECT_EQ(0x22u, passed);
    EXPECT_EQ((std::vector<GUID>{kVendorStatusSetPrimary, kVendorStatusSetPrimary, kVendorStatusSetSecondary}),
              world.sets);

    world.secondaryRefused = true;
    EXPECT_EQ(E_FAIL, QueryDeviceStreamStatus(kAudioHandle, &flag, &passed, &rate, &bits));
}

TEST_F(VendorStatus, ShortRepliesAndMissingArgumentsFail) {
    ULONG flag = 9, passed = 9, rate = 9, bits = 9;
    world.replyLength = 47;
    EXPECT_EQ(E_FAIL, QueryDeviceStreamStatus(kAudioHandle, &flag, &passed, &rate, &bits));
    EXPECT_EQ(9u, rate);
    EXPECT_EQ(std::vector<GUID>{kVendorStatusSetPrimary}, world.sets) << "a short answer is not asked again";
    world.replyLength = 48;
    EXPECT_EQ(S_OK, QueryDeviceStreamStatus(kAudioHandle, &flag, &passed, &rate, &bits));
    EXPECT_EQ(24u, bits);

    EXPECT_EQ(E_FAIL, QueryDeviceStreamStatus(kAudioHandle, &flag, nullptr, &rate, &bits));
    EXPECT_EQ(E_FAIL, QueryDeviceStreamStatus(INVALID_HANDLE_VALUE, &flag, &passed, &rate, &bits));
    EXPECT_EQ(E_FAIL, QueryDeviceStreamStatus(nullptr, &flag, &passed, &rate, &bits));
}

}  // namespace
