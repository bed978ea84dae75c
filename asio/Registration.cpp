#include "Registration.h"

#include "device/AsioSettingsKey.h"
#include "device/RegKey.h"

#include <objbase.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr char kClsidRoot[] = "CLSID\\";

LONG SetString(HKEY key, const char* name, const char* value) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                          static_cast<DWORD>(std::strlen(value) + 1));
}

void ClassKeyPath(const wchar_t* clsidText, char* path, size_t size) {
    snprintf(path, size, "%s%ls", kClsidRoot, clsidText);
}

}  // namespace

HRESULT RegisterDriver(const char* modulePath) {
    if (!modulePath || !*modulePath) return E_FAIL;
    CLSID clsid;
    if (FAILED(CoCreateGuid(&clsid))) return E_FAIL;
    wchar_t clsidText[40];
    if (!StringFromGUID2(clsid, clsidText, 40)) return E_FAIL;

    HKEY asio = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAsioKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &asio, nullptr) !=
        ERROR_SUCCESS) {
        return E_FAIL;
    }
    HKEY driver = nullptr;
    LONG status = RegCreateKeyExA(asio, kDriverKeyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &driver, nullptr);
    RegCloseKey(asio);
    if (status != ERROR_SUCCESS) return E_FAIL;
    // A value that could not be written is a failed registration, not a quiet half of one.
    status = RegSetValueExW(driver, L"CLSID", 0, REG_SZ, reinterpret_cast<const BYTE*>(clsidText),
                            static_cast<DWORD>((wcslen(clsidText) + 1) * sizeof(wchar_t)));
    if (status == ERROR_SUCCESS) status = SetString(driver, "Driver", modulePath);
    RegCloseKey(driver);
    if (status != ERROR_SUCCESS) return E_FAIL;

    char classPath[64];
    ClassKeyPath(clsidText, classPath, sizeof(classPath));
    HKEY classKey = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, classPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &classKey, nullptr) !=
        ERROR_SUCCESS) {
        return E_FAIL;
    }
    HKEY server = nullptr;
    status = RegCreateKeyExA(classKey, "InprocServer32", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &server, nullptr);
    LONG named = SetString(classKey, "FriendlyName", kAsioDriverName);
    RegCloseKey(classKey);
    if (status != ERROR_SUCCESS) return E_FAIL;
    status = SetString(server, nullptr, modulePath);
    if (status == ERROR_SUCCESS) status = SetString(server, "ThreadingModel", "Apartment");
    RegCloseKey(server);
    return status == ERROR_SUCCESS && named == ERROR_SUCCESS ? S_OK : E_FAIL;
}

HRESULT UnregisterDriver() {
    HKEY asio = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAsioKeyPath, 0, KEY_ALL_ACCESS, &asio) == ERROR_SUCCESS) {
        HKEY driver = nullptr;
        if (RegOpenKeyExA(asio, kDriverKeyName, 0, KEY_READ, &driver) == ERROR_SUCCESS) {
            wchar_t text[260] = {};  // 520 bytes
            DWORD type = 0, size = sizeof(text) - sizeof(wchar_t);
            CLSID clsid;
            if (RegQueryValueExW(driver, L"CLSID", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) ==
                    ERROR_SUCCESS &&
                type == REG_SZ && SUCCEEDED(CLSIDFromString(text, &clsid))) {
                wchar_t clsidText[40];
                StringFromGUID2(clsid, clsidText, 40);
                char classPath[64];
                ClassKeyPath(clsidText, classPath, sizeof(classPath));
                HKEY classKey = nullptr;
                if (RegOpenKeyExA(HKEY_CLASSES_ROOT, classPath, 0, KEY_ALL_ACCESS, &classKey) == ERROR_SUCCESS) {
                    RegDeleteKeyA(classKey, "InprocServer32");
                    RegCloseKey(classKey);
                    RegDeleteKeyA(HKEY_CLASSES_ROOT, classPath);
                }
            }
            RegCloseKey(driver);
        }
        RegDeleteKeyA(asio, kDriverKeyName);
        RegCloseKey(asio);
    }
    HKEY settings = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kAsioKeyPath, 0, KEY_ALL_ACCESS, &settings) == ERROR_SUCCESS) {
        RegDeleteKeyA(settings, kDriverKeyName);
        RegCloseKey(settings);
    }
    return S_OK;
}
