#include "SimSetupApi.h"

#include "SimGuids.h"
#include "SimModel.h"
#include "SimState.h"
#include "device/SupportedDevices.h"

#include <cstring>
#include <new>
#include <set>
#include <vector>

namespace sim {

namespace {

constexpr uint32_t kSetMagic = 0x53455456;  // "VTES"
constexpr uint16_t kForeignVendorId = 0x046D;
constexpr uint16_t kSiblingProductId = 0x04F0;  // the firmware-update interface
constexpr uint32_t kSiblingIndex = 1000;
constexpr uint32_t kDeviceHidIndex = 2000;

struct Device {
    std::string instanceId;
    std::string service;
    std::string description;
    std::string hardwareIds;     // REG_MULTI_SZ
    bool audio;
};

struct Interface {
    std::string path;
    GUID cls;
    uint32_t device;
    bool listed;                 // enumerated in this set (others are reachable as aliases)
    bool removedAlias;
};

struct DevInfoSet {
    uint32_t magic = kSetMagic;
    std::vector<Device> devices;
    std::vector<Interface> interfaces;
};

std::set<DevInfoSet*>& LiveSets() {
    static auto* sets = new std::set<DevInfoSet*>;
    return *sets;
}

CRITICAL_SECTION* SetLock() {
    static CRITICAL_SECTION* section = [] {
        auto* cs = new CRITICAL_SECTION;
        InitializeCriticalSection(cs);
        return cs;
    }();
    return section;
}

DevInfoSet* FindSet(HDEVINFO handle) {
    EnterCriticalSection(SetLock());
    auto* set = static_cast<DevInfoSet*>(handle);
    bool live = LiveSets().count(set) != 0;
    LeaveCriticalSection(SetLock());
    if (!live) SetLastError(ERROR_INVALID_HANDLE);
    return live ? set : nullptr;
}

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

bool SameText(const std::string& a, const char* b) { return b && lstrcmpiA(a.c_str(), b) == 0; }

// Every device and interface the machine has right now.
void Inventory(const Config& config, bool present, std::vector<Device>& devices, std::vector<Interface>& interfaces) {
    for (uint32_t i = 0; i < config.hidExtraInterfaces; ++i) {
        devices.push_back({HidInstanceId(kForeignVendorId, static_cast<uint16_t>(0xC000 + i), i), "HidUsb",
                           "HID-compliant device", "", false});
        interfaces.push_back({HidInterfacePath(kForeignVendorId, static_cast<uint16_t>(0xC000 + i), i), kHidClass,
                              static_cast<uint32_t>(devices.size() - 1), false, false});
    }
    if (!present) return;
    uint16_t product = ProductId(config);
    devices.push_back({HidInstanceId(kVelmorVendorId, kSiblingProductId, kSiblingIndex), "HidUsb",
                       "HID-compliant vendor-defined device", "", false});
    interfaces.push_back({HidInterfacePath(kVelmorVendorId, kSiblingProductId, kSiblingIndex), kHidClass,
                          static_cast<uint32_t>(devices.size() - 1), false, false});
    devices.push_back({HidInstanceId(kVelmorVendorId, product, kDeviceHidIndex), "HidUsb",
                       "HID-compliant vendor-defined device", "", false});
    interfaces.push_back({HidInterfacePath(kVelmorVendorId, product, kDeviceHidIndex), kHidClass,
                          static_cast<uint32_t>(devices.size() - 1), false, false});

    char ids[160];
    int n = snprintf(ids, sizeof(ids), "USB\\VID_%04X&PID_%04X&REV_0107&MI_%02X", kVelmorVendorId, product,
                     kVelmorAudioInterface);
    snprintf(ids + n + 1, sizeof(ids) - n - 1, "USB\\VID_%04X&PID_%04X&MI_%02X", kVelmorVendorId, product,
             kVelmorAudioInterface);
    std::string hardwareIds(ids, n + 1 + std::strlen(ids + n + 1) + 1);
    hardwareIds.push_back('\0');
    devices.push_back({AudioInstanceId(config), ServiceName(config), DeviceDescription(config), hardwareIds, true});
    uint32_t audio = static_cast<uint32_t>(devices.size() - 1);
    interfaces.push_back({AudioInterfacePath(config, kCategoryAudio), kCategoryAudio, audio, false, false});
    if (config.alias != kAliasMissing) {
        interfaces.push_back({AudioInterfacePath(config, kCategoryRender), kCategoryRender, audio, false,
                              config.alias == kAliasRemoved});
    }
    if (config.model != kModelR5) {
        interfaces.push_back({AudioInterfacePath(config, kCategoryCapture), kCategoryCapture, audio, false, false});
    }
}

Interface* FindInterface(DevInfoSet& set, PSP_DEVICE_INTERFACE_DATA data) {
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    if (data->Reserved == 0 || data->Reserved > set.interfaces.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &set.interfaces[data->Reserved - 1];
}

Device* FindDevice(DevInfoSet& set, PSP_DEVINFO_DATA data) {
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    if (data->Reserved == 0 || data->Reserved > set.devices.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &set.devices[data->Reserved - 1];
}

void FillDevice(DevInfoSet& set, uint32_t index, PSP_DEVINFO_DATA data) {
    data->ClassGuid = set.devices[index].audio ? kCategoryAudio : kHidClass;
    data->DevInst = index + 1;
    data->Reserved = index + 1;
}

void FillInterface(const Interface& iface, uint32_t index, PSP_DEVICE_INTERFACE_DATA data) {
    data->InterfaceClassGuid = iface.cls;
    data->Flags = iface.removedAlias ? SPINT_REMOVED : SPINT_ACTIVE;
    data->Reserved = index + 1;
}

// The two-call size protocol of SetupAPI string answers.
BOOL ReplyBytes(const void* data, DWORD size, PBYTE buffer, DWORD bufferSize, PDWORD required) {
    if (required) *required = size;
    if (!buffer || bufferSize < size) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, data, size);
    return TRUE;
}

}  // namespace

HDEVINFO WINAPI SimSetupDiGetClassDevsA(const GUID* cls, PCSTR enumerator, HWND, DWORD flags) {
    SharedState* state = State();
    if (!state) return INVALID_HANDLE_VALUE;
    if (!cls || !(flags & DIGCF_DEVICEINTERFACE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<Device> devices;
    std::vector<Interface> interfaces;
    Inventory(state->config, state->present != 0, devices, interfaces);

    auto* set = new (std::nothrow) DevInfoSet;
    if (!set) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<int> map(devices.size(), -1);
    for (const Interface& iface : interfaces) {
        if (!SameGuid(iface.cls, *cls)) continue;
        if (enumerator && *enumerator && !SameText(devices[iface.device].instanceId, enumerator)) continue;
        if (map[iface.device] < 0) {
            map[iface.device] = static_cast<int>(set->devices.size());
            set->devices.push_back(devices[iface.device]);
        }
    }
    // Listed interfaces first, in machine order; the same devices' others follow as aliases.
    for (int pass = 0; pass < 2; ++pass) {
        for (const Interface& iface : interfaces) {
            bool listed = SameGuid(iface.cls, *cls);
            if (map[iface.device] < 0 || listed != (pass == 0)) continue;
            Interface copy = iface;
            copy.device = static_cast<uint32_t>(map[iface.device]);
            copy.listed = listed && !iface.removedAlias;
            set->interfaces.push_back(copy);
        }
    }
    EnterCriticalSection(SetLock());
    LiveSets().insert(set);
    LeaveCriticalSection(SetLock());
    return set;
}

BOOL WINAPI SimSetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA device, const GUID* cls, DWORD index,
                                           PSP_DEVICE_INTERFACE_DATA data) {
    DevInfoSet* set = FindSet(handle);
    if (!set) return FALSE;
    if (!cls) return Fail(ERROR_INVALID_PARAMETER);
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    uint32_t onlyDevice = UINT32_MAX;
    if (device) {
        if (!FindDevice(*set, device)) return FALSE;
        onlyDevice = static_cast<uint32_t>(device->Reserved - 1);
    }
    DWORD seen = 0;
    for (uint32_t i = 0; i < set->interfaces.size(); ++i) {
        const Interface& iface = set->interfaces[i];
        if (!iface.listed || !SameGuid(iface.cls, *cls)) continue;
        if (onlyDevice != UINT32_MAX && iface.device != onlyDevice) continue;
        if (seen++ == index) {
            FillInterface(iface, i, data);
            return TRUE;
        }
    }
    return Fail(ERROR_NO_MORE_ITEMS);
}

BOOL WINAPI SimSetupDiGetDeviceInterfaceDetailA(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                                PDWORD required, PSP_DEVINFO_DATA device) {
    DevInfoSet* set = FindSet(handle);
    if (!set) return FALSE;
    Interface* iface = FindInterface(*set, data);
    if (!iface) return FALSE;
    DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + iface->path.size() + 1);
    if (required) *required = needed;
    if (detail && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (!detail || size < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (device) {
        if (device->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
        FillDevice(*set, iface->device, device);
    }
    std::memcpy(detail->DevicePath, iface->path.c_str(), iface->path.size() + 1);
    return TRUE;
}

BOOL WINAPI SimSetupDiGetDeviceInterfaceAlias(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data, const GUID* cls,
                                              PSP_DEVICE_INTERFACE_DATA alias) {
    DevInfoSet* set = FindSet(handle);
    if (!set) return FALSE;
    Interface* iface = FindInterface(*set, data);
    if (!iface) return FALSE;
    if (!cls) return Fail(ERROR_INVALID_PARAMETER);
    if (!alias || alias->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    for (uint32_t i = 0; i < set->interfaces.size(); ++i) {
        const Interface& other = set->interfaces[i];
        if (other.device == iface->device && SameGuid(other.cls, *cls)) {
            FillInterface(other, i, alias);
            return TRUE;
        }
    }
    return Fail(ERROR_NO_SUCH_INTERFACE_DEVICE);
}

BOOL WINAPI SimSetupDiEnumDeviceInfo(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA device) {
    DevInfoSet* set = FindSet(handle);
    if (!set) return FALSE;
    if (!device || device->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (index >= set->devices.size()) return Fail(ERROR_NO_MORE_ITEMS);
    FillDevice(*set, index, device);
    return TRUE;
}

BOOL WINAPI SimSetupDiGetDeviceRegistryPropertyA(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property,
                                                 PDWORD type, PBYTE buffer, DWORD size, PDWORD required) {
    DevInfoSet* set = FindSet(handle);
    if (!set) return FALSE;
    Device* device = FindDevice(*set, data);
    if (!device) return FALSE;
    const std::string* text = nullptr;
    DWORD valueType = REG_SZ;
    switch (property) {
    case SPDRP_SERVICE: text = &device->service; break;
    case SPDRP_DEVICEDESC: text = &device->description; break;
    case SPDRP_HARDWAREID:
        if (device->hardwareIds.empty()) return Fail(ERROR_INVALID_DATA);
        if (type) *type = REG_MULTI_SZ;
        return ReplyBytes(device->hardwareIds.data(), static_cast<DWORD>(device->hardwareIds.size()), buffer, size,
                          required);
    default: return Fail(ERROR_INVALID_DATA);
    }
    if (type) *type = valueType;
    return ReplyBytes(text->c_str(), static_cast<DWORD>(text->size() + 1), buffer, size, required);
}

BOOL WINAPI SimSetupDiGetDeviceInstanceIdA(HDEVINFO handle, PSP_DEVINFO_DATA data, PSTR buffer, DWORD size,
                                           PDWORD required) {
    DevInfoSet* set = FindSet(handle);
    if (!set) return FALSE;
    Device* device = FindDevice(*set, data);
    if (!device) return FALSE;
    return ReplyBytes(device->instanceId.c_str(), static_cast<DWORD>(device->instanceId.size() + 1),
                      reinterpret_cast<PBYTE>(buffer), size, required);
}

// The device's interfaces carry no registry key of their own: callers then
// fall back to their own name for the device.
HKEY WINAPI SimSetupDiOpenDeviceInterfaceRegKey(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data, DWORD, REGSAM) {
    DevInfoSet* set = FindSet(handle);
    if (set && FindInterface(*set, data)) SetLastError(ERROR_FILE_NOT_FOUND);
    return static_cast<HKEY>(INVALID_HANDLE_VALUE);
}

BOOL WINAPI SimSetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    EnterCriticalSection(SetLock());
    auto* set = static_cast<DevInfoSet*>(handle);
    bool live = LiveSets().erase(set) != 0;
    LeaveCriticalSection(SetLock());
    if (!live) return Fail(ERROR_INVALID_HANDLE);
    delete set;
    return TRUE;
}

bool ResolvePath(const char* path, PathTarget& target, bool& present) {
    SharedState* state = State();
    if (!state || !path) return false;
    // Paths of the device as it would be plugged in, and the foreign HID ones.
    std::vector<Device> devices;
    std::vector<Interface> interfaces;
    Inventory(state->config, true, devices, interfaces);
    for (const Interface& iface : interfaces) {
        if (!SameText(iface.path, path)) continue;
        const Device& device = devices[iface.device];
        target = PathTarget();
        target.audio = device.audio;
        target.hid = !device.audio;
        if (target.hid) {
            // "HID\VID_xxxx&PID_xxxx..."
            target.vendorId = static_cast<uint16_t>(strtoul(device.instanceId.c_str() + 8, nullptr, 16));
            target.productId = static_cast<uint16_t>(strtoul(device.instanceId.c_str() + 17, nullptr, 16));
            target.deviceHid = target.vendorId == kVelmorVendorId && target.productId == ProductId(state->config);
        }
        bool foreign = target.hid && target.vendorId != kVelmorVendorId;
        present = foreign || state->present;
        return true;
    }
    return false;
}

std::string NoticePath(const GUID& cls) {
    SharedState* state = State();
    if (!state) return std::string();
    const Config& config = state->config;
    if (SameGuid(cls, kHidClass)) return HidInterfacePath(kVelmorVendorId, ProductId(config), kDeviceHidIndex);
    if (SameGuid(cls, kUsbDeviceClass)) return UsbDevicePath(kVelmorVendorId, ProductId(config));
    if (SameGuid(cls, kCategoryAudio) || SameGuid(cls, kCategoryRender) ||
        (SameGuid(cls, kCategoryCapture) && config.model != kModelR5)) {
        return AudioInterfacePath(config, cls);
    }
    return std::string();
}

}  // namespace sim
