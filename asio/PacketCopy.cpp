#include "PacketCopy.h"

#include "PacketCopyKernels.h"

#include <cstring>

namespace packet_copy {

namespace {

constexpr uint8_t kMarkerLow = 0x05;
constexpr uint8_t kMarkerHigh = 0xFA;
constexpr uint8_t kMarkerConstant = 0xAA;

bool PlainMarkers(const uint8_t* samples, int32_t frames, int32_t width);

void PlainInterleave(uint8_t* packet, int32_t stride, const uint8_t* const* sources, int32_t channels, int32_t width,
                     int32_t frames, bool* markers) {
    InterleaveFrames(packet, stride, sources, channels, width, 0, frames);
    for (int32_t c = 0; markers && c < channels; ++c) {
        markers[c] = sources[c] && PlainMarkers(sources[c], frames, width);
    }
}

void PlainDeinterleave(const uint8_t* packet, int32_t stride, uint8_t* const* destinations, int32_t channels,
                       int32_t width, int32_t frames) {
    DeinterleaveFrames(packet, stride, destinations, channels, width, 0, frames);
}

// The scan as a state machine over the samples: the first sample sets the
// marker, the second whether it alternates per sample or per pair.
bool PlainMarkers(const uint8_t* samples, int32_t frames, int32_t width) {
    if (frames <= 0) return false;
    bool secondOfPair = false;
    bool alternate = false;
    uint8_t expected = 0;
    for (int32_t f = 0; f < frames; ++f) {
        const uint8_t marker = samples[f * width + width - 1];
        if (marker != kMarkerLow && marker != kMarkerHigh && marker != kMarkerConstant) return false;
        if (!secondOfPair) {
            if (f == 0) {
                expected = marker;
                alternate = f + 1 < frames && marker != samples[(f + 1) * width + width - 1];
            } else if (expected != kMarkerConstant) {
                expected = static_cast<uint8_t>(~expected);
            }
        } else if (alternate && expected != kMarkerConstant) {
            expected = static_cast<uint8_t>(~expected);
        }
        if (marker != expected) return false;
        secondOfPair = !secondOfPair;
    }
    return true;
}

const Path kPlain = {"plain", PlainInterleave, PlainDeinterleave, PlainMarkers};

}  // namespace

void InterleaveFrames(uint8_t* packet, int32_t stride, const uint8_t* const* sources, int32_t channels, int32_t width,
                      int32_t first, int32_t last) {
    for (int32_t c = 0; c < channels; ++c) {
        const uint8_t* from = sources[c];
        if (!from) continue;
        uint8_t* to = packet + c * width;
        // Fixed sizes let the compiler move each sample in one or two stores.
        switch (width) {
        case 2:
            for (int32_t f = first; f < last; ++f) std::memcpy(to + f * stride, from + f * 2, 2);
            break;
        case 3:
            for (int32_t f = first; f < last; ++f) std::memcpy(to + f * stride, from + f * 3, 3);
            break;
        default:
            for (int32_t f = first; f < last; ++f) std::memcpy(to + f * stride, from + f * 4, 4);
            break;
        }
    }
}

void DeinterleaveFrames(const uint8_t* packet, int32_t stride, uint8_t* const* destinations, int32_t channels,
                        int32_t width, int32_t first, int32_t last) {
    for (int32_t c = 0; c < channels; ++c) {
        uint8_t* to = destinations[c];
        if (!to) continue;
        const uint8_t* from = packet + c * width;
        switch (width) {
        case 2:
            for (int32_t f = first; f < last; ++f) std::memcpy(to + f * 2, from + f * stride, 2);
            break;
        case 3:
            for (int32_t f = first; f < last; ++f) std::memcpy(to + f * 3, from + f * stride, 3);
            break;
        default:
            for (int32_t f = first; f < last; ++f) std::memcpy(to + f * 4, from + f * stride, 4);
            break;
        }
    }
}

MarkerPattern MarkerPatternOf(const uint8_t* samples, int32_t frames, int32_t width) {
    MarkerPattern pattern = {false, {0, 0, 0, 0}};
    if (frames <= 0) return pattern;
    const uint8_t first = samples[width - 1];
    if (first != kMarkerLow && first != kMarkerHigh && first != kMarkerConstant) return pattern;
    pattern.valid = true;
    const uint8_t other = first == kMarkerConstant ? first : static_cast<uint8_t>(~first);
    const bool alternate = frames > 1 && samples[2 * width - 1] != first;
    pattern.bytes[0] = first;
    pattern.bytes[1] = alternate ? other : first;
    pattern.bytes[2] = alternate ? first : other;
    pattern.bytes[3] = other;
    return pattern;
}

const Path& Plain() { return kPlain; }

const Path& Best() {
    static const Path& best = Choose(ThisMachine());
    return best;
}

}  // namespace packet_copy
