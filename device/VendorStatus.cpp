#include "VendorStatus.h"

#include "DeviceApi.h"
#include "KsConstants.h"
#include "KsIrpTarget.h"

#include <cstring>
#include <new>

namespace {

constexpr DWORD kServiceNameBytes = 128;
constexpr DWORD kStatusRequestSize = 72;  // KSPROPERTY and 48 zero bytes
constexpr DWORD kStatusReplySize = 72;
constexpr DWORD kStatusReplyMinimum = 48;
constexpr LCID kEnglishUs = 1033;

// Finds the device driven by the service; false when none is.
bool FindDeviceByService(HDEVINFO set, const char* serviceName, SP_DEVINFO_DATA* device) {
    for (DWORD index = 0;; ++index) {
        device->cbSize = sizeof(*device);
        if (!DeviceApi().SetupDiEnumDeviceInfo(set, index, device)) return false;
        char service[kServiceNameBytes] = {};
        // A device without a readable service is simply not the one looked for.
        if (!DeviceApi().SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_SERVICE, nullptr,
                                                           reinterpret_cast<BYTE*>(service), sizeof(service), nullptr)) {
            continue;
        }
        service[sizeof(service) - 1] = '\0';
        if (CompareStringA(kEnglishUs, NORM_IGNORECASE, service, -1, serviceName, -1) == CSTR_EQUAL) return true;
    }
}

// The device's instance id in a zero-filled LocalAlloc block, or null.
char* InstanceId(HDEVINFO set, SP_DEVINFO_DATA* device) {
    DWORD required = 0;
    if (DeviceApi().SetupDiGetDeviceInstanceIdA(set, device, nullptr, 0, &required) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0) {
        return nullptr;
    }
    char* id = static_cast<char*>(LocalAlloc(LPTR, required + 1));
    if (!id) return nullptr;
    if (!DeviceApi().SetupDiGetDeviceInstanceIdA(set, device, id, required, nullptr)) {
        LocalFree(id);
        return nullptr;
    }
    return id;
}

// Opens the first audio interface of one device instance.
HANDLE OpenFirstAudioInterface(const char* instanceId) {
    HDEVINFO set = DeviceApi().SetupDiGetClassDevsA(&kKsCategoryAudio, instanceId, nullptr, DIGCF_DEVICEINTERFACE);
    if (!set || set == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;

    HANDLE handle = INVALID_HANDLE_VALUE;
    SP_DEVICE_INTERFACE_DATA interfaceData = {};
    interfaceData.cbSize = sizeof(interfaceData);
    DWORD required = 0;
    if (DeviceApi().SetupDiEnumDeviceInterfaces(set, nullptr, &kKsCategoryAudio, 0, &interfaceData) &&
        !DeviceApi().SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &required, nullptr) &&
        GetLastError() == ERROR_INSUFFICIENT_BUFFER && required >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        // One zero byte past the announced size: the path always ends inside the block.
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(LocalAlloc(LPTR, required + 1));
        if (detail) {
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            if (DeviceApi().SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, required, nullptr,
                                                             nullptr)) {
                handle = DeviceApi().CreateFileA(detail->DevicePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 nullptr, OPEN_EXISTING, 0, nullptr);
            }
            LocalFree(detail);
        }
    }
    DeviceApi().SetupDiDestroyDeviceInfoList(set);
    return handle;
}

bool AskStatus(HANDLE handle, BYTE* block, const GUID& set, DWORD* returned) {
    std::memset(block, 0, kStatusRequestSize + kStatusReplySize);
    KSPROPERTY* request = reinterpret_cast<KSPROPERTY*>(block);
    request->Set = set;
    request->Id = kVendorStatusPropertyId;
    request->Flags = kKsPropertyTypeGet;
    *returned = 0;
    return DeviceApi().DeviceIoControl(handle, kIoctlKsProperty, block, kStatusRequestSize, block + kStatusRequestSize,
                                       kStatusReplySize, returned, nullptr) != FALSE;
}

}  // namespace

HRESULT OpenAudioDeviceByService(HANDLE* handle, const char* serviceName) {
    if (!handle || !serviceName) return E_FAIL;
    *handle = INVALID_HANDLE_VALUE;

    HDEVINFO set =
        DeviceApi().SetupDiGetClassDevsA(&kKsCategoryAudio, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (!set || set == INVALID_HANDLE_VALUE) return E_FAIL;

    HANDLE opened = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA device = {};
    if (FindDeviceByService(set, serviceName, &device)) {
        char* instanceId = InstanceId(set, &device);
        if (instanceId) {
            opened = OpenFirstAudioInterface(instanceId);
            LocalFree(instanceId);
        }
    }
    DeviceApi().SetupDiDestroyDeviceInfoList(set);

    if (!CKsIrpTarget::IsValidHandle(opened)) return E_FAIL;
    *handle = opened;
    return S_OK;
}

HRESULT QueryDeviceStreamStatus(HANDLE handle, ULONG* streamFlag, ULONG* reserved, ULONG* sampleRate,
                                ULONG* bitsPerSample) {
    if (!streamFlag || !reserved || !sampleRate || !bitsPerSample || !CKsIrpTarget::IsValidHandle(handle)) {
        return E_FAIL;
    }
    BYTE* block = new (std::nothrow) BYTE[kStatusRequestSize + kStatusReplySize]();
    if (!block) return E_FAIL;

    HRESULT hr = E_FAIL;
    DWORD returned = 0;
    if (AskStatus(handle, block, kVendorStatusSetPrimary, &returned) ||
        AskStatus(handle, block, kVendorStatusSetSecondary, &returned)) {
        if (returned >= kStatusReplyMinimum) {
            const BYTE* reply = block + kStatusRequestSize;
            std::memcpy(streamFlag, reply + 32, sizeof(ULONG));
            std::memcpy(reserved, reply + 36, sizeof(ULONG));
            std::memcpy(sampleRate, reply + 40, sizeof(ULONG));
            std::memcpy(bitsPerSample, reply + 44, sizeof(ULONG));
            hr = S_OK;
        }
    }
    delete[] block;
    return hr;
}
