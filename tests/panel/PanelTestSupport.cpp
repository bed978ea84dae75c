#include "tests/panel/PanelTestSupport.h"

#include "panel/PanelSwitches.h"

#include <commctrl.h>

TestWindow::TestWindow() {
    m_hwnd = CreateWindowExA(0, "STATIC", "panel test parent", WS_POPUP, 0, 0, 600, 500, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
}

TestWindow::~TestWindow() {
    if (m_hwnd) DestroyWindow(m_hwnd);
}

void DeletePanelSwitches() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kPanelSwitchKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kPanelSwitchKeyWow);
}

namespace {

const char* const kSwitchKeys[2] = {kPanelSwitchKey, kPanelSwitchKeyWow};

}  // namespace

PanelSwitchSandbox::PanelSwitchSandbox() {
    for (int k = 0; k < 2; ++k) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSwitchKeys[k], 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
        m_saved[k].present = true;
        for (DWORD i = 0;; ++i) {
            char name[256];
            BYTE data[1024];
            DWORD nameLength = sizeof(name), type = 0, size = sizeof(data);
            if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
            m_saved[k].values.push_back({std::string(name, nameLength), type, std::vector<BYTE>(data, data + size)});
        }
        RegCloseKey(key);
    }
    DeletePanelSwitches();
}

PanelSwitchSandbox::~PanelSwitchSandbox() {
    DeletePanelSwitches();
    for (int k = 0; k < 2; ++k) {
        if (!m_saved[k].present) continue;
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSwitchKeys[k], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
            continue;
        }
        // A key the test could not delete (it has subkeys) loses the values the test wrote.
        char name[256];
        DWORD nameLength = sizeof(name);
        while (RegEnumValueA(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
               RegDeleteValueA(key, name) == ERROR_SUCCESS) {
            nameLength = sizeof(name);
        }
        for (const Value& value : m_saved[k].values) {
            RegSetValueExA(key, value.name.c_str(), 0, value.type, value.data.data(),
                           static_cast<DWORD>(value.data.size()));
        }
        RegCloseKey(key);
    }
}

void PutPanelSwitch(const char* keyPath, const char* name, DWORD value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

std::string WindowText(HWND window) {
    char text[256] = {};
    if (window) GetWindowTextA(window, text, sizeof(text));
    return text;
}

std::vector<std::string> TabTitles(HWND strip) {
    std::vector<std::string> titles;
    int count = static_cast<int>(SendMessageA(strip, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[64] = {};
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof(text);
        SendMessageA(strip, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        titles.push_back(text);
    }
    return titles;
}

bool IsShown(HWND window) { return window && (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0; }
