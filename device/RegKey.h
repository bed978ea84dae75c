// A registry key owned for the life of the object, with the checked DWORD
// access that the settings of both deliverables use.
#pragma once

#include <windows.h>

#include <cstdint>

class CRegKey {
public:
    CRegKey() = default;
    ~CRegKey() { Close(); }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    // Opens an existing key; ERROR_SUCCESS or the registry's error.
    LONG Open(HKEY parent, const char* subkey, REGSAM access = KEY_ALL_ACCESS);
    // Creates the key (non-volatile) or opens it when it exists.
    LONG Create(HKEY parent, const char* subkey, REGSAM access = KEY_ALL_ACCESS);
    void Close();

    HKEY Get() const { return m_key; }
    bool IsOpen() const { return m_key != nullptr; }

    // A REG_DWORD of exactly four bytes; any other type or size counts as missing.
    bool QueryDword(const char* name, uint32_t* value) const;
    LONG SetDword(const char* name, uint32_t value);
    // A string value of at most size - 1 characters, always NUL-terminated;
    // a longer or non-string value counts as missing.
    bool QueryString(const char* name, char* value, DWORD size) const;

private:
    HKEY m_key = nullptr;
};
