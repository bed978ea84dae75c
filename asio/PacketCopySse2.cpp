// SSE2 kernels: the channels of a block of frames are transposed in registers
// (unpack steps), 24-bit samples are spread to 32-bit lanes and packed back
// with shifts, since SSE2 has no byte shuffle. Each kernel handles whole
// blocks and leaves the remaining frames to the per-sample loop.
#include "PacketCopy.h"

#include "PacketCopyKernels.h"

#if defined(__SSE2__)

#include <emmintrin.h>
#if defined(__i386__)
#include <cpuid.h>
#endif
#include "PacketCopySimd.h"

#include <cstring>

namespace packet_copy {

namespace {

using namespace simd;

constexpr int32_t kMaxGroups = 16;  // groups of 4 channels the 24-bit kernel holds at once

// 64-bit lane masks for 24-bit samples.
inline __m128i Low24() { return _mm_set1_epi64x(0x0000000000FFFFFFLL); }
inline __m128i Second24() { return _mm_set1_epi64x(0x0000FFFFFF000000LL); }
inline __m128i High24() { return _mm_set1_epi64x(0x00FFFFFF00000000LL); }

// Four packed 24-bit samples at p (reads 14 bytes) -> four 32-bit lanes.
inline __m128i Spread24(const uint8_t* p) {
    const __m128i t = _mm_unpacklo_epi64(Load8(p), Load8(p + 6));
    return _mm_or_si128(_mm_and_si128(t, Low24()), _mm_slli_epi64(_mm_and_si128(t, Second24()), 8));
}

// Four 32-bit lanes -> twelve packed bytes at p; writes 14 bytes, so stores
// must go in ascending address order with room for two more bytes.
inline void Pack24(uint8_t* p, __m128i v) {
    const __m128i t = _mm_or_si128(_mm_and_si128(v, Low24()), _mm_srli_epi64(_mm_and_si128(v, High24()), 8));
    Store8(p, t);
    Store8(p + 6, _mm_unpackhi_epi64(t, t));
}

// 8x8 transpose of 16-bit lanes.
inline void Transpose8(__m128i (&v)[8]) {
    __m128i t[8], u[8];
    #pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        t[i] = _mm_unpacklo_epi16(v[2 * i], v[2 * i + 1]);
        t[i + 4] = _mm_unpackhi_epi16(v[2 * i], v[2 * i + 1]);
    }
    #pragma GCC unroll 2
    for (int i = 0; i < 2; ++i) {
        u[4 * i] = _mm_unpacklo_epi32(t[4 * i], t[4 * i + 1]);
        u[4 * i + 1] = _mm_unpackhi_epi32(t[4 * i], t[4 * i + 1]);
        u[4 * i + 2] = _mm_unpacklo_epi32(t[4 * i + 2], t[4 * i + 3]);
        u[4 * i + 3] = _mm_unpackhi_epi32(t[4 * i + 2], t[4 * i + 3]);
    }
    #pragma GCC unroll 2
    for (int i = 0; i < 2; ++i) {
        v[4 * i] = _mm_unpacklo_epi64(u[4 * i], u[4 * i + 2]);
        v[4 * i + 1] = _mm_unpackhi_epi64(u[4 * i], u[4 * i + 2]);
        v[4 * i + 2] = _mm_unpacklo_epi64(u[4 * i + 1], u[4 * i + 3]);
        v[4 * i + 3] = _mm_unpackhi_epi64(u[4 * i + 1], u[4 * i + 3]);
    }
}

// Eight channels of 8 16-bit samples -> 8 frames. The first step pairs
// channels with shifts and masks instead of unpacks, which spreads the work
// over more execution ports: even frames [a0b0 a2b2 ..], odd [a1b1 a3b3 ..].
inline void Interleave8(const __m128i (&v)[8], __m128i (&frames)[8]) {
    const __m128i low = _mm_set1_epi32(0x0000FFFF);
    __m128i even[4], odd[4];
    #pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        even[i] = _mm_or_si128(_mm_and_si128(v[2 * i], low), _mm_slli_epi32(v[2 * i + 1], 16));
        odd[i] = _mm_or_si128(_mm_srli_epi32(v[2 * i], 16), _mm_andnot_si128(low, v[2 * i + 1]));
    }
    // [f0 | f2], [f4 | f6] of channels 0-3 and 4-7, and the same for odd frames.
    const __m128i e02a = _mm_unpacklo_epi32(even[0], even[1]), e46a = _mm_unpackhi_epi32(even[0], even[1]);
    const __m128i e02b = _mm_unpacklo_epi32(even[2], even[3]), e46b = _mm_unpackhi_epi32(even[2], even[3]);
    const __m128i o13a = _mm_unpacklo_epi32(odd[0], odd[1]), o57a = _mm_unpackhi_epi32(odd[0], odd[1]);
    const __m128i o13b = _mm_unpacklo_epi32(odd[2], odd[3]), o57b = _mm_unpackhi_epi32(odd[2], odd[3]);
    frames[0] = _mm_unpacklo_epi64(e02a, e02b);
    frames[2] = _mm_unpackhi_epi64(e02a, e02b);
    frames[4] = _mm_unpacklo_epi64(e46a, e46b);
    frames[6] = _mm_unpackhi_epi64(e46a, e46b);
    frames[1] = _mm_unpacklo_epi64(o13a, o13b);
    frames[3] = _mm_unpackhi_epi64(o13a, o13b);
    frames[5] = _mm_unpacklo_epi64(o57a, o57b);
    frames[7] = _mm_unpackhi_epi64(o57a, o57b);
}

