#include "RegKey.h"

LONG CRegKey::Open(HKEY parent, const char* subkey, REGSAM access) {
    Close();
    if (!parent) return ERROR_INVALID_HANDLE;
    LONG error = RegOpenKeyExA(parent, subkey, 0, access, &m_key);
    if (error != ERROR_SUCCESS) m_key = nullptr;
    return error;
}

LONG CRegKey::Create(HKEY parent, const char* subkey, REGSAM access) {
    Close();
    if (!parent) return ERROR_INVALID_HANDLE;
    LONG error = RegCreateKeyExA(parent, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &m_key, nullptr);
    if (error != ERROR_SUCCESS) m_key = nullptr;
    return error;
}

void CRegKey::Close() {
    if (m_key) RegCloseKey(m_key);
    m_key = nullptr;
}

bool CRegKey::QueryDword(const char* name, uint32_t* value) const {
    if (!m_key || !value) return false;
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (RegQueryValueExA(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS) {
        return false;
    }
    if (type != REG_DWORD || size != sizeof(data)) return false;
    *value = data;
    return true;
}

LONG CRegKey::SetDword(const char* name, uint32_t value) {
    if (!m_key) return ERROR_INVALID_HANDLE;
    DWORD data = value;
    return RegSetValueExA(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

bool CRegKey::QueryString(const char* name, char* value, DWORD size) const {
    if (!m_key || !value || size == 0) return false;
    DWORD type = 0;
    DWORD bytes = size;
    if (RegQueryValueExA(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        value[0] = '\0';
        return false;
    }
    // The stored string need not end in NUL; make room for one or refuse.
    if (bytes > 0 && value[bytes - 1] == '\0') return true;
    if (bytes >= size) {
        value[0] = '\0';
        return false;
    }
    value[bytes] = '\0';
    return true;
}
