// The device driver's audio interface, found by the driver's service name,
// and the status property it answers on it (control panel).
#pragma once

#include <windows.h>

// Opens the first audio interface of the device whose driver runs as this
// service (letter case does not matter). S_OK with *handle open, or E_FAIL.
HRESULT OpenAudioDeviceByService(HANDLE* handle, const char* serviceName);

// Reads the status property: stream flag (non-zero while the device plays),
// a field passed on unread, sample rate in Hz and bits per sample. S_OK or E_FAIL.
HRESULT QueryDeviceStreamStatus(HANDLE handle, ULONG* streamFlag, ULONG* reserved, ULONG* sampleRate,
                                ULONG* bitsPerSample);
