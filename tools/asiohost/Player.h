// Plays (and, in duplex, records) through a driver in real time, the way a
// DAW does, and reports how steady the buffer switches were.
#pragma once

#include "asio/AsioInterface.h"
#include "asio/DropoutCounts.h"

#include <cstdint>
#include <functional>
#include <string>

struct PlayOptions {
    double rate = 0;          // 0: the driver's current rate
    int32_t buffer = 0;       // samples per half; 0: the driver's preferred size
    double seconds = 3;
    bool sine = false;        // else the device's test pattern
    bool duplex = false;      // also record and check the captured pattern
    bool json = false;
    bool quiet = false;       // print nothing: the caller reads the result
    // With buffer 0: the preferred size brought into this span of time (ms),
    // on the driver's granularity; 0 leaves the preferred size as it is.
    double minBufferMs = 0, maxBufferMs = 0;
    // Called once the buffers exist, before start.
    std::function<void()> prepared;
};

// What one play saw. failedStep names the call that failed (null when none).
struct PlayResult {
    const char* failedStep = nullptr;
    ASIOError error = ASE_OK;
    double rate = 0;
    int32_t buffer = 0;
    double periodMs = 0;
    bool dsd = false;
    unsigned bits = 0;
    uint32_t switches = 0, expectedSwitches = 0, late = 0, early = 0;
    int64_t missed = 0;
    uint32_t positionJumps = 0, resetRequests = 0, resyncRequests = 0, rateChanges = 0, overloads = 0;
    double positionRate = 0;  // samples per second of the driver's position between the first and last switch
    bool counted = false;     // the driver told its dropouts by cause
    DropoutCounts dropouts = {};
    int inputs = 0, inputsLocked = 0;
    uint64_t inputBreaks = 0, inputFrames = 0;
    bool glitch = false;
    int code = 0;             // the exit code Play returns
};

// Returns the process exit code: 0 clean, 1 a glitch or a driver failure.
// Runs again on the same driver object dispose their buffers between, as
// hosts do when the rate changes.
int Play(IASIO* driver, const PlayOptions& options, PlayResult* result = nullptr);
