// The engine's copies between a rate record's host halves and its pins'
// packets, a whole pin at a time.
#pragma once

#include "RateRecord.h"

// The host's output half into the packet at ring position `ring` of every
// opened pin. `width`: bytes per sample (4 in DSD). With `markers` (one per
// channel slot), also the DSD marker scan of each channel copied: 1 passed,
// 0 failed, -1 not copied.
void CopyHalfToPackets(RateRecord& record, int ring, int half, int32_t width, int8_t* markers = nullptr);

// The captured packet at ring position `ring` of every opened pin into the
// host's input half ring % 2, as far as the device filled it.
void CopyPacketsToHalf(RateRecord& record, int ring, int32_t width);
