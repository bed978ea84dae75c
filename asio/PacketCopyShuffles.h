// The byte-shuffle indices of the 24-bit kernels (SSSE3 and AVX2), worked
// out once from the frame layout. The AVX2 kernels use each 16-byte table in
// both halves of a 256-bit vector.
#pragma once

#include "PacketCopyKernels.h"

#include <cstdint>

namespace packet_copy {
namespace shuffle {

constexpr int8_t kZero = -1;  // a shuffle index that yields 0

struct Bytes16 {
    alignas(16) int8_t b[16];
};

struct Tables {
    // Two channels, 8 frames: output vector k from channel a's and b's loads.
    Bytes16 twoA[3], twoB[3];
    // The same output vectors' marker bytes: which of a channel's four
    // pattern bytes each expects (kZero where the byte is no marker of it).
    Bytes16 markerA[3], markerB[3];
    // Two channels, 4 frames out of bytes [0,16) and [8,24): a's and b's 12 bytes.
    Bytes16 splitA[2], splitB[2];
    Bytes16 spread;   // four packed samples -> 32-bit lanes
    Bytes16 compact;  // 32-bit lanes -> twelve packed bytes (the top four zero)
};

const Tables& TheTables();

// A marker pattern's four bytes as one word, for the marker tables above.
inline int32_t PatternWord(const uint8_t bytes[4]) {
    return static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24);
}

constexpr int32_t kWidth = 3;
constexpr int32_t kMaxGroups = 16;  // groups of 4 channels held at once

// The layouts the 24-bit kernels take: packed frames of 2 channels or a
// multiple of 4.
template <typename Pointer>
bool Takes(int32_t stride, Pointer const* channelsOf, int32_t channels, int32_t width, int32_t frames) {
    if (width != kWidth || frames <= 0) return false;
    if (channels != 2 && (channels % 4 != 0 || channels / 4 > kMaxGroups)) return false;
    return PackedAndPresent(stride, channelsOf, channels, width);
}

// Around a kernel of kSampleWidth-byte samples: the channels' marker
// patterns, the kernel's frames (`kernel(scan, clean)` returns how many it
// did; scan is null without markers), the rest one sample at a time, and
// each channel's verdict.
template <int32_t kSampleWidth, typename Kernel>
void InterleaveScanned(uint8_t* packet, int32_t stride, const uint8_t* const* sources, int32_t channels,
                       int32_t frames, bool* markers, Kernel kernel) {
    MarkerPattern patterns[4 * kMaxGroups];
    bool clean[4 * kMaxGroups];
    for (int32_t c = 0; markers && c < channels; ++c) patterns[c] = MarkerPatternOf(sources[c], frames, kSampleWidth);
    const int32_t done = kernel(markers ? patterns : nullptr, clean);
    InterleaveFrames(packet, stride, sources, channels, kSampleWidth, done, frames);
    for (int32_t c = 0; markers && c < channels; ++c) {
        bool ok = patterns[c].valid && (done == 0 || clean[c]);
        for (int32_t f = done; ok && f < frames; ++f) {
            ok = sources[c][f * kSampleWidth + kSampleWidth - 1] == patterns[c].bytes[f % 4];
        }
        markers[c] = ok;
    }
}

}  // namespace shuffle
}  // namespace packet_copy
