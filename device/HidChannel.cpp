#include "HidChannel.h"

#include "DeviceApi.h"
#include "KsIrpTarget.h"

#include <cstring>
#include <new>

namespace {

// At most this many HID interfaces are looked at.
constexpr DWORD kMaxHidInterfaces = 256;

HANDLE OpenHidPath(const char* path, DWORD flags) {
    return DeviceApi().CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, flags, nullptr);
}

// True when the open handle is a HID device with these ids whose report
// lengths could be read.
bool Matches(HANDLE handle, USHORT vendorId, USHORT productId, HIDP_CAPS* caps) {
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof(attributes);
    if (!DeviceApi().HidD_GetAttributes(handle, &attributes)) return false;
    if (attributes.VendorID != vendorId || attributes.ProductID != productId) return false;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!DeviceApi().HidD_GetPreparsedData(handle, &preparsed)) return false;
    bool ok = DeviceApi().HidP_GetCaps(preparsed, caps) == HIDP_STATUS_SUCCESS;
    DeviceApi().HidD_FreePreparsedData(preparsed);
    return ok;
}

}  // namespace

BOOL FindHidDevice(HidChannel* channel, USHORT vendorId, USHORT productId, USHORT* inputReportLength,
                   USHORT* outputReportLength) {
    if (!channel || !inputReportLength || !outputReportLength) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    if (CKsIrpTarget::IsValidHandle(channel->hSync) && CKsIrpTarget::IsValidHandle(channel->hOverlapped)) return TRUE;

    GUID hidGuid = {};
    DeviceApi().HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = DeviceApi().SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (!set || set == INVALID_HANDLE_VALUE) return FALSE;

    bool found = false;
    BYTE* buffer = nullptr;
    for (DWORD index = 0; index < kMaxHidInterfaces && !found; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof(interfaceData);
        SetLastError(ERROR_SUCCESS);
        BOOL enumerated = DeviceApi().SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData);
        if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
        if (!enumerated) continue;

        DWORD required = 0;
        DeviceApi().SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &required, nullptr);
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) required = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        delete[] buffer;
        // One zero byte past the announced size: the path always ends inside the buffer.
        buffer = new (std::nothrow) BYTE[required + 1]();
        if (!buffer) break;
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!DeviceApi().SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, required, nullptr, nullptr)) {
            continue;
        }

        CKsIrpTarget::SafeCloseHandle(channel->hSync);
        channel->hSync = OpenHidPath(detail->DevicePath, 0);
        HIDP_CAPS caps = {};
        if (!CKsIrpTarget::IsValidHandle(channel->hSync) || !Matches(channel->hSync, vendorId, productId, &caps)) {
            continue;
        }
        channel->inputReportLength = caps.InputReportByteLength;
        channel->outputReportLength = caps.OutputReportByteLength;
        CKsIrpTarget::SafeCloseHandle(channel->hOverlapped);
        channel->hOverlapped = OpenHidPath(detail->DevicePath, FILE_FLAG_OVERLAPPED);
        found = CKsIrpTarget::IsValidHandle(channel->hOverlapped);
    }
    DeviceApi().SetupDiDestroyDeviceInfoList(set);
    delete[] buffer;

    if (!found) CloseHidChannel(channel);
    *inputReportLength = channel->inputReportLength;
    *outputReportLength = channel->outputReportLength;
    return found ? TRUE : FALSE;
}

void SendHidCommand(HidChannel* channel, BYTE command, BYTE commandClass, BYTE value1, BYTE value2) {
    if (!channel || !CKsIrpTarget::IsValidHandle(channel->hSync) || channel->outputReportLength == 0) return;
    BYTE fixed[kHidReportSize] = {};
    BYTE* report = fixed;
    if (channel->outputReportLength > kHidReportSize) {
        report = new (std::nothrow) BYTE[channel->outputReportLength]();
        if (!report) return;
    }
    report[0] = 0;  // report id
    report[1] = command;
    report[2] = commandClass;
    report[3] = value1;
    report[4] = value2;
    DWORD written = 0;
    DeviceApi().WriteFile(channel->hSync, report, channel->outputReportLength, &written, nullptr);
    if (report != fixed) delete[] report;
}

void CloseHidChannel(HidChannel* channel) {
    if (!channel) return;
    CKsIrpTarget::SafeCloseHandle(channel->hSync);
    CKsIrpTarget::SafeCloseHandle(channel->hOverlapped);
    channel->inputReportLength = 0;
    channel->outputReportLength = 0;
}

BOOL SendHidReport(USHORT vendorId, USHORT productId, BYTE command, BYTE commandClass, BYTE value1, BYTE value2) {
    HidChannel channel;
    USHORT inputLength = 0;
    USHORT outputLength = 0;
    BOOL found = FindHidDevice(&channel, vendorId, productId, &inputLength, &outputLength);
    if (found) SendHidCommand(&channel, command, commandClass, value1, value2);
    CloseHidChannel(&channel);
    return found;
}
