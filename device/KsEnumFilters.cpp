#include "KsEnumFilters.h"

#include "DeviceApi.h"
#include "KsFilter.h"
#include "KsTrace.h"

#include <cstring>
#include <new>

namespace {

constexpr DWORD kDevicePathBytes = 520;

// Reads a device property into the name buffer; true when a name came back.
bool ReadDeviceName(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, char* name, DWORD size) {
    std::memset(name, 0, size);
    if (!DeviceApi().SetupDiGetDeviceRegistryPropertyA(set, device, property, nullptr, reinterpret_cast<BYTE*>(name),
                                                       size, nullptr)) {
        std::memset(name, 0, size);
        return false;
    }
    name[size - 1] = '\0';  // a value that fills the buffer is cut
    return name[0] != '\0';
}

// The interface's own "FriendlyName", else the device's friendly name, else
// its description. Stays empty when the interface key cannot be opened.
void LookUpFriendlyName(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData, SP_DEVINFO_DATA* device, char* name,
                        DWORD size) {
    std::memset(name, 0, size);
    HKEY key = DeviceApi().SetupDiOpenDeviceInterfaceRegKey(set, interfaceData, 0, KEY_READ);
    if (!key || key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) return;

    DWORD type = 0;
    DWORD length = size;
    LONG status = RegQueryValueExA(key, "FriendlyName", nullptr, &type, reinterpret_cast<BYTE*>(name), &length);
    RegCloseKey(key);
    name[size - 1] = '\0';  // a value stored without terminator is cut
    if (status == ERROR_SUCCESS && type == REG_SZ && name[0] != '\0') return;
    std::memset(name, 0, size);

    if (ReadDeviceName(set, device, SPDRP_FRIENDLYNAME, name, size)) return;
    ReadDeviceName(set, device, SPDRP_DEVICEDESC, name, size);
}

}  // namespace

CKsEnumFilters::CKsEnumFilters(HRESULT* hr) {
    TraceEnter("CKsEnumFilters::CKsEnumFilters()");
    if (hr) *hr = S_OK;
    TraceLeave("CKsEnumFilters::CKsEnumFilters()");
}

CKsEnumFilters::~CKsEnumFilters() {
    TraceEnter("CKsEnumFilters::~CKsEnumFilters()");
    CKsEnumFilters::DestroyLists();
    TraceLeave("CKsEnumFilters::~CKsEnumFilters()");
}

HRESULT CKsEnumFilters::DestroyLists() {
    TraceEnter("CKsEnumFilters::DestroyLists()");
    m_listFilters.DeleteAll();
    return TraceLeave("CKsEnumFilters::DestroyLists", S_OK);
}

HRESULT CKsEnumFilters::EnumFilters(const GUID* classes, ULONG count) {
    TraceEnter("CKsEnumFilters::EnumFilters()");
    DestroyLists();

    HRESULT hr = S_OK;
    static constexpr GUID kNullGuid = {};
    if (classes && count > 0 && classes[0] != kNullGuid) {
        HDEVINFO set = DeviceApi().SetupDiGetClassDevsA(&classes[0], nullptr, nullptr,
                                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (!set || set == INVALID_HANDLE_VALUE) {
            TraceMessage(4, "No devices found");
            return TraceLeave("CKsEnumFilters::EnumFilters", E_FAIL);
        }

        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof(interfaceData);
        for (DWORD index = 0;
             DeviceApi().SetupDiEnumDeviceInterfaces(set, nullptr, &classes[0], index, &interfaceData); ++index) {
            // One byte more than announced, always zero: the path ends inside the buffer.
            const DWORD detailSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) + kDevicePathBytes;
            BYTE* buffer = new (std::nothrow) BYTE[detailSize + 1]();
            if (!buffer) {
                TraceMessage(4, "Failed to allocate SP_DEVICE_INTERFACE_DETAIL_DATA structure");
                hr = E_OUTOFMEMORY;
                break;
            }
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            SP_DEVINFO_DATA device = {};
            device.cbSize = sizeof(device);
            if (!DeviceApi().SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, detailSize, nullptr,
                                                              &device)) {
                delete[] buffer;
                continue;
            }

            bool enabledEverywhere = true;
            for (ULONG other = 1; other < count && enabledEverywhere; ++other) {
                SP_DEVICE_INTERFACE_DATA alias = {};
                alias.cbSize = sizeof(alias);
                if (!DeviceApi().SetupDiGetDeviceInterfaceAlias(set, &interfaceData, &classes[other], &alias)) {
                    TraceMessage(5, "Failed to get requested DeviceInterfaceAlias");
                    enabledEverywhere = false;
                } else if (alias.Flags == 0 || (alias.Flags & SPINT_REMOVED)) {
                    TraceMessage(5, "DeviceInterfaceAlias disabled.");
                    enabledEverywhere = false;
                }
            }
            if (!enabledEverywhere) {
                delete[] buffer;
                continue;
            }

            char friendlyName[kKsNameSize];
            LookUpFriendlyName(set, &interfaceData, &device, friendlyName, sizeof(friendlyName));

            HRESULT filterHr = S_OK;
            CKsAudRenFilter* filter = new (std::nothrow) CKsAudRenFilter(detail->DevicePath, friendlyName, &filterHr);
            if (filter) {
                if (SUCCEEDED(filterHr)) filterHr = filter->Instantiate();
                if (SUCCEEDED(filterHr)) filterHr = filter->EnumeratePins();
                if (SUCCEEDED(filterHr)) filterHr = m_listFilters.AddTail(filter);
            }
            if (!filter || FAILED(filterHr)) {
                delete filter;
                TraceMessage(1, "Failed to create filter for %s", detail->DevicePath);
            }
            delete[] buffer;
        }
        DeviceApi().SetupDiDestroyDeviceInfoList(set);
    }

    if (SUCCEEDED(hr) && m_listFilters.IsEmpty()) hr = E_FAIL;
    return TraceLeave("CKsEnumFilters::EnumFilters", hr);
}
