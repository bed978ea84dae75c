// SSSE3 kernels for 24-bit samples: a byte shuffle (pshufb) moves three-byte
// samples straight to their places, where SSE2 needs shifts and masks. SSSE3
// is not part of the x86-64 baseline, so only the functions between the
// target pragmas below use it, and the path is offered only when CPUID says
// the processor has it. Every other width and layout goes the SSE2 way.
#include "PacketCopy.h"

#include "PacketCopyKernels.h"

#if defined(__SSE2__) && defined(__GNUC__)

#include <tmmintrin.h>
#include "PacketCopyShuffles.h"
#include "PacketCopySimd.h"

#include <cstring>

namespace packet_copy {

namespace {

// Declared here so that the Bytes16 overload below adds to them.
using simd::Load;
using simd::Store;
using simd::Store8;
using simd::Transpose4;

using shuffle::kMaxGroups;
using shuffle::Takes;
using shuffle::Bytes16;
using shuffle::InterleaveScanned;
using shuffle::PatternWord;
using shuffle::kZero;
using shuffle::TheTables;
using shuffle::Tables;

}  // namespace
}  // namespace packet_copy

#pragma GCC push_options
#pragma GCC target("ssse3")

namespace packet_copy {
namespace {

inline __m128i Load(const Bytes16& v) { return _mm_load_si128(reinterpret_cast<const __m128i*>(v.b)); }
// True when no byte differed where `marks` holds a pattern index (not kZero).
inline bool Clean(__m128i differ, const Bytes16& marks) {
    const __m128i mask = _mm_cmpgt_epi8(Load(marks), _mm_set1_epi8(-1));
    const __m128i wrong = _mm_and_si128(differ, mask);
    return _mm_movemask_epi8(_mm_cmpeq_epi8(wrong, _mm_setzero_si128())) == 0xFFFF;
}

// Two channels, 8 frames (48 bytes) a step. With the scan, the output vectors
// are held to the expected marker bytes of both channels; `clean` gets
// whether each channel passed over the frames done. Returns the frames done.
template <bool kScan>
int32_t InterleaveTwo(uint8_t* out, const uint8_t* a, const uint8_t* b, int32_t frames, const MarkerPattern* patterns,
                      bool* clean) {
    const Tables& t = TheTables();
    const __m128i ma0 = Load(t.twoA[0]), ma1 = Load(t.twoA[1]), ma2 = Load(t.twoA[2]);
    const __m128i mb0 = Load(t.twoB[0]), mb1 = Load(t.twoB[1]), mb2 = Load(t.twoB[2]);
    // The expected marker bytes of both channels, where the output has them.
    __m128i e0 = _mm_setzero_si128(), e1 = e0, e2 = e0;
    if (kScan) {
        const __m128i pa = _mm_cvtsi32_si128(PatternWord(patterns[0].bytes));
        const __m128i pb = _mm_cvtsi32_si128(PatternWord(patterns[1].bytes));
        e0 = _mm_or_si128(_mm_shuffle_epi8(pa, Load(t.markerA[0])), _mm_shuffle_epi8(pb, Load(t.markerB[0])));
        e1 = _mm_or_si128(_mm_shuffle_epi8(pa, Load(t.markerA[1])), _mm_shuffle_epi8(pb, Load(t.markerB[1])));
        e2 = _mm_or_si128(_mm_shuffle_epi8(pa, Load(t.markerA[2])), _mm_shuffle_epi8(pb, Load(t.markerB[2])));
    }
    __m128i d0 = _mm_setzero_si128(), d1 = d0, d2 = d0;
    int32_t f = 0;
    for (; f + 8 <= frames; f += 8) {
        const __m128i a0 = Load(a + 3 * f), a8 = Load(a + 3 * f + 8);
        const __m128i b0 = Load(b + 3 * f), b8 = Load(b + 3 * f + 8);
        const __m128i o0 = _mm_or_si128(_mm_shuffle_epi8(a0, ma0), _mm_shuffle_epi8(b0, mb0));
        const __m128i o1 = _mm_or_si128(_mm_shuffle_epi8(a8, ma1), _mm_shuffle_epi8(b0, mb1));
        const __m128i o2 = _mm_or_si128(_mm_shuffle_epi8(a8, ma2), _mm_shuffle_epi8(b8, mb2));
        uint8_t* to = out + 6 * f;
        Store(to, o0);
        Store(to + 16, o1);
        Store(to + 32, o2);
        if (kScan) {
            d0 = _mm_or_si128(d0, _mm_xor_si128(o0, e0));
            d1 = _mm_or_si128(d1, _mm_xor_si128(o1, e1));
            d2 = _mm_or_si128(d2, _mm_xor_si128(o2, e2));
        }
    }
    if (kScan) {
        clean[0] = Clean(d0, t.markerA[0]) && Clean(d1, t.markerA[1]) && Clean(d2, t.markerA[2]);
        clean[1] = Clean(d0, t.markerB[0]) && Clean(d1, t.markerB[1]) && Clean(d2, t.markerB[2]);
    }
    return f;
}

// Two channels, 4 frames a step: a's and b's twelve bytes out of the frames'
// bytes [0,16) and [8,24), stored 16 at a time in ascending order, so the
// loop leaves two frames after its last step.
int32_t DeinterleaveTwo(const uint8_t* in, uint8_t* a, uint8_t* b, int32_t frames) {
    const Tables& t = TheTables();
    const __m128i a0 = Load(t.splitA[0]), a1 = Load(t.splitA[1]);
    const __m128i b0 = Load(t.splitB[0]), b1 = Load(t.splitB[1]);
    int32_t f = 0;
    for (; f + 6 <= frames; f += 4) {
        const __m128i low = Load(in + 6 * f), high = Load(in + 6 * f + 8);
        Store(a + 3 * f, _mm_or_si128(_mm_shuffle_epi8(low, a0), _mm_shuffle_epi8(high, a1)));
        Store(b + 3 * f, _mm_or_si128(_mm_shuffle_epi8(low, b0), _mm_shuffle_epi8(high, b1)));
    }
    return f;
}

// Groups of four channels, 4 frames a step: each channel's four samples are
// spread to 32-bit lanes, transposed to frames and packed back. With the
// scan, the loads are held to the expected marker bytes at 3i + 2 (the
// fifth sample is the next step's first, expected the same).
template <int kGroups, bool kScan>
int32_t InterleaveGroups(uint8_t* out, int32_t stride, const uint8_t* const* s, int32_t groupCount, int32_t frames,
                         const MarkerPattern* patterns, bool* clean) {
    const int32_t groups = kGroups > 0 ? kGroups : groupCount;
    const int32_t channels = 4 * groups;
    const Tables& t = TheTables();
    const __m128i spread = Load(t.spread), compact = Load(t.compact);
    Bytes16 marks;  // the marker bytes of the five samples a load holds
    for (int8_t& x : marks.b) x = kZero;
    for (int i = 0; i < 5; ++i) marks.b[3 * i + 2] = static_cast<int8_t>(i % 4);
    Bytes16 expected[4 * kMaxGroups] = {};
    for (int32_t c = 0; patterns && c < channels; ++c) {
        for (int i = 0; i < 5; ++i) expected[c].b[3 * i + 2] = static_cast<int8_t>(patterns[c].bytes[i % 4]);
    }
    __m128i differ[4 * kMaxGroups];
    for (int32_t c = 0; c < channels; ++c) differ[c] = _mm_setzero_si128();
    // One group's channels c..c+3 at frames f..f+3 -> the four frames' twelve bytes.
    auto rows = [&](int32_t c, int32_t f, __m128i& a, __m128i& b, __m128i& d, __m128i& e) {
        a = Load(s[c] + 3 * f);
        b = Load(s[c + 1] + 3 * f);
        d = Load(s[c + 2] + 3 * f);
        e = Load(s[c + 3] + 3 * f);
        if (kScan) {
            differ[c] = _mm_or_si128(differ[c], _mm_xor_si128(a, Load(expected[c])));
            differ[c + 1] = _mm_or_si128(differ[c + 1], _mm_xor_si128(b, Load(expected[c + 1])));
            differ[c + 2] = _mm_or_si128(differ[c + 2], _mm_xor_si128(d, Load(expected[c + 2])));
            differ[c + 3] = _mm_or_si128(differ[c + 3], _mm_xor_si128(e, Load(expected[c + 3])));
        }
        a = _mm_shuffle_epi8(a, spread);
        b = _mm_shuffle_epi8(b, spread);
        d = _mm_shuffle_epi8(d, spread);
        e = _mm_shuffle_epi8(e, spread);
        Transpose4(a, b, d, e);
        a = _mm_shuffle_epi8(a, compact);
        b = _mm_shuffle_epi8(b, compact);
        d = _mm_shuffle_epi8(d, compact);
        e = _mm_shuffle_epi8(e, compact);
    };
    auto single = [](uint8_t* to, __m128i row) {
        Store8(to, row);
        const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(row, 8));
        std::memcpy(to + 8, &last, 4);
    };
    int32_t f = 0;
    // Loads of 16 bytes reach into the sixth frame.
    for (; f + 6 <= frames; f += 4) {
        uint8_t* to = out + f * stride;
        for (int32_t g = 0; g < groups; ++g) {
            __m128i a, b, d, e;
            rows(4 * g, f, a, b, d, e);
            single(to + 12 * g, a);
            single(to + stride + 12 * g, b);
            single(to + 2 * stride + 12 * g, d);
            single(to + 3 * stride + 12 * g, e);
        }
    }
    for (int32_t c = 0; kScan && c < channels; ++c) clean[c] = Clean(differ[c], marks);
    return f;
}

// Groups of four channels, 4 frames a step: each frame's twelve bytes of a
// group spread to 32-bit lanes, transposed to channels and packed back; the
// 16-byte stores leave their spare bytes to the next step, so the loop
// leaves two frames after its last step.
int32_t DeinterleaveGroups(const uint8_t* in, int32_t stride, uint8_t* const* d, int32_t channels, int32_t frames) {
    const Tables& t = TheTables();
    const __m128i spread = Load(t.spread), compact = Load(t.compact);
    int32_t f = 0;
    for (; f + 6 <= frames; f += 4) {
        for (int32_t g = 0; g < channels; g += 4) {
            const uint8_t* from = in + f * stride + 3 * g;
            __m128i a = _mm_shuffle_epi8(Load(from), spread);
            __m128i b = _mm_shuffle_epi8(Load(from + stride), spread);
            __m128i c = _mm_shuffle_epi8(Load(from + 2 * stride), spread);
            __m128i e = _mm_shuffle_epi8(Load(from + 3 * stride), spread);
            Transpose4(a, b, c, e);
            Store(d[g] + 3 * f, _mm_shuffle_epi8(a, compact));
            Store(d[g + 1] + 3 * f, _mm_shuffle_epi8(b, compact));
            Store(d[g + 2] + 3 * f, _mm_shuffle_epi8(c, compact));
            Store(d[g + 3] + 3 * f, _mm_shuffle_epi8(e, compact));
        }
    }
    return f;
}

}  // namespace
}  // namespace packet_copy

