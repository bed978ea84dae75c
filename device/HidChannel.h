// The device's HID interface: found by vendor and product id, opened for one
// output report and closed again.
#pragma once

#include <windows.h>

// Output reports are 64 bytes; a device announcing a longer report gets the
// same bytes zero-padded to its length.
constexpr USHORT kHidReportSize = 64;

struct HidChannel {
    HANDLE hSync = INVALID_HANDLE_VALUE;        // every report is written through it
    HANDLE hOverlapped = INVALID_HANDLE_VALUE;  // opened alongside, never used for I/O
    USHORT inputReportLength = 0;
    USHORT outputReportLength = 0;
};

// TRUE when the channel is open on a device with these ids; an already open
// channel stays as it is. Without the out parameters: FALSE, last error
// ERROR_INVALID_DATA.
BOOL FindHidDevice(HidChannel* channel, USHORT vendorId, USHORT productId, USHORT* inputReportLength,
                   USHORT* outputReportLength);

// Writes one output report {0, command, commandClass, value1, value2, 0...}
// when the channel is open and the device takes output reports. Whether the
// write succeeded is not reported: the device gives no answer either.
void SendHidCommand(HidChannel* channel, BYTE command, BYTE commandClass, BYTE value1, BYTE value2);

// Closes both handles and forgets the report lengths.
void CloseHidChannel(HidChannel* channel);

// One report on a channel of its own: find, write, close. TRUE when the
// device was found.
BOOL SendHidReport(USHORT vendorId, USHORT productId, BYTE command, BYTE commandClass, BYTE value1, BYTE value2);
