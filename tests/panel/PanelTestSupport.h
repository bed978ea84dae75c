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

// Removes the panel's HKEY_LOCAL_MACHINE keys before and after a test.
void DeletePanelSwitches();
void PutPanelSwitch(const char* keyPath, const char* name, DWORD value);
class PanelSwitchSandbox {
public:
    PanelSwitchSandbox() { DeletePanelSwitches(); }
    ~PanelSwitchSandbox() { DeletePanelSwitches(); }
};

std::string WindowText(HWND window);
std::vector<std::string> TabTitles(HWND strip);
bool IsShown(HWND window);  // its own visible style, whatever its parent's
