// play --baseline: the driver's buffer switches in slices that alternate
// with the machine's own wake-up chain, reported against it.
#pragma once

#include "Player.h"

// Returns the exit code: 0 clean, 1 dropouts the baseline does not explain,
// no switches, or a driver failure; 2 options it does not take (duplex, json).
int PlayAgainstBaseline(IASIO* driver, const PlayOptions& options);
