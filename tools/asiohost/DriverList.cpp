#include "DriverList.h"

#include <objbase.h>

std::vector<RegisteredDriver> ListDrivers() {
    std::vector<RegisteredDriver> drivers;
    HKEY asio = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\ASIO", 0, KEY_READ, &asio) != ERROR_SUCCESS) return drivers;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameLength = sizeof(name);
        if (RegEnumKeyExA(asio, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        RegisteredDriver driver{name, "", CLSID(), false};
        HKEY key = nullptr;
        if (RegOpenKeyExA(asio, name, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            wchar_t text[64] = {};
            DWORD type = 0, size = sizeof(text) - sizeof(wchar_t);
            if (RegQueryValueExW(key, L"CLSID", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) ==
                    ERROR_SUCCESS &&
                type == REG_SZ) {
                char narrow[64] = {};
                WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof(narrow) - 1, nullptr, nullptr);
                driver.clsidText = narrow;
                driver.clsidValid = SUCCEEDED(CLSIDFromString(text, &driver.clsid));
            }
            RegCloseKey(key);
        }
        drivers.push_back(driver);
    }
    RegCloseKey(asio);
    return drivers;
}

bool FindDriver(const std::string& name, RegisteredDriver& driver) {
    for (const RegisteredDriver& candidate : ListDrivers()) {
        if (lstrcmpiA(candidate.name.c_str(), name.c_str()) == 0) {
            driver = candidate;
            return true;
        }
    }
    return false;
}
