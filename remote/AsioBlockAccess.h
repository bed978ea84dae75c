// The remote protocol's use of the shared status block: opened for one
// read or one write only, never created.
#pragma once

#include "RemoteRecords.h"

// true when the block exists with its magic; setting from BufferSize / 10
// and BitsPerSample.
bool ReadAsioSetting(const char* blockName, AsioSetting* setting);
// Writes BufferSize = ms x 10 and BitsPerSample when the block carries its
// magic. Returns whether the block could be opened at all.
bool WriteAsioSetting(const char* blockName, const AsioSetting& setting);
// The block's width mask; false without a valid block.
bool ReadAsioWidthMask(const char* blockName, uint32_t* mask);
// Tells the panel window (found by its title) to refresh its ASIO page.
void RefreshAsioPage(const char* windowTitle);
