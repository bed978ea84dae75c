// How the driver and a second panel find the running control panel, and the
// program the driver starts when none runs.
#pragma once

constexpr char kPanelWindowTitle[] = "Velmor R5.R6 Audio Control Panel";
constexpr char kPanelProgram[] = "VelmorR5R6ACPL.exe";
