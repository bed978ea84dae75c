// Device-change notices: windows registered through RegisterDeviceNotificationA
// (in any process) get WM_DEVICECHANGE when the device comes and goes.
#pragma once

#include <windows.h>

namespace sim {

HDEVNOTIFY WINAPI SimRegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags);
BOOL WINAPI SimUnregisterDeviceNotification(HDEVNOTIFY notification);

// Sends DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE to every registered window.
void BroadcastDeviceChange(bool arrival);

}  // namespace sim
