// Values both deliverables agree on: rates, widths, buffer lengths, driver states.
#pragma once

#include <cstddef>
#include <cstdint>

// Rate table; bit i of a rate mask (driver, block, registry) stands for entry i.
constexpr uint32_t kRateTable[] = {32000, 44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000};
constexpr size_t kRateCount = sizeof(kRateTable) / sizeof(kRateTable[0]);

// Width mask flags (bit 0 is never set).
constexpr uint32_t kWidthFlag16 = 2;
constexpr uint32_t kWidthFlag24 = 4;
constexpr uint32_t kWidthFlag32 = 8;

// Buffer lengths offered to the user, in milliseconds; stored as tenths (ms x 10).
constexpr uint32_t kBufferLengthsMs[] = {2,  3,  4,  5,  6,  7,   8,   9,   10,  12,  14,  16,
                                         18, 20, 25, 30, 40, 50,  60,  70,  80,  90,  100, 125,
                                         150, 175, 200, 250, 300, 350, 400, 450, 500, 600};
constexpr size_t kBufferLengthCount = sizeof(kBufferLengthsMs) / sizeof(kBufferLengthsMs[0]);

// DSD rates and the 32-bit frame rates that carry them natively.
constexpr uint32_t kDsd64Rate = 2822400;
constexpr uint32_t kDsd128Rate = 5644800;
constexpr uint32_t kDsd256Rate = 11289600;
constexpr uint32_t kDsd64FrameRate = 88200;
constexpr uint32_t kDsd128FrameRate = 176400;
constexpr uint32_t kDsd256FrameRate = 352800;

// Driver states as published in the status block.
enum AsioDriverState : uint32_t {
    kDriverUnload = 0,
    kDriverLoaded = 1,
    kDriverInitialized = 2,
    kDriverPrepared = 3,
    kDriverRunning = 4,
};

// The words the panel shows for each state; null past the last state.
inline const char* DriverStateWord(uint32_t state) {
    static const char* const words[] = {"UNLOAD", "LOADED", "INITIALIZED", "PREPARED", "RUNNING"};
    return state < sizeof(words) / sizeof(words[0]) ? words[state] : nullptr;
}
