// Helpers of the panel tests: a parent window, the installation switches in
// a sandbox, and reading the dialogs' controls.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A hidden top-level window to parent child dialogs and receive notices.
class TestWindow {
public:
    TestWindow();
    ~TestWindow();
    HWND Hwnd() const { return m_hwnd; }

private:
    HWND m_hwnd = nullptr;
};

void DeletePanelSwitches();
void PutPanelSwitch(const char* keyPath, const char* name, DWORD value);

// A test starts without the panel's HKEY_LOCAL_MACHINE switches (both keys);
// afterwards the prefix's own switches are back as they were.
class PanelSwitchSandbox {
public:
    PanelSwitchSandbox();
    ~PanelSwitchSandbox();
    PanelSwitchSandbox(const PanelSwitchSandbox&) = delete;
    PanelSwitchSandbox& operator=(const PanelSwitchSandbox&) = delete;

private:
    struct Value {
        std::string name;
        DWORD type;
        std::vector<BYTE> data;
    };
    struct SavedKey {
        bool present = false;
        std::vector<Value> values;
    };
    SavedKey m_saved[2];  // the key, then its Wow6432Node twin
};

std::string WindowText(HWND window);
std::vector<std::string> TabTitles(HWND strip);
bool IsShown(HWND window);  // its own visible style, whatever its parent's
