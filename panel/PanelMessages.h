// Window messages the endpoint notifications post to the panel's main dialog
// (wParam and lParam 0). The dialog does the work on its own thread.
#pragma once

#include <windows.h>

#ifndef WM_PANEL_VOLUME_CHANGED
#define WM_PANEL_VOLUME_CHANGED (WM_APP + 0)   // a watched endpoint's volume or mute changed
#endif
#ifndef WM_PANEL_ENDPOINT_ACTIVE
#define WM_PANEL_ENDPOINT_ACTIVE (WM_APP + 1)  // an endpoint became active
#endif