// Two channels, one 6-byte frame per 64-bit lane: a | b << 24.
inline __m128i Frames24(__m128i a, __m128i b) {
    const __m128i pa = _mm_and_si128(_mm_unpacklo_epi64(a, _mm_srli_epi64(a, 24)), Low24());
    const __m128i pb = _mm_and_si128(_mm_slli_epi64(_mm_unpacklo_epi64(b, _mm_srli_epi64(b, 24)), 24), Second24());
    return _mm_or_si128(pa, pb);
}

// The marker scan riding on the kernels' loads: per channel, the bits in
// which the loaded samples differ from the expected ones are gathered; only
// the marker bytes count (masked at the end). Every load covers a whole
// number of 4-sample pattern periods, so one expected vector serves a channel.
struct Scan {
    bool on = false;
    __m128i expected[kMaxGroups * 4];
    __m128i differ[kMaxGroups * 4];
    __m128i mask;
    void Add(int32_t channel, __m128i loaded) {
        differ[channel] = _mm_or_si128(differ[channel], _mm_xor_si128(loaded, expected[channel]));
    }
};

// What a kernel's load of 4 (8 at 16 bits) samples of a passing channel
// holds in its marker bytes, and where they are.
void PrepareScan(Scan& scan, const MarkerPattern* patterns, int32_t channels, int32_t width) {
    scan.on = patterns != nullptr;
    scan.mask = _mm_setzero_si128();
    for (int32_t c = 0; c < channels || c < 2; ++c) scan.expected[c] = scan.differ[c] = _mm_setzero_si128();
    if (!scan.on) return;
    // Where sample i's marker byte lies in a load: two 24-bit channels are
    // loaded as 2 samples in each 64-bit half; the other 24-bit kernels
    // spread samples to 32-bit lanes.
    auto position = [&](int32_t i) {
        if (width == 3 && channels == 2) return (i / 2) * 8 + (i % 2) * 3 + 2;
        return width == 3 ? i * 4 + 2 : i * width + width - 1;
    };
    const int32_t samples = width == 2 ? 8 : 4;
    alignas(16) uint8_t mask[16] = {};
    for (int32_t i = 0; i < samples; ++i) mask[position(i)] = 0xFF;
    scan.mask = _mm_load_si128(reinterpret_cast<const __m128i*>(mask));
    for (int32_t c = 0; c < channels; ++c) {
        alignas(16) uint8_t expected[16] = {};
        for (int32_t i = 0; i < samples; ++i) expected[position(i)] = patterns[c].bytes[i % 4];
        scan.expected[c] = _mm_load_si128(reinterpret_cast<const __m128i*>(expected));
        scan.differ[c] = _mm_setzero_si128();
    }
}

