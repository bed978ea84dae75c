// The remote protocol's use of the shared status block: opened for one
// read or one write only, never created.
#pragma once

#include "RemoteRecords.h"

#include <windows.h>

// true when the block exists with its magic; setting from BufferSize / 10
// and BitsPerSample.
bool ReadAsioSetting(const char* blockName, AsioSetting* setting);
// Writes BufferSize = ms x 10 and BitsPerSample when the block carries its
// magic. Returns whether the block could be opened at all.
bool WriteAsioSetting(const char* blockName, const AsioSetting& setting);
// The block's width mask; false without a valid block.
bool ReadAsioWidthMask(const char* blockName, uint32_t* mask);
// Tells the panel window to refresh its ASIO page: the window when given,
// else the one with the title. A foreign window that carries the title and
// does not answer holds the caller only briefly.
void RefreshAsioPage(HWND window, const char* windowTitle);
constexpr UINT kRefreshTimeoutMs = 200;
