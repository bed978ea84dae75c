// Which kernel-streaming filter is ours: its device interface path names a
// vendor and product of the supported-device table and an interface ("MI_").
#pragma once

#include <cstdint>

// True for a supported device; the ids are stored only then.
bool MatchSupportedPath(const char* path, uint16_t* vendorId, uint16_t* productId);