// Frames done by the kernel; the caller finishes the rest sample by sample.
template <bool kScan>
int32_t InterleaveBlocks(uint8_t* out, int32_t stride, const uint8_t* const* s, int32_t channels, int32_t width,
                         int32_t frames, Scan& scan) {
    int32_t f = 0;
    // Two channels keep everything in registers (the stores could alias
    // anything reached through memory); the scan costs two operations a load.
    const uint8_t* const s0 = s[0];
    const uint8_t* const s1 = s[1];
    __m128i e0 = scan.expected[0];
    __m128i e1 = scan.expected[1];
    __m128i d0 = _mm_setzero_si128(), d1 = _mm_setzero_si128();
    auto pair = [&](__m128i a, __m128i b) {
        if (!kScan) return;
        d0 = _mm_or_si128(d0, _mm_xor_si128(a, e0));
        d1 = _mm_or_si128(d1, _mm_xor_si128(b, e1));
    };
    if (width == 4 && channels == 2) {
        for (; f + 4 <= frames; f += 4) {
            const __m128i a = Load(s0 + 4 * f), b = Load(s1 + 4 * f);
            pair(a, b);
            Store(out + 8 * f, _mm_unpacklo_epi32(a, b));
            Store(out + 8 * f + 16, _mm_unpackhi_epi32(a, b));
        }
    } else if (width == 4) {
        for (; f + 4 <= frames; f += 4) {
            for (int32_t g = 0; g < channels; g += 4) {
                __m128i a = Load(s[g] + 4 * f), b = Load(s[g + 1] + 4 * f);
                __m128i c = Load(s[g + 2] + 4 * f), d = Load(s[g + 3] + 4 * f);
                if (kScan) {
                    scan.Add(g, a);
                    scan.Add(g + 1, b);
                    scan.Add(g + 2, c);
                    scan.Add(g + 3, d);
                }
                Transpose4(a, b, c, d);
                uint8_t* to = out + f * stride + 4 * g;
                Store(to, a);
                Store(to + stride, b);
                Store(to + 2 * stride, c);
                Store(to + 3 * stride, d);
            }
        }
    } else if (width == 2 && channels == 2) {
        for (; f + 8 <= frames; f += 8) {
            const __m128i a = Load(s0 + 2 * f), b = Load(s1 + 2 * f);
            pair(a, b);
            Store(out + 4 * f, _mm_unpacklo_epi16(a, b));
            Store(out + 4 * f + 16, _mm_unpackhi_epi16(a, b));
        }
    } else if (width == 2) {
        for (; f + 8 <= frames; f += 8) {
            for (int32_t g = 0; g < channels; g += 8) {
                __m128i v[8];
                #pragma GCC unroll 8
                for (int i = 0; i < 8; ++i) {
                    v[i] = Load(s[g + i] + 2 * f);
                    if (kScan) scan.Add(g + i, v[i]);
                }
                __m128i rows[8];
                Interleave8(v, rows);
                #pragma GCC unroll 8
                for (int i = 0; i < 8; ++i) Store(out + (f + i) * stride + 2 * g, rows[i]);
            }
        }
    } else if (channels == 2) {
        // Two frames per 64-bit pair; the loop keeps a frame after each block for the overlapping stores.
        // Each 8-byte load holds two samples: the first pair's markers expected
        // in the low half, the second pair's moved down from the high half.
        const __m128i e0high = _mm_srli_si128(e0, 8), e1high = _mm_srli_si128(e1, 8);
        e0 = _mm_move_epi64(e0);
        e1 = _mm_move_epi64(e1);
        for (; f + 5 <= frames; f += 4) {
            const uint8_t* a = s0 + 3 * f;
            const uint8_t* b = s1 + 3 * f;
            const __m128i a01 = Load8(a), a23 = Load8(a + 6), b01 = Load8(b), b23 = Load8(b + 6);
            if (kScan) {
                pair(a01, b01);
                d0 = _mm_or_si128(d0, _mm_xor_si128(a23, e0high));
                d1 = _mm_or_si128(d1, _mm_xor_si128(b23, e1high));
            }
            const __m128i first = Frames24(a01, b01);
            const __m128i second = Frames24(a23, b23);
            uint8_t* to = out + 6 * f;
            Store8(to, first);
            Store8(to + 6, _mm_unpackhi_epi64(first, first));
            Store8(to + 12, second);
            Store8(to + 18, _mm_unpackhi_epi64(second, second));
        }
    } else {
        // Rows of every group first, then stored frame by frame in address order.
        const int32_t groups = channels / 4;
        __m128i rows[kMaxGroups][4];
        for (; f + 5 <= frames; f += 4) {
            for (int32_t g = 0; g < groups; ++g) {
                __m128i* r = rows[g];
                #pragma GCC unroll 4
                for (int i = 0; i < 4; ++i) {
                    r[i] = Spread24(s[4 * g + i] + 3 * f);
                    if (kScan) scan.Add(4 * g + i, r[i]);
                }
                Transpose4(r[0], r[1], r[2], r[3]);
            }
            #pragma GCC unroll 4
            for (int i = 0; i < 4; ++i) {
                uint8_t* to = out + (f + i) * stride;
                for (int32_t g = 0; g < groups; ++g) Pack24(to + 12 * g, rows[g][i]);
            }
        }
    }
    if (kScan && channels == 2) {
        scan.differ[0] = d0;
        scan.differ[1] = d1;
    }
    return f;
}

