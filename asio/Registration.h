// Self-registration: HKLM "Software\ASIO\VelmorR5R6" names the driver for
// hosts; HKCR "CLSID\{...}" tells COM where it lives. Every registration
// makes a new CLSID.
#pragma once

#include <windows.h>

constexpr char kAsioDriverName[] = "VelmorR5R6";

HRESULT RegisterDriver(const char* modulePath);
HRESULT UnregisterDriver();
