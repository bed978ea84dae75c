// How the buffer switches a host saw kept to the stream's clock.
#pragma once

#include <cstdint>

// Switches ahead of the stream's clock by more than half a period. The clock
// is the driver's sample position at each switch against the time the switch
// came (ms); its origin is the median of those offsets, so a late switch (the
// first one included) moves no other one, and catching up after it is not early.
uint32_t EarlySwitches(const double* timesMs, const uint64_t* positions, uint32_t count, int32_t buffer,
                       double periodMs);
