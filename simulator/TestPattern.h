// The deterministic test signal the virtual device checks render data
// against and delivers as capture data; the reference host plays the same.
//
// Channel c, frame n, width w bits: the low w bits of n * Step(c) + Offset(c),
// stored little-endian in w / 8 bytes. Every step is odd, so a single sample
// tells its frame number (modulo 2^w): a checker can lock on at any point, and
// after a glitch it falls back in step at the next sample. Each channel has its
// own step, so a channel that carries another's samples never reads as a
// shifted copy of its own: it breaks at every sample. Frame 0 is never zero on
// any channel, so leading silence is told apart from the pattern's start.
//
// DSD uses the 32-bit form: 32 one-bit samples of a channel are the four
// bytes of Sample(c, n, 32), least significant byte first, in stream order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace TestPattern {

constexpr uint32_t kStep = 0x9E3779B1u;
// Even, and no multiple of it below 2^15 vanishes modulo 2^16: the channels'
// steps differ at every width.
constexpr uint32_t kChannelStepDelta = 0x6A3C5E92u;

constexpr uint32_t Step(unsigned channel) { return kStep + kChannelStepDelta * channel; }

constexpr uint32_t Inverse(uint32_t odd) {
    uint32_t x = odd;  // Newton's iteration doubles the correct bits each step
    for (int i = 0; i < 5; ++i) x *= 2u - odd * x;
    return x;
}
static_assert(Step(0) * Inverse(Step(0)) == 1u && Step(7) * Inverse(Step(7)) == 1u, "steps must be invertible");

constexpr uint32_t Mask(unsigned bits) { return bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1u); }

constexpr uint32_t Offset(unsigned channel) { return 0x6B5A0000u + 0x0101u * (channel + 1u); }

constexpr uint32_t Sample(unsigned channel, uint64_t frame, unsigned bits) {
    return (static_cast<uint32_t>(frame) * Step(channel) + Offset(channel)) & Mask(bits);
}

// The frame number (modulo 2^bits) a sample value stands for.
constexpr uint32_t FrameOf(unsigned channel, uint32_t value, unsigned bits) {
    return ((value - Offset(channel)) * Inverse(Step(channel))) & Mask(bits);
}

// DSD over PCM (24- or 32-bit frames at 176400 or 352800 Hz): the most
// significant byte is the marker, 0x05 on even frames and 0xFA on odd ones;
// the 16 bits below it carry Sample(c, n, 16); a 32-bit frame's low byte is 0.
constexpr uint8_t kDopMarkerEven = 0x05;
constexpr uint8_t kDopMarkerOdd = 0xFA;

constexpr uint8_t DopMarker(uint64_t frame) { return (frame & 1) ? kDopMarkerOdd : kDopMarkerEven; }

constexpr uint32_t DopSample(unsigned channel, uint64_t frame, unsigned bits) {
    return ((static_cast<uint32_t>(DopMarker(frame)) << 16 | Sample(channel, frame, 16)) << (bits - 24)) & Mask(bits);
}

inline void Store(uint8_t* at, uint32_t value, unsigned bytes) {
    for (unsigned i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint32_t Load(const uint8_t* at, unsigned bytes) {
    uint32_t value = 0;
    for (unsigned i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
    return value;
}

// Checks one channel's samples as they arrive: leading zero samples are
// silence; the first non-zero sample locks the checker on; from then on every
// sample must be the next frame's, and a sample that is not counts one break
// and re-locks on what arrived.
struct Checker {
    bool locked = false;
    uint32_t expected = 0;  // frame number of the next sample, modulo 2^bits
    uint64_t breaks = 0;

    void Reset() { *this = Checker(); }

    void Check(unsigned channel, uint32_t value, unsigned bits) {
        if (!locked) {
            if (value == 0) return;
            locked = true;
        } else if (value == Sample(channel, expected, bits)) {
            expected = (expected + 1) & Mask(bits);
            return;
        } else {
            ++breaks;
        }
        expected = (FrameOf(channel, value, bits) + 1) & Mask(bits);
    }
};

}  // namespace TestPattern
