#include "RegistrySandbox.h"

#include "device/AsioSettingsKey.h"
#include "device/RegKey.h"

#include <string>

namespace {

const std::string kDriverKeyPath = std::string(kAsioKeyPath) + "\\" + kDriverKeyName;

}  // namespace

void DeleteDriverSettingsKey() { RegDeleteKeyA(HKEY_CURRENT_USER, kDriverKeyPath.c_str()); }

void PutSettingRaw(const char* name, DWORD type, const void* data, DWORD size) {
    CRegKey key;
    if (key.Create(HKEY_CURRENT_USER, kDriverKeyPath.c_str()) != ERROR_SUCCESS) return;
    RegSetValueExA(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

void PutSettingDword(const char* name, uint32_t value) {
    DWORD data = value;
    PutSettingRaw(name, REG_DWORD, &data, sizeof(data));
}

bool GetSettingDword(const char* name, uint32_t* value) {
    CRegKey key;
    return key.Open(HKEY_CURRENT_USER, kDriverKeyPath.c_str(), KEY_READ) == ERROR_SUCCESS &&
           key.QueryDword(name, value);
}

bool SettingExists(const char* name) {
    CRegKey key;
    return key.Open(HKEY_CURRENT_USER, kDriverKeyPath.c_str(), KEY_READ) == ERROR_SUCCESS &&
           RegQueryValueExA(key.Get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}
