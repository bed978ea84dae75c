#include "FakeKsDevice.h"

#include "device/KsEnumFilters.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

HDEVINFO const kSet = reinterpret_cast<HDEVINFO>(0x5E70);
const GUID kClasses[] = {kKsCategoryAudio, kKsCategoryRender};
const char kNameKey[] = "Software\\VelmorTest\\InterfaceKey";

struct FakeInterface {
    std::string path;
    bool aliasMissing = false;
    DWORD aliasFlags = SPINT_ACTIVE;
    bool openKey = false;
    std::string deviceFriendlyName;
    std::string deviceDescription;
};

struct FakeSetup {
    std::vector<FakeInterface> interfaces;
    bool noSet = false;
    int destroyed = 0;
    std::vector<GUID> aliasClasses;
};
FakeSetup* g_setup = nullptr;

const FakeInterface& Of(PSP_DEVICE_INTERFACE_DATA data) { return g_setup->interfaces[data->Reserved - 1]; }

HDEVINFO WINAPI GetClassDevs(const GUID* guid, PCSTR enumerator, HWND, DWORD flags) {
    EXPECT_EQ(kKsCategoryAudio, *guid);
    EXPECT_EQ(nullptr, enumerator);
    EXPECT_EQ(DWORD(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE), flags);
    return g_setup->noSet ? INVALID_HANDLE_VALUE : kSet;
}

BOOL WINAPI EnumInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID*, DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    EXPECT_EQ(kSet, set);
    if (index >= g_setup->interfaces.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->Reserved = index + 1;
    data->Flags = SPINT_ACTIVE;
    return TRUE;
}

BOOL WINAPI GetDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                      PDWORD required, PSP_DEVINFO_DATA device) {
    const std::string& path = Of(data).path;
    const DWORD header = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    EXPECT_EQ(DWORD(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)), detail->cbSize);
    if (required) *required = header + static_cast<DWORD>(path.size()) + 1;
    // An overlong path fills the buffer to its last byte, without terminator.
    DWORD room = size - header;
    if (path.size() >= room) {
        std::memcpy(detail->DevicePath, path.data(), room);
    } else {
        std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    }
    if (device) device->Reserved = data->Reserved;
    return TRUE;
}

BOOL WINAPI GetAlias(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data, const GUID* aliasClass, PSP_DEVICE_INTERFACE_DATA alias) {
    g_setup->aliasClasses.push_back(*aliasClass);
    if (Of(data).aliasMissing) {
        SetLastError(ERROR_NO_SUCH_INTERFACE_DEVICE);
        return FALSE;
    }
    alias->Flags = Of(data).aliasFlags;
    return TRUE;
}

