// SetupAPI as the virtual device presents itself: its audio interface in
// KSCATEGORY_AUDIO with render (and capture) aliases, its HID interface after
// a sibling of the same vendor and any foreign HID interfaces.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>

namespace sim {

HDEVINFO WINAPI SimSetupDiGetClassDevsA(const GUID* cls, PCSTR enumerator, HWND, DWORD flags);
BOOL WINAPI SimSetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* cls, DWORD index,
                                           PSP_DEVICE_INTERFACE_DATA data);
BOOL WINAPI SimSetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                                PDWORD required, PSP_DEVINFO_DATA device);
BOOL WINAPI SimSetupDiGetDeviceInterfaceAlias(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data, const GUID* cls,
                                              PSP_DEVICE_INTERFACE_DATA alias);
BOOL WINAPI SimSetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device);
BOOL WINAPI SimSetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property,
                                                 PDWORD type, PBYTE buffer, DWORD size, PDWORD required);
BOOL WINAPI SimSetupDiGetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA device, PSTR buffer, DWORD size,
                                           PDWORD required);
HKEY WINAPI SimSetupDiOpenDeviceInterfaceRegKey(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data, DWORD reserved,
                                                REGSAM access);
BOOL WINAPI SimSetupDiDestroyDeviceInfoList(HDEVINFO set);

// What a device path opens, if it is one of the device's or a listed HID interface.
struct PathTarget {
    bool audio = false;          // the device's kernel-streaming filter
    bool hid = false;
    bool deviceHid = false;      // the device's own HID interface
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};
// False when the path is not one the virtual machine knows; present tells
// whether it is there now.
bool ResolvePath(const char* path, PathTarget& target, bool& present);

// Interface paths a device-change notice names, by class (empty when the class has none).
std::string NoticePath(const GUID& cls);

}  // namespace sim
