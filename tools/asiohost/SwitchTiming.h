// How the buffer switches a host saw kept to the stream's clock.
#pragma once

#include <cstdint>

// Switches ahead of the stream's clock by more than half a period. The clock
// is the driver's sample position at each switch against the time the switch
// came (ms). A switch can come late, never before its time: one is early when
// it comes more than half a period before every switch since the first
// (whose own lateness sets no reference), so a late switch and the catching up
// after it count nothing, and neither does a stream that restarts later after
// a dropout.
uint32_t EarlySwitches(const double* timesMs, const uint64_t* positions, uint32_t count, int32_t buffer,
                       double periodMs);