int32_t DeinterleaveBlocks(const uint8_t* in, int32_t stride, uint8_t* const* d, int32_t channels, int32_t width,
                           int32_t frames) {
    int32_t f = 0;
    // Hoisted: the stores could alias the pointer array.
    uint8_t* const d0 = d[0];
    uint8_t* const d1 = channels > 1 ? d[1] : nullptr;
    if (width == 4 && channels == 2) {
        for (; f + 4 <= frames; f += 4) {
            // [a0 b0 a1 b1] [a2 b2 a3 b3]: the even lanes of both are a's, the odd ones b's.
            const __m128 x = _mm_castsi128_ps(Load(in + 8 * f)), y = _mm_castsi128_ps(Load(in + 8 * f + 16));
            Store(d0 + 4 * f, _mm_castps_si128(_mm_shuffle_ps(x, y, _MM_SHUFFLE(2, 0, 2, 0))));
            Store(d1 + 4 * f, _mm_castps_si128(_mm_shuffle_ps(x, y, _MM_SHUFFLE(3, 1, 3, 1))));
        }
    } else if (width == 4) {
        for (; f + 4 <= frames; f += 4) {
            for (int32_t g = 0; g < channels; g += 4) {
                const uint8_t* from = in + f * stride + 4 * g;
                __m128i a = Load(from), b = Load(from + stride), c = Load(from + 2 * stride), e = Load(from + 3 * stride);
                Transpose4(a, b, c, e);
                Store(d[g] + 4 * f, a);
                Store(d[g + 1] + 4 * f, b);
                Store(d[g + 2] + 4 * f, c);
                Store(d[g + 3] + 4 * f, e);
            }
        }
    } else if (width == 2 && channels == 2) {
        for (; f + 8 <= frames; f += 8) {
            // Each 32-bit lane is a frame, a in its low half: a and b sign-extended
            // to the whole lane pack back without saturating. Shifts and one
            // pack a channel, where unpacks would need four shuffles.
            const __m128i x = Load(in + 4 * f), y = Load(in + 4 * f + 16);
            const __m128i ax = _mm_srai_epi32(_mm_slli_epi32(x, 16), 16), ay = _mm_srai_epi32(_mm_slli_epi32(y, 16), 16);
            Store(d0 + 2 * f, _mm_packs_epi32(ax, ay));
            Store(d1 + 2 * f, _mm_packs_epi32(_mm_srai_epi32(x, 16), _mm_srai_epi32(y, 16)));
        }
    } else if (width == 2) {
        for (; f + 8 <= frames; f += 8) {
            for (int32_t g = 0; g < channels; g += 8) {
                __m128i v[8];
                #pragma GCC unroll 8
                for (int i = 0; i < 8; ++i) v[i] = Load(in + (f + i) * stride + 2 * g);
                Transpose8(v);
                #pragma GCC unroll 8
                for (int i = 0; i < 8; ++i) Store(d[g + i] + 2 * f, v[i]);
            }
        }
    } else if (channels == 2) {
        // Two frames are four packed samples a b a b.
        for (; f + 5 <= frames; f += 4) {
            const __m128i x = _mm_shuffle_epi32(Spread24(in + 6 * f), _MM_SHUFFLE(3, 1, 2, 0));
            const __m128i y = _mm_shuffle_epi32(Spread24(in + 6 * f + 12), _MM_SHUFFLE(3, 1, 2, 0));
            Pack24(d0 + 3 * f, _mm_unpacklo_epi64(x, y));
            Pack24(d1 + 3 * f, _mm_unpackhi_epi64(x, y));
        }
    } else {
        for (; f + 5 <= frames; f += 4) {
            for (int32_t g = 0; g < channels; g += 4) {
                const uint8_t* from = in + f * stride + 3 * g;
                __m128i a = Spread24(from), b = Spread24(from + stride);
                __m128i c = Spread24(from + 2 * stride), e = Spread24(from + 3 * stride);
                Transpose4(a, b, c, e);
                Pack24(d[g] + 3 * f, a);
                Pack24(d[g + 1] + 3 * f, b);
                Pack24(d[g + 2] + 3 * f, c);
                Pack24(d[g + 3] + 3 * f, e);
            }
        }
    }
    return f;
}

