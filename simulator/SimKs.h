// Kernel-streaming requests to the virtual device's filter and pins.
#pragma once

#include "SimObjects.h"

namespace sim {

// Each answers with a Win32 error code (0: done at once); a queued stream
// request answers ERROR_IO_PENDING.
DWORD FilterProperty(Object& filter, const KSPROPERTY* property, DWORD inSize, void* out, DWORD outSize,
                     DWORD& returned);
DWORD PinRequest(Object& pin, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD& returned,
                 OVERLAPPED* overlapped);
DWORD CreatePin(HANDLE filter, const KSPIN_CONNECT* connect, HANDLE* pin);

// The 72-byte vendor status reply: stream flag at 32, channels at 36, rate at 40, bits at 44.
void VendorStatus(BYTE (&reply)[72]);

}  // namespace sim
