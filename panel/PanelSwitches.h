// The installation's switches that decide which pages the panel may show.
#pragma once

#include <windows.h>

constexpr char kPanelSwitchKey[] = "SOFTWARE\\Velmor\\VelmorR5R6";
constexpr char kPanelSwitchKeyWow[] = "SOFTWARE\\Wow6432Node\\Velmor\\VelmorR5R6";
constexpr char kSwitchPlayRec[] = "PlayRecPP";
constexpr char kSwitchAsioDrv[] = "AsioDrvPP";
constexpr char kSwitchRmtCtrl[] = "RmtCtrlPP";

struct PanelSwitches {
    int playRec = 0;  // Playback and Record pages allowed
    int asioDrv = 1;  // ASIO page allowed
    int rmtCtrl = 0;  // remote-control page allowed
};

// One REG_DWORD under HKEY_LOCAL_MACHINE keyPath. A key that cannot be opened
// gives E_FAIL and leaves *value alone; a value that cannot be read gives
// E_FAIL with *value 0.
HRESULT ReadPanelSwitch(const char* valueName, const char* keyPath, int* value);

// The three switches, each from the key, else its Wow6432Node twin, else its default.
PanelSwitches ReadPanelSwitches();
