#include "SavedRegistration.h"

#include "device/AsioSettingsKey.h"

#include <windows.h>

namespace {

std::string DriverKeyPath() { return std::string(kAsioKeyPath) + "\\" + kDriverKeyName; }

bool ReadValue(const char* name, std::string* text) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, DriverKeyPath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    char value[520] = "";
    DWORD type = 0, size = sizeof(value) - 1;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return false;
    *text = value;
    return true;
}

}  // namespace

void SavedRegistration::Save() {
    present_ = ReadValue("CLSID", &clsid_);
    if (present_) ReadValue("Driver", &driver_);
}

bool SavedRegistration::HoldsOther() const {
    std::string now;
    return ReadValue("CLSID", &now) && (!present_ || now != clsid_);
}

void SavedRegistration::PutBack() const {
    if (!present_) return;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, DriverKeyPath().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return;
    }
    // Registration writes the class text as a wide string; ANSI text of the same characters reads back the same.
    RegSetValueExA(key, "CLSID", 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid_.c_str()),
                   static_cast<DWORD>(clsid_.size() + 1));
    RegSetValueExA(key, "Driver", 0, REG_SZ, reinterpret_cast<const BYTE*>(driver_.c_str()),
                   static_cast<DWORD>(driver_.size() + 1));
    RegCloseKey(key);
}
