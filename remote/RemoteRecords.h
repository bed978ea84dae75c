// Records the remote protocol fills while gathering and taking requests.
// Fixed sizes: every writer goes through the bounded helpers below.
#pragma once

#include <cstdint>

constexpr int kRemoteNameChars = 16;  // resource and format names, terminator included
constexpr int kGpioPairs = 7;
constexpr int kGpioHighestPin = 6;  // pins above are skipped
constexpr int kCapabilityRates = 16;
constexpr int kCapabilityBits = 4;
constexpr int kCapabilityResources = 2;
constexpr int kCapabilityBufferLengths = 60;

struct RemoteStatus {
    struct {
        int32_t rate, bits, volume;
        int32_t valid;
    } playback;
    struct {
        int32_t rate, bits, volume;
        char resource[kRemoteNameChars];
        int32_t valid;
    } record;
    struct {
        int32_t bufferMs, bits;
        int32_t valid;
    } asio;
    struct {
        int32_t pins[kGpioPairs][2];  // pin number, level
        int32_t count;
        int32_t valid;
    } gpio;
};

struct FormatLists {
    int32_t rates[kCapabilityRates];
    int32_t rateCount;
    int32_t bits[kCapabilityBits];
    int32_t bitCount;
};

struct RemoteCapabilities {
    struct {
        FormatLists lists;
        int32_t valid;
    } playback;
    struct {
        FormatLists lists;
        char resources[kCapabilityResources][kRemoteNameChars];
        int32_t resourceCount;
        int32_t valid;
    } record;
    struct {
        int32_t bufferMs[kCapabilityBufferLengths];
        int32_t bufferCount;
        int32_t bits[kCapabilityBits];
        int32_t bitCount;
        int32_t valid;
    } asio;
};

struct PlayingStatus {
    int32_t playbackRate, playbackBits;
    int32_t asioRate, asioBits;
    float asioBufferMs;
    char asioFormat[kRemoteNameChars];
};

struct PlaybackSetting {
    int32_t rate;
    uint16_t bits;
    int32_t volume;
    bool volumeNamed;  // the request carried "volume": only then are level and mute set
};

struct RecordSetting {
    int32_t rate;
    uint16_t bits;
    int32_t volume;
    char resource[kRemoteNameChars];
    bool volumeNamed;
};

struct AsioSetting {
    int32_t bufferMs;
    int32_t bits;
};

struct GpioTable {
    int32_t pins[kGpioPairs][2];
    int32_t count;
};

// Bounded appends for the status collection; false (nothing written) when full.
bool AddRate(FormatLists* lists, int32_t rate);
bool AddBits(FormatLists* lists, int32_t bits);
// One record input, walked from the last input to the first; inputs beyond
// the two names the record holds are left out.
bool AddRecordResource(RemoteCapabilities* caps, bool isLineInput);
// The ASIO part from the status block's width mask: every buffer length of
// the table and the widths whose flag is set; marks the part valid.
void FillAsioCapabilities(RemoteCapabilities* caps, uint32_t widthMask);
