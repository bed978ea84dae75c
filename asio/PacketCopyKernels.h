// Pieces the plain and the SSE2 copy paths share: the per-sample loops (the
// SSE2 path finishes odd frame counts with them) and the marker pattern.
#pragma once

#include "PacketCopy.h"

#include <cstdint>

namespace packet_copy {

// Frames [first, last) of every present channel, one sample at a time.
void InterleaveFrames(uint8_t* packet, int32_t stride, const uint8_t* const* sources, int32_t channels, int32_t width,
                      int32_t first, int32_t last);
void DeinterleaveFrames(const uint8_t* packet, int32_t stride, uint8_t* const* destinations, int32_t channels,
                        int32_t width, int32_t first, int32_t last);

// The marker bytes a passing channel shows at samples 4k, 4k+1, 4k+2, 4k+3,
// read off its first two samples; not valid when the first is no marker.
struct MarkerPattern {
    bool valid;
    uint8_t bytes[4];
};
MarkerPattern MarkerPatternOf(const uint8_t* samples, int32_t frames, int32_t width);

// Frames packed without padding, every channel present: the layout the
// vector kernels take (each adds its own channel counts).
template <typename Pointer>
bool PackedAndPresent(int32_t stride, Pointer const* channelsOf, int32_t channels, int32_t width) {
    if (stride != channels * width) return false;
    for (int32_t c = 0; c < channels; ++c) {
        if (!channelsOf[c]) return false;
    }
    return true;
}

// The kernels the build has, whatever the processor: null when not built.
const Path* Ssse3Kernels();
const Path* Avx2Kernels();

}  // namespace packet_copy
