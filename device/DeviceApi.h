// The seam between the product and the device: every Win32 call that reaches
// the device or its OS stack goes through this table. The default table is
// the real Win32 one; tests (and VELMOR_DEVICE=simulated) put the virtual
// device behind it. Code above the seam reads like plain Win32:
//   DeviceApi().DeviceIoControl(pin, IOCTL_KS_PROPERTY, ...)
#pragma once

#include <windows.h>
#include <objbase.h>
#include <mmsystem.h>
#include <setupapi.h>
#include <dbt.h>
#include <winioctl.h>
#include <ks.h>

extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

struct DeviceApiTable {
    // SetupAPI: device interfaces, their details, aliases and properties.
    HDEVINFO(WINAPI* SetupDiGetClassDevsA)(const GUID*, PCSTR, HWND, DWORD);
    BOOL(WINAPI* SetupDiEnumDeviceInterfaces)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
                                              PSP_DEVICE_INTERFACE_DATA);
    BOOL(WINAPI* SetupDiGetDeviceInterfaceDetailA)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                                                   PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD,
                                                   PSP_DEVINFO_DATA);
    BOOL(WINAPI* SetupDiGetDeviceInterfaceAlias)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, const GUID*,
                                                 PSP_DEVICE_INTERFACE_DATA);
    BOOL(WINAPI* SetupDiEnumDeviceInfo)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
    BOOL(WINAPI* SetupDiGetDeviceRegistryPropertyA)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);
    BOOL(WINAPI* SetupDiGetDeviceInstanceIdA)(HDEVINFO, PSP_DEVINFO_DATA, PSTR, DWORD, PDWORD);
    HKEY(WINAPI* SetupDiOpenDeviceInterfaceRegKey)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, DWORD, REGSAM);
    BOOL(WINAPI* SetupDiDestroyDeviceInfoList)(HDEVINFO);

    // Device handles and requests.
    HANDLE(WINAPI* CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* DeviceIoControl)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* CloseHandle)(HANDLE);

    // Kernel streaming (ksuser.dll).
    DWORD(WINAPI* KsCreatePin)(HANDLE, PKSPIN_CONNECT, ACCESS_MASK, PHANDLE);

    // HID class library.
    void(WINAPI* HidD_GetHidGuid)(LPGUID);
    BOOLEAN(WINAPI* HidD_GetAttributes)(HANDLE, PHIDD_ATTRIBUTES);
    BOOLEAN(WINAPI* HidD_GetPreparsedData)(HANDLE, PHIDP_PREPARSED_DATA*);
    BOOLEAN(WINAPI* HidD_FreePreparsedData)(PHIDP_PREPARSED_DATA);
    NTSTATUS(WINAPI* HidP_GetCaps)(PHIDP_PREPARSED_DATA, PHIDP_CAPS);

    // Arrival and removal notices.
    HDEVNOTIFY(WINAPI* RegisterDeviceNotificationA)(HANDLE, LPVOID, DWORD);
    BOOL(WINAPI* UnregisterDeviceNotification)(HDEVNOTIFY);

    // Core Audio objects (the device enumerator and what it hands out).
    HRESULT(WINAPI* CoCreateInstance)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
};

// The table in force: an installed one, else the virtual device when the
// environment says VELMOR_DEVICE=simulated (VelmorR5R6Sim.dll from this
// module's own folder, never from the search path), else the real Win32 one.
const DeviceApiTable& DeviceApi();

// The real Win32 table.
const DeviceApiTable& RealDeviceApi();

// Puts another table behind the seam (null: back to the selected one). Call before
// any device handle is opened; the table must outlive its use.
void InstallDeviceApi(const DeviceApiTable* table);
