// Plays (and, in duplex, records) through a driver in real time, the way a
// DAW does, and reports how steady the buffer switches were.
#pragma once

#include "asio/AsioInterface.h"

#include <string>

struct PlayOptions {
    double rate = 0;          // 0: the driver's current rate
    int32_t buffer = 0;       // samples per half; 0: the driver's preferred size
    double seconds = 3;
    bool sine = false;        // else the device's test pattern
    bool duplex = false;      // also record and check the captured pattern
    bool json = false;
};

// Returns the process exit code: 0 clean, 1 a glitch or a driver failure.
// Runs again on the same driver object dispose their buffers between, as
// hosts do when the rate changes.
int Play(IASIO* driver, const PlayOptions& options);
