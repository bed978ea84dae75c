// Tests of the settings use the real HKEY_CURRENT_USER of the test prefix;
// this removes the driver's key before and after each test.
#pragma once

#include <windows.h>

#include <cstdint>

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
    RegistrySandbox() { DeleteDriverSettingsKey(); }
    ~RegistrySandbox() { DeleteDriverSettingsKey(); }
};