#pragma GCC pop_options

namespace packet_copy {
namespace {

void Ssse3Interleave(uint8_t* packet, int32_t stride, const uint8_t* const* sources, int32_t channels,
                     int32_t width, int32_t frames, bool* markers) {
    if (!Takes(stride, sources, channels, width, frames)) {
        Sse2()->interleave(packet, stride, sources, channels, width, frames, markers);
        return;
    }
    InterleaveScanned<shuffle::kWidth>(packet, stride, sources, channels, frames, markers,
                                       [&](const MarkerPattern* scan, bool* clean) {
        if (channels == 2) {
            return scan ? InterleaveTwo<true>(packet, sources[0], sources[1], frames, scan, clean)
                        : InterleaveTwo<false>(packet, sources[0], sources[1], frames, scan, clean);
        }
        if (channels == 4) {
            return scan ? InterleaveGroups<1, true>(packet, stride, sources, 1, frames, scan, clean)
                        : InterleaveGroups<1, false>(packet, stride, sources, 1, frames, scan, clean);
        }
        return scan ? InterleaveGroups<0, true>(packet, stride, sources, channels / 4, frames, scan, clean)
                    : InterleaveGroups<0, false>(packet, stride, sources, channels / 4, frames, scan, clean);
    });
}

void Ssse3Deinterleave(const uint8_t* packet, int32_t stride, uint8_t* const* destinations, int32_t channels,
                       int32_t width, int32_t frames) {
    if (!Takes(stride, destinations, channels, width, frames)) {
        Sse2()->deinterleave(packet, stride, destinations, channels, width, frames);
        return;
    }
    const int32_t done = channels == 2 ? DeinterleaveTwo(packet, destinations[0], destinations[1], frames)
                                       : DeinterleaveGroups(packet, stride, destinations, channels, frames);
    DeinterleaveFrames(packet, stride, destinations, channels, width, done, frames);
}

bool Ssse3Markers(const uint8_t* samples, int32_t frames, int32_t width) {
    // The scan alone needs no shuffle: the SSE2 one is as fast.
    return Sse2()->markers(samples, frames, width);
}

const Path kSsse3 = {"ssse3", Ssse3Interleave, Ssse3Deinterleave, Ssse3Markers};

}  // namespace

const Path* Ssse3Kernels() { return &kSsse3; }

}  // namespace packet_copy

#else

namespace packet_copy {

const Path* Ssse3Kernels() { return nullptr; }

}  // namespace packet_copy

#endif
