// The formats the device's kernel-streaming filter offers, as the panel's
// masks: rate bit i = kPanelRates[i] (highest first), depth bit i = kPanelDepths[i].
#pragma once

#include <windows.h>

#include <cstdint>

constexpr int kPanelRateCount = 9;
constexpr uint32_t kPanelRates[kPanelRateCount] = {384000, 352800, 192000, 176400, 96000,
                                                   88200,  48000,  44100,  32000};
constexpr int kPanelDepthCount = 3;
constexpr uint16_t kPanelDepths[kPanelDepthCount] = {32, 24, 16};

struct KsFormatMasks {
    uint32_t playRates = 0;
    uint32_t playDepths = 0;
    uint32_t recRates = 0;
    uint32_t recDepths = 0;
};

// Fills the masks from the first audio render filter whose path carries
// these ids; all zero when there is none. S_OK when a filter matched, else S_FALSE.
HRESULT QueryKsFormats(USHORT vendorId, USHORT productId, KsFormatMasks* masks);

// The ids of the first supported device that has an audio render filter
// here. S_OK, or S_FALSE (ids untouched) when there is none.
HRESULT FindPresentDeviceIds(USHORT* vendorId, USHORT* productId);
