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

RegistrySandbox::RegistrySandbox() {
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, kDriverKeyPath.c_str(), KEY_READ) == ERROR_SUCCESS) {
        existed_ = true;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD nameLength = sizeof(name);
            DWORD type = 0;
            DWORD size = 0;
            if (RegEnumValueA(key.Get(), i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
                break;
            SavedValue value{std::string(name, nameLength), type, std::vector<BYTE>(size)};
            DWORD read = size;
            if (RegQueryValueExA(key.Get(), value.name.c_str(), nullptr, &value.type,
                                 size ? value.data.data() : nullptr, &read) == ERROR_SUCCESS) {
                value.data.resize(read);
                saved_.push_back(std::move(value));
            }
        }
    }
    DeleteDriverSettingsKey();
}

RegistrySandbox::~RegistrySandbox() {
    DeleteDriverSettingsKey();
    if (!existed_) return;
    CRegKey key;
    if (key.Create(HKEY_CURRENT_USER, kDriverKeyPath.c_str()) != ERROR_SUCCESS) return;
    for (const SavedValue& value : saved_)
        RegSetValueExA(key.Get(), value.name.c_str(), 0, value.type, value.data.data(),
                       static_cast<DWORD>(value.data.size()));
}
