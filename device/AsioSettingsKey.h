// The driver's settings key under HKEY_CURRENT_USER, read and written by the
// driver and the panel, and the defaults of its values.
#pragma once

#include "StatusBlockLayout.h"

#include <cstdint>

constexpr char kAsioKeyPath[] = "Software\\ASIO";  // parent of the driver's key
constexpr char kDriverKeyName[] = "VelmorR5R6";

constexpr char kValueSampleRate[] = "SampleRate";
constexpr char kValueBufferSize[] = "BufferSize";
constexpr char kValueBitsPerSample[] = "BitsPerSample";
constexpr char kValueSupportSampleRate[] = "SupportSampleRate";
constexpr char kValueSupporBitsPerSample[] = "SupporBitsPerSample";
constexpr char kValueAsioCpl[] = "ASIOCPL";

constexpr uint32_t kDefaultSampleRate = 44100;
constexpr uint32_t kDefaultBufferSize = 100;  // 10 ms in 0.1 ms units
constexpr uint32_t kDefaultBitsPerSample = 16;
constexpr uint32_t kDefaultSupportSampleRate = 2;    // 44100 only
constexpr uint32_t kDefaultSupporBitsPerSample = 2;  // 16-bit only

// The four values held in the status block, in registry order. The panel
// stores back only the first two (BufferSize and BitsPerSample).
struct BlockHeldSetting {
    const char* name;
    uint32_t StatusBlockLayout::*field;
    uint32_t fallback;
};

constexpr BlockHeldSetting kBlockHeldSettings[] = {
    {kValueBufferSize, &StatusBlockLayout::bufferSize, kDefaultBufferSize},
    {kValueBitsPerSample, &StatusBlockLayout::bitsPerSample, kDefaultBitsPerSample},
    {kValueSupportSampleRate, &StatusBlockLayout::supportSampleRate, kDefaultSupportSampleRate},
    {kValueSupporBitsPerSample, &StatusBlockLayout::supporBitsPerSample, kDefaultSupporBitsPerSample},
};
constexpr int kPanelStoredSettings = 2;
