#include "SimPersist.h"

#include <cstdio>

namespace sim {

namespace {

void KeyPath(const char* instance, char* path, size_t size) {
    snprintf(path, size, "Software\\Velmor\\R5R6Sim\\%s", instance);
}

}  // namespace

void LoadPersisted(const char* instance, SharedState& state) {
    char path[160];
    KeyPath(instance, path, sizeof(path));
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    Config config;
    DWORD type = 0, size = sizeof(config);
    if (RegQueryValueExA(key, "Config", nullptr, &type, reinterpret_cast<BYTE*>(&config), &size) ==
            ERROR_SUCCESS &&
        type == REG_BINARY && size == sizeof(config)) {
        state.config = config;
    }
    DWORD present = 1;
    size = sizeof(present);
    if (RegQueryValueExA(key, "Present", nullptr, &type, reinterpret_cast<BYTE*>(&present), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof(present)) {
        state.present = present ? 1 : 0;
    }
    RegCloseKey(key);
}

void SavePersisted(const char* instance, const SharedState& state) {
    char path[160];
    KeyPath(instance, path, sizeof(path));
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    RegSetValueExA(key, "Config", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&state.config),
                   sizeof(state.config));
    DWORD present = state.present;
    RegSetValueExA(key, "Present", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&present), sizeof(present));
    RegCloseKey(key);
}

void ForgetPersisted(const char* instance) {
    char path[160];
    KeyPath(instance, path, sizeof(path));
    RegDeleteKeyA(HKEY_CURRENT_USER, path);
}

}  // namespace sim
