// The device's HID interface: attributes, capabilities and output reports.
#pragma once

#include <windows.h>

extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

namespace sim {

void WINAPI SimHidD_GetHidGuid(LPGUID guid);
BOOLEAN WINAPI SimHidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes);
BOOLEAN WINAPI SimHidD_GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* data);
BOOLEAN WINAPI SimHidD_FreePreparsedData(PHIDP_PREPARSED_DATA data);
NTSTATUS WINAPI SimHidP_GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps);

// A report written to the device's HID interface: logged; volume keys act at
// once, mode reports (DSD mode, DSD markers) a few milliseconds later.
DWORD ReceiveReport(const BYTE* report, DWORD length);

}  // namespace sim
