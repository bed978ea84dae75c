// Matching device paths and interface names against the supported devices.
#pragma once

#include <windows.h>

// Reads "VID_xxxx", "PID_xxxx" and "MI_xx" from a device path (any letter
// case, at most 260 characters looked at). S_OK when vendor and product id
// are these; S_FALSE when they differ; E_FAIL when a marker is missing or
// not followed by its hexadecimal digits.
HRESULT MatchVidPid(const char* path, USHORT vendorId, USHORT productId);

// True when the name carries "USB#VID_xxxx&PID_xxxx" of a supported device
// (any letter case). The caller's text is not changed.
bool IsSupportedDevicePath(const char* name);
