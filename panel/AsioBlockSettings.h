// The panel's side of the driver's settings: when the panel creates the
// status block it fills it from the driver's key (defaults when the key is
// missing), and it stores back the two values the user edits.
#pragma once

#include "device/StatusBlock.h"

#include <windows.h>

// Once per block life (valid block, settings not loaded): the four
// block-held values from the registry, each with its default, or all four
// defaults when the key cannot be opened; then settings loaded. S_OK when
// it loaded, S_FALSE when there was nothing to do.
HRESULT LoadAsioSettingsIntoBlock(CStatusBlock& block);

// Valid, loaded block: writes "BufferSize" and "BitsPerSample" from it.
// S_FALSE when there was nothing to store; else S_OK or the registry's failure.
HRESULT StoreAsioSettingsFromBlock(const CStatusBlock& block);
