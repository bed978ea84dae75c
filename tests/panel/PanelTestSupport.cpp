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
