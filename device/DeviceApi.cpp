#include "DeviceApi.h"

#include <cstring>

namespace {

using KsCreatePinFn = DWORD(WINAPI*)(HANDLE, PKSPIN_CONNECT, ACCESS_MASK, PHANDLE);

// ksuser.dll is loaded on first use and kept for the life of the process.
DWORD WINAPI LazyKsCreatePin(HANDLE filter, PKSPIN_CONNECT connect, ACCESS_MASK access, PHANDLE pin) {
    static KsCreatePinFn entry = [] {
        HMODULE module = LoadLibraryA("ksuser.dll");
        return module ? reinterpret_cast<KsCreatePinFn>(reinterpret_cast<void*>(GetProcAddress(module, "KsCreatePin"))) : nullptr;
    }();
    if (!entry) return ERROR_FILE_NOT_FOUND;
    return entry(filter, connect, access, pin);
}

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
    LazyKsCreatePin,
    ::HidD_GetHidGuid,
    ::HidD_GetAttributes,
    ::HidD_GetPreparsedData,
    ::HidD_FreePreparsedData,
    ::HidP_GetCaps,
    ::RegisterDeviceNotificationA,
    ::UnregisterDeviceNotification,
    ::CoCreateInstance,
};

// The virtual device's DLL beside this module, by full path: never looked
// for along the search path, where a planted copy could stand in for it.
HMODULE LoadSimulator() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&LoadSimulator), &self)) {
        return nullptr;
    }
    static const char kName[] = "VelmorR5R6Sim.dll";
    char path[MAX_PATH] = "";
    DWORD length = GetModuleFileNameA(self, path, sizeof(path));
    if (length == 0 || length >= sizeof(path)) return nullptr;
    char* slash = std::strrchr(path, '\\');
    if (!slash || static_cast<size_t>(slash + 1 - path) + sizeof(kName) > sizeof(path)) return nullptr;
    std::memcpy(slash + 1, kName, sizeof(kName));
    // Its own imports are looked for in its folder first, too.
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// With VELMOR_DEVICE=simulated the virtual device stands in for the real one.
const DeviceApiTable* SelectedTable() {
    char wanted[16] = "";
    DWORD got = GetEnvironmentVariableA("VELMOR_DEVICE", wanted, sizeof(wanted));
    if (got == 0 || got >= sizeof(wanted) || lstrcmpiA(wanted, "simulated") != 0) return &kRealTable;

    HMODULE simulator = LoadSimulator();
    using Export = const DeviceApiTable*(__cdecl*)();
    auto entry = simulator ? reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(simulator, "VelmorSimDeviceApi"))) : nullptr;
    const DeviceApiTable* table = entry ? entry() : nullptr;
    // Asked for the virtual device but it is not there: no device at all
    // would be wrong too, so say so on the debugger output and use the real one.
    if (!table) OutputDebugStringA("VELMOR_DEVICE=simulated but VelmorR5R6Sim.dll could not be loaded\n");
    return table ? table : &kRealTable;
}

const DeviceApiTable* g_installed = nullptr;

}  // namespace

const DeviceApiTable& DeviceApi() {
    if (g_installed) return *g_installed;
    static const DeviceApiTable* selected = SelectedTable();
    return *selected;
}

const DeviceApiTable& RealDeviceApi() { return kRealTable; }

void InstallDeviceApi(const DeviceApiTable* table) { g_installed = table; }
