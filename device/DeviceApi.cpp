#include "DeviceApi.h"


namespace {

const DeviceApiTable kRealTable = {
    ::SetupDiGetClassDevsA,
    ::SetupDiEnumDeviceInterfaces,
    ::SetupDiGetDeviceInterfaceDetailA,
    ::SetupDiGetDeviceInterfaceAlias,
    ::SetupDiEnumDeviceInfo,
    ::SetupDiGetDeviceRegistryPropertyA,
    ::SetupDiGetDeviceInstanceIdA,
    ::SetupDiOpenDeviceInterfaceRegKey,
    ::SetupDiDestroyDeviceInfoList,
    ::CreateFileA,
    ::DeviceIoControl,
    ::WriteFile,
    ::CloseHandle,
    ::KsCreatePin,
    ::HidD_GetHidGuid,
    ::HidD_GetAttributes,
    ::HidD_GetPreparsedData,
    ::HidD_FreePreparsedData,
    ::HidP_GetCaps,
    ::RegisterDeviceNotificationA,
    ::UnregisterDeviceNotification,
    ::CoCreateInstance,
};

const DeviceApiTable* g_table = &kRealTable;

}  // namespace

const DeviceApiTable& DeviceApi() { return *g_table; }

const DeviceApiTable& RealDeviceApi() { return kRealTable; }

void InstallDeviceApi(const DeviceApiTable* table) { g_table = table ? table : &kRealTable; }