HKEY WINAPI OpenKey(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data, DWORD, REGSAM) {
    HKEY key = nullptr;
    if (!Of(data).openKey || RegOpenKeyExA(HKEY_CURRENT_USER, kNameKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return static_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    return key;
}

BOOL WINAPI GetProperty(HDEVINFO, PSP_DEVINFO_DATA device, DWORD property, PDWORD, PBYTE buffer, DWORD size, PDWORD) {
    const FakeInterface& item = g_setup->interfaces[device->Reserved - 1];
    const std::string& value = property == SPDRP_FRIENDLYNAME ? item.deviceFriendlyName : item.deviceDescription;
    if (value.empty() || value.size() + 1 > size) {
        SetLastError(value.empty() ? ERROR_INVALID_DATA : ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return TRUE;
}

BOOL WINAPI Destroy(HDEVINFO set) {
    EXPECT_EQ(kSet, set);
    ++g_setup->destroyed;
    return TRUE;
}

std::string Link(int n) { return "\\\\?\\usb#vid_3a45&pid_0451&mi_01#" + std::to_string(n) + "#{audio}\\global"; }

class KsEnumFilters : public KsFakeTest {
protected:
    void SetUp() override {
        KsFakeTest::SetUp();
        g_setup = &setup;
        table.SetupDiGetClassDevsA = GetClassDevs;
        table.SetupDiEnumDeviceInterfaces = EnumInterfaces;
        table.SetupDiGetDeviceInterfaceDetailA = GetDetail;
        table.SetupDiGetDeviceInterfaceAlias = GetAlias;
        table.SetupDiOpenDeviceInterfaceRegKey = OpenKey;
        table.SetupDiGetDeviceRegistryPropertyA = GetProperty;
        table.SetupDiDestroyDeviceInfoList = Destroy;
        FakeKsPin pin;
        pin.AddRange(AudioRange(2, 16, 32, 44100, 384000));
        device.pins = {pin};
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\VelmorTest");
    }
    void TearDown() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\VelmorTest");
        g_setup = nullptr;
        KsFakeTest::TearDown();
    }

    void Add(const std::string& path, bool openable = true) {
        FakeInterface item;
        item.path = path;
        setup.interfaces.push_back(item);
        if (openable) device.openable.insert(path);
    }

    std::vector<std::string> Found(CKsEnumFilters& enumerator) {
        std::vector<std::string> links;
        for (auto* entry = enumerator.Filters().Head(); entry; entry = entry->next) {
            links.push_back(entry->item->SymbolicLink());
        }
        return links;
    }

    FakeSetup setup;
};

TEST_F(KsEnumFilters, KeepsInterfacesEnabledInEveryClassThatOpen) {
    for (int n = 0; n < 6; ++n) Add(Link(n), n != 4);
    setup.interfaces[1].aliasMissing = true;
    setup.interfaces[2].aliasFlags = SPINT_ACTIVE | SPINT_REMOVED;
    setup.interfaces[3].aliasFlags = 0;

    HRESULT hr = E_FAIL;
    CKsEnumFilters enumerator(&hr);
    EXPECT_EQ(S_OK, hr);
    ASSERT_EQ(S_OK, enumerator.EnumFilters(kClasses, 2));
    EXPECT_EQ((std::vector<std::string>{Link(0), Link(5)}), Found(enumerator));
    EXPECT_EQ(kKsCategoryRender, setup.aliasClasses[0]);
    EXPECT_EQ(1, setup.destroyed);

    // Open, with pins, as render filters.
    CKsFilter* filter = enumerator.Filters().Head()->item;
    EXPECT_EQ(kKsFilterRender, filter->Type());
    EXPECT_EQ(kFakeFilterHandle, filter->Handle());
    EXPECT_EQ(1u, filter->RenderSinkPins().Count());
    EXPECT_STREQ("", filter->FriendlyName());

    // Interfaces 1 to 3 were skipped before any filter was made for them.
    EXPECT_EQ(3u, device.createFlags.size());

    // A new pass drops the earlier filters; one class alone needs no alias.
    ASSERT_EQ(S_OK, enumerator.EnumFilters(kClasses, 1));
    EXPECT_EQ((std::vector<std::string>{Link(0), Link(1), Link(2), Link(3), Link(5)}), Found(enumerator));
    EXPECT_EQ(6u, setup.aliasClasses.size());
}

TEST_F(KsEnumFilters, FailsWhenNothingCanBeOpened) {
    HRESULT hr = E_FAIL;
    CKsEnumFilters enumerator(&hr);
    EXPECT_EQ(E_FAIL, enumerator.EnumFilters(kClasses, 2)) << "no interfaces";
    EXPECT_EQ(1, setup.destroyed);

    Add(Link(0), false);
    Add(Link(1));
    device.pins[0].communication = KSPIN_COMMUNICATION_NONE;  // opens, but has no audio pins
    EXPECT_EQ(E_FAIL, enumerator.EnumFilters(kClasses, 2));
    EXPECT_TRUE(enumerator.Filters().IsEmpty());

    const GUID none[] = {GUID{}, kKsCategoryRender};
    EXPECT_EQ(E_FAIL, enumerator.EnumFilters(none, 2));
    EXPECT_EQ(E_FAIL, enumerator.EnumFilters(nullptr, 2));
    setup.noSet = true;
    EXPECT_EQ(E_FAIL, enumerator.EnumFilters(kClasses, 2));
    EXPECT_EQ(2, setup.destroyed);
}

TEST_F(KsEnumFilters, OverlongPathsAreCutInsideTheirBuffers) {
    std::string path = "\\\\?\\" + std::string(600, 'p');  // longer than the 520-byte detail buffer
    Add(path, false);
    device.openable.insert(path.substr(0, 259));
    HRESULT hr = E_FAIL;
    CKsEnumFilters enumerator(&hr);
    ASSERT_EQ(S_OK, enumerator.EnumFilters(kClasses, 2));
    EXPECT_EQ((std::vector<std::string>{path.substr(0, 259)}), Found(enumerator));
}

TEST_F(KsEnumFilters, FriendlyNameFromTheInterfaceKeyOrTheDevice) {
    for (int n = 0; n < 4; ++n) Add(Link(n));
    for (FakeInterface& item : setup.interfaces) item.openKey = true;
    setup.interfaces[1].deviceFriendlyName = "Velmor R6 (device)";
    setup.interfaces[1].deviceDescription = "USB Audio";
    setup.interfaces[2].deviceDescription = "USB Audio";
    setup.interfaces[3].openKey = false;
    setup.interfaces[3].deviceFriendlyName = "never read";

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kNameKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &key, nullptr));
    std::string longName(300, 'n');
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "FriendlyName", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(longName.c_str()), 301));

    // A name too long for the buffer is not taken; the device's own is.
    HRESULT hr = E_FAIL;
    CKsEnumFilters enumerator(&hr);
    ASSERT_EQ(S_OK, enumerator.EnumFilters(kClasses, 2));
    std::vector<std::string> names;
    for (auto* entry = enumerator.Filters().Head(); entry; entry = entry->next) {
        names.push_back(entry->item->FriendlyName());
    }
    EXPECT_EQ((std::vector<std::string>{"", "Velmor R6 (device)", "USB Audio", ""}), names);

    // The interface's own name, when it has one, comes first; the longest
    // that fits fills the buffer.
    std::string exact(259, 'e');
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, "FriendlyName", 0, REG_SZ, reinterpret_cast<const BYTE*>(exact.c_str()), 260));
    RegCloseKey(key);
    ASSERT_EQ(S_OK, enumerator.EnumFilters(kClasses, 2));
    EXPECT_EQ(exact, enumerator.Filters().Head()->item->FriendlyName());
}

}  // namespace
