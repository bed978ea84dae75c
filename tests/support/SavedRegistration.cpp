#include "SavedRegistration.h"

#include "device/AsioSettingsKey.h"

#include <windows.h>

namespace {

const std::string kKeyPath = std::string(kAsioKeyPath) + "\\" + kDriverKeyName;

void WriteText(HKEY key, const char* name, const std::string& text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
}

}  // namespace

bool SavedRegistration::ReadText(const char* name, std::string* text) const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath.c_str(), 0, KEY_READ | view_, &key) != ERROR_SUCCESS) return false;
    char value[520] = "";
    DWORD size = sizeof(value) - 1;
    LONG status = RegGetValueA(key, nullptr, name, RRF_RT_REG_SZ, nullptr, value, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return false;
    *text = value;
    return true;
}

void SavedRegistration::Save() { present_ = ReadText("CLSID", &clsid_) && ReadText("Driver", &driver_); }

void SavedRegistration::Restore(const std::function<void()>& unregister) const {
    std::string now;
    if (ReadText("CLSID", &now) && (!present_ || now != clsid_)) unregister();
    HKEY key = nullptr;
    if (!present_ || RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr, &key,
                                     nullptr) != ERROR_SUCCESS) {
        return;
    }
    WriteText(key, "CLSID", clsid_);
    WriteText(key, "Driver", driver_);
    RegCloseKey(key);
}
