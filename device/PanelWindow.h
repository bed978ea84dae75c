// How the driver and a second panel find the running control panel, the
// program the driver starts when none runs, and the command others send it.
#pragma once

constexpr char kPanelWindowTitle[] = "Velmor R5.R6 Audio Control Panel";
constexpr char kPanelProgram[] = "VelmorR5R6ACPL.exe";

// WM_COMMAND to the panel's window: the ASIO page re-reads the driver's
// settings from the status block (the remote control sends it after a write).
#define ID_PANEL_REFRESH_ASIO 0x8052