// Whether the kernels take this layout: packed frames of 2 channels or of
// whole groups, every channel present.
template <typename Pointer>
bool Packed(int32_t stride, Pointer const* channelsOf, int32_t channels, int32_t width) {
    if (width < 2 || width > 4) return false;
    const int32_t groupSize = width == 2 ? 8 : 4;
    if (channels != 2 && (channels % groupSize != 0 || channels / 4 > kMaxGroups)) return false;
    return PackedAndPresent(stride, channelsOf, channels, width);
}

bool Sse2Markers(const uint8_t* samples, int32_t frames, int32_t width);

void Sse2Interleave(uint8_t* packet, int32_t stride, const uint8_t* const* sources, int32_t channels, int32_t width,
                    int32_t frames, bool* markers) {
    // Two 24-bit channels: the kernel is bound by its instruction count, so
    // the scan costs less as a pass of its own.
    const bool separateScan = width == 3 && channels == 2;
    const bool packed = frames > 0 && Packed(stride, sources, channels, width);
    if (!packed || (markers && separateScan)) {
        if (packed) {
            Sse2Interleave(packet, stride, sources, channels, width, frames, nullptr);
        } else {
            InterleaveFrames(packet, stride, sources, channels, width, 0, frames);
        }
        for (int32_t c = 0; markers && c < channels; ++c) {
            markers[c] = sources[c] && Sse2Markers(sources[c], frames, width);
        }
        return;
    }
    MarkerPattern patterns[kMaxGroups * 4];
    for (int32_t c = 0; markers && c < channels; ++c) patterns[c] = MarkerPatternOf(sources[c], frames, width);
    Scan scan;
    PrepareScan(scan, markers ? patterns : nullptr, channels, width);
    const int32_t done = scan.on ? InterleaveBlocks<true>(packet, stride, sources, channels, width, frames, scan)
                                 : InterleaveBlocks<false>(packet, stride, sources, channels, width, frames, scan);
    InterleaveFrames(packet, stride, sources, channels, width, done, frames);
    for (int32_t c = 0; markers && c < channels; ++c) {
        bool ok = patterns[c].valid &&
                  _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(scan.differ[c], scan.mask), _mm_setzero_si128())) ==
                      0xFFFF;
        for (int32_t f = done; ok && f < frames; ++f) {
            ok = sources[c][f * width + width - 1] == patterns[c].bytes[f % 4];
        }
        markers[c] = ok;
    }
}

