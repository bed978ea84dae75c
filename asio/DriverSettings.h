// The driver's settings between sessions: the stream rate belongs to the
// driver object, the other four values live in the status block while any
// driver or panel holds it and enter it from the registry once per block life.
#pragma once

#include "device/StatusBlock.h"

#include <windows.h>

#include <cstdint>

// Reads "SampleRate" into *streamRate (44100 when unreadable) and, when the
// block is valid and not yet loaded, the four block-held values with their
// defaults, then marks the block loaded and changed. S_OK when the key was
// read; S_FALSE when it could not be opened: then nothing, not even a
// default, is stored.
HRESULT ReadDriverSettings(CStatusBlock& block, uint32_t* streamRate);

// Writes "SampleRate" and, when the block is valid and loaded, the four
// block-held values. S_OK, or the registry's failure as an HRESULT.
HRESULT WriteDriverSettings(const CStatusBlock& block, uint32_t streamRate);
