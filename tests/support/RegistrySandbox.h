// Tests of the settings use the real HKEY_CURRENT_USER of the test prefix;
// this empties the driver's key for each test and puts back what the user
// (or the main job, or the installer's "ASIOCPL") had there.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

void DeleteDriverSettingsKey();

// Creates the driver's key and stores value as a DWORD.
void PutSettingDword(const char* name, uint32_t value);
// Stores raw bytes of any type, for values the way a user or another program may leave them.
void PutSettingRaw(const char* name, DWORD type, const void* data, DWORD size);
// The stored DWORD, or false when missing or not a 4-byte DWORD.
bool GetSettingDword(const char* name, uint32_t* value);
bool SettingExists(const char* name);

class RegistrySandbox {
public:
    RegistrySandbox();
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

private:
    struct SavedValue {
        std::string name;
        DWORD type;
        std::vector<BYTE> data;
    };
    bool existed_ = false;
    std::vector<SavedValue> saved_;
};