void Sse2Deinterleave(const uint8_t* packet, int32_t stride, uint8_t* const* destinations, int32_t channels,
                      int32_t width, int32_t frames) {
    int32_t done = 0;
    if (frames > 0 && Packed(stride, destinations, channels, width)) {
        done = DeinterleaveBlocks(packet, stride, destinations, channels, width, frames);
    }
    DeinterleaveFrames(packet, stride, destinations, channels, width, done, frames);
}

// Every sample's top byte against the pattern, 16 samples (W vectors) at a
// time: the differences are gathered over the whole channel and masked once.
template <int W>
bool MarkersOf(const uint8_t* samples, int32_t frames, const MarkerPattern& pattern) {
    alignas(16) uint8_t mask[16 * W] = {};
    alignas(16) uint8_t expected[16 * W] = {};
    for (int i = 0; i < 16; ++i) {
        mask[i * W + W - 1] = 0xFF;
        expected[i * W + W - 1] = pattern.bytes[i % 4];
    }
    // Named registers, not arrays: the compiler keeps them out of memory.
    auto vector = [](const uint8_t* bytes, int v) {
        return v < W ? _mm_load_si128(reinterpret_cast<const __m128i*>(bytes + 16 * v)) : _mm_setzero_si128();
    };
    const __m128i e0 = vector(expected, 0), e1 = vector(expected, 1), e2 = vector(expected, 2),
                  e3 = vector(expected, 3);
    __m128i d0 = _mm_setzero_si128(), d1 = d0, d2 = d0, d3 = d0;
    int32_t f = 0;
    for (; f + 16 <= frames; f += 16) {
        const uint8_t* p = samples + f * W;
        d0 = _mm_or_si128(d0, _mm_xor_si128(Load(p), e0));
        d1 = _mm_or_si128(d1, _mm_xor_si128(Load(p + 16), e1));
        if (W > 2) d2 = _mm_or_si128(d2, _mm_xor_si128(Load(p + 32), e2));
        if (W > 3) d3 = _mm_or_si128(d3, _mm_xor_si128(Load(p + 48), e3));
    }
    const __m128i wrong =
        _mm_or_si128(_mm_or_si128(_mm_and_si128(d0, vector(mask, 0)), _mm_and_si128(d1, vector(mask, 1))),
                     _mm_or_si128(_mm_and_si128(d2, vector(mask, 2)), _mm_and_si128(d3, vector(mask, 3))));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(wrong, _mm_setzero_si128())) != 0xFFFF) return false;
    for (; f < frames; ++f) {
        if (samples[f * W + W - 1] != pattern.bytes[f % 4]) return false;
    }
    return true;
}

bool Sse2Markers(const uint8_t* samples, int32_t frames, int32_t width) {
    const MarkerPattern pattern = MarkerPatternOf(samples, frames, width);
    if (!pattern.valid) return false;
    switch (width) {
    case 2: return MarkersOf<2>(samples, frames, pattern);
    case 3: return MarkersOf<3>(samples, frames, pattern);
    case 4: return MarkersOf<4>(samples, frames, pattern);
    default: return false;
    }
}

const Path kSse2 = {"sse2", Sse2Interleave, Sse2Deinterleave, Sse2Markers};

}  // namespace

#if defined(__i386__)
// This file alone is built with SSE2 on i686: the processor must say it has it.
const Path* Sse2() {
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        return __get_cpuid(1, &a, &b, &c, &d) && (d & bit_SSE2) != 0;
    }();
    return has ? &kSse2 : nullptr;
}
#else
const Path* Sse2() { return &kSse2; }
#endif

}  // namespace packet_copy

#else

namespace packet_copy {

const Path* Sse2() { return nullptr; }

}  // namespace packet_copy

#endif
