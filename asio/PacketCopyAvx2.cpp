// AVX2 kernels for 24-bit render copies and for capture copies at every
// width: the SSSE3 byte shuffles and the SSE2 transposes on 256-bit vectors.
// Most AVX2 shuffles work within each 128-bit half, so each half carries its
// own block of frames (or of channels) and the same 16-byte tables serve
// both. Offered only when CPUID says the processor has AVX2 and XGETBV says
// the system keeps the 256-bit registers; only the functions between the
// target pragmas use it. Other layouts go the SSSE3 way.
//
// GCC does not align the stack to 32 bytes on Windows, so this file is
// assembled with unaligned vector moves (see CMakeLists.txt): a spilled
// 256-bit register would otherwise fault.
#include "PacketCopy.h"

#include "PacketCopyKernels.h"

#if defined(__SSE2__) && defined(__GNUC__)

#include <immintrin.h>
#include "PacketCopyShuffles.h"

#include <cstring>

namespace packet_copy {

namespace {

using shuffle::Bytes16;
using shuffle::InterleaveScanned;
using shuffle::PatternWord;
using shuffle::kMaxGroups;
using shuffle::kZero;
using shuffle::Takes;
using shuffle::Tables;
using shuffle::TheTables;

}  // namespace
}  // namespace packet_copy

#pragma GCC push_options
#pragma GCC target("avx2")

namespace packet_copy {
namespace {

// A 16-byte table in both halves.
inline __m256i Wide(const Bytes16& v) {
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(v.b)));
}
// 16 bytes at `low` and 16 at `high` as the two halves.
inline __m256i Load2(const uint8_t* low, const uint8_t* high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}
inline void Store32(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
inline void Store16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
// True when no byte differed where `marks` holds a pattern index (not kZero).
inline bool Clean(__m256i differ, const Bytes16& marks) {
    const __m256i mask = _mm256_cmpgt_epi8(Wide(marks), _mm256_set1_epi8(-1));
    const __m256i wrong = _mm256_and_si256(differ, mask);
    return _mm256_movemask_epi8(_mm256_cmpeq_epi8(wrong, _mm256_setzero_si256())) == -1;
}

// Two channels, 16 frames (96 bytes) a step: the SSSE3 step's 8 frames in
// each half. With the scan, the output is held to the expected marker bytes
// of both channels (frames i and i + 8 expect the same one); `clean` gets
// whether each channel passed over the frames done. Returns the frames done.
template <bool kScan>
int32_t InterleaveTwo(uint8_t* out, const uint8_t* a, const uint8_t* b, int32_t frames, const MarkerPattern* patterns,
                      bool* clean) {
    const Tables& t = TheTables();
    const __m256i ma0 = Wide(t.twoA[0]), ma1 = Wide(t.twoA[1]), ma2 = Wide(t.twoA[2]);
    const __m256i mb0 = Wide(t.twoB[0]), mb1 = Wide(t.twoB[1]), mb2 = Wide(t.twoB[2]);
    // The expected marker bytes of both channels, where the output has them.
    __m256i e0 = _mm256_setzero_si256(), e1 = e0, e2 = e0;
    if (kScan) {
        const __m256i pa = _mm256_set1_epi32(PatternWord(patterns[0].bytes));
        const __m256i pb = _mm256_set1_epi32(PatternWord(patterns[1].bytes));
        e0 = _mm256_or_si256(_mm256_shuffle_epi8(pa, Wide(t.markerA[0])), _mm256_shuffle_epi8(pb, Wide(t.markerB[0])));
        e1 = _mm256_or_si256(_mm256_shuffle_epi8(pa, Wide(t.markerA[1])), _mm256_shuffle_epi8(pb, Wide(t.markerB[1])));
        e2 = _mm256_or_si256(_mm256_shuffle_epi8(pa, Wide(t.markerA[2])), _mm256_shuffle_epi8(pb, Wide(t.markerB[2])));
    }
    __m256i d0 = _mm256_setzero_si256(), d1 = d0, d2 = d0;
    int32_t f = 0;
    for (; f + 16 <= frames; f += 16) {
        const uint8_t* pa = a + 3 * f;
        const uint8_t* pb = b + 3 * f;
        const __m256i a0 = Load2(pa, pa + 24), a8 = Load2(pa + 8, pa + 32);
        const __m256i b0 = Load2(pb, pb + 24), b8 = Load2(pb + 8, pb + 32);
        const __m256i o0 = _mm256_or_si256(_mm256_shuffle_epi8(a0, ma0), _mm256_shuffle_epi8(b0, mb0));
        const __m256i o1 = _mm256_or_si256(_mm256_shuffle_epi8(a8, ma1), _mm256_shuffle_epi8(b0, mb1));
        const __m256i o2 = _mm256_or_si256(_mm256_shuffle_epi8(a8, ma2), _mm256_shuffle_epi8(b8, mb2));
        // The low halves hold the step's bytes [0,48), the high ones [48,96).
        uint8_t* to = out + 6 * f;
        Store32(to, _mm256_permute2x128_si256(o0, o1, 0x20));
        Store32(to + 32, _mm256_permute2x128_si256(o2, o0, 0x30));
        Store32(to + 64, _mm256_permute2x128_si256(o1, o2, 0x31));
        if (kScan) {
            d0 = _mm256_or_si256(d0, _mm256_xor_si256(o0, e0));
            d1 = _mm256_or_si256(d1, _mm256_xor_si256(o1, e1));
            d2 = _mm256_or_si256(d2, _mm256_xor_si256(o2, e2));
        }
    }
    if (kScan) {
        clean[0] = Clean(d0, t.markerA[0]) && Clean(d1, t.markerA[1]) && Clean(d2, t.markerA[2]);
        clean[1] = Clean(d0, t.markerB[0]) && Clean(d1, t.markerB[1]) && Clean(d2, t.markerB[2]);
    }
    return f;
}

// 4x4 transpose of 32-bit lanes in each half.
inline void Transpose4(__m256i& a, __m256i& b, __m256i& c, __m256i& d) {
    const __m256i t0 = _mm256_unpacklo_epi32(a, b), t1 = _mm256_unpacklo_epi32(c, d);
    const __m256i t2 = _mm256_unpackhi_epi32(a, b), t3 = _mm256_unpackhi_epi32(c, d);
    a = _mm256_unpacklo_epi64(t0, t1);
    b = _mm256_unpackhi_epi64(t0, t1);
    c = _mm256_unpacklo_epi64(t2, t3);
    d = _mm256_unpackhi_epi64(t2, t3);
}

// Groups of four channels, 8 frames a step: frames 0-3 in the low halves,
// 4-7 in the high ones, each spread to 32-bit lanes and transposed to
// frames. With the scan, each transposed frame is held to the expected
// marker bytes before it is packed: byte 2 of lane k is channel k's marker,
// so one register a group collects all four channels' differences.
struct Group {
    __m256i expected[4];  // frames i and i + 4 (per lane: channel)
    __m256i differ;
};

// One group's rows at frames f..f+7: frame i's twelve bytes in the low half
// of rows[i], frame i + 4's in the high half (the top four bytes zero).
template <bool kScan>
inline __attribute__((always_inline)) void GroupRows(const uint8_t* const* s, int32_t f, __m256i spread,
                                                     __m256i compact, Group& group, __m256i rows[4]) {
    const uint8_t* c0 = s[0] + 3 * f;
    const uint8_t* c1 = s[1] + 3 * f;
    const uint8_t* c2 = s[2] + 3 * f;
    const uint8_t* c3 = s[3] + 3 * f;
    __m256i r0 = _mm256_shuffle_epi8(Load2(c0, c0 + 12), spread);
    __m256i r1 = _mm256_shuffle_epi8(Load2(c1, c1 + 12), spread);
    __m256i r2 = _mm256_shuffle_epi8(Load2(c2, c2 + 12), spread);
    __m256i r3 = _mm256_shuffle_epi8(Load2(c3, c3 + 12), spread);
    Transpose4(r0, r1, r2, r3);
    if (kScan) {
        const __m256i x0 = _mm256_xor_si256(r0, group.expected[0]), x1 = _mm256_xor_si256(r1, group.expected[1]);
        const __m256i x2 = _mm256_xor_si256(r2, group.expected[2]), x3 = _mm256_xor_si256(r3, group.expected[3]);
        group.differ = _mm256_or_si256(group.differ, _mm256_or_si256(_mm256_or_si256(x0, x1), _mm256_or_si256(x2, x3)));
    }
    rows[0] = _mm256_shuffle_epi8(r0, compact);
    rows[1] = _mm256_shuffle_epi8(r1, compact);
    rows[2] = _mm256_shuffle_epi8(r2, compact);
    rows[3] = _mm256_shuffle_epi8(r3, compact);
}

// Every frame's twelve bytes of a group go out in one 16-byte store whose
// spare four a later store overwrites: the next group's of the same frame,
// or the next frame's first group's when frames go out in order (the loop
// leaves two frames after its last step). With one group frames go out in
// order; with several (eight channels have their own kernel below), groups
// go out one after another and the last one's bytes exactly, since they
// would reach into the next frame's first group, already written.
template <int kGroups, bool kScan>
int32_t InterleaveGroups(uint8_t* out, int32_t stride, const uint8_t* const* s, int32_t groupCount, int32_t frames,
                         const MarkerPattern* patterns, bool* clean) {
    const int32_t groups = kGroups > 0 ? kGroups : groupCount;
    const Tables& t = TheTables();
    const __m256i spread = Wide(t.spread), compact = Wide(t.compact);
    Group group[kMaxGroups];
    for (int32_t g = 0; g < groups; ++g) {
        // Byte 2 of lane k: channel k's pattern byte i (frames i and i + 4).
        for (int i = 0; kScan && i < 4; ++i) {
            int32_t lane[4];
            for (int k = 0; k < 4; ++k) lane[k] = patterns[4 * g + k].bytes[i] << 16;
            group[g].expected[i] = _mm256_setr_epi32(lane[0], lane[1], lane[2], lane[3], lane[0], lane[1], lane[2], lane[3]);
        }
        group[g].differ = _mm256_setzero_si256();
    }
    auto exact = [](uint8_t* to, __m128i v) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to), v);
        const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(v, 8));
        std::memcpy(to + 8, &last, 4);
    };
    int32_t f = 0;
    // The high halves' loads reach into the tenth frame.
    for (; f + 10 <= frames; f += 8) {
        uint8_t* to = out + f * stride;
        if (kGroups == 1) {
            __m256i rows[4];
            GroupRows<kScan>(s, f, spread, compact, group[0], rows);
            for (int i = 0; i < 4; ++i) Store16(to + i * stride, _mm256_castsi256_si128(rows[i]));
            for (int i = 0; i < 4; ++i) Store16(to + (i + 4) * stride, _mm256_extracti128_si256(rows[i], 1));
            continue;
        }
        for (int32_t g = 0; g < groups; ++g) {
            __m256i rows[4];
            GroupRows<kScan>(s + 4 * g, f, spread, compact, group[g], rows);
            uint8_t* at = to + 12 * g;
            for (int i = 0; i < 4; ++i) {
                const __m128i low = _mm256_castsi256_si128(rows[i]), high = _mm256_extracti128_si256(rows[i], 1);
                if (g + 1 < groups) {
                    Store16(at + i * stride, low);
                    Store16(at + (i + 4) * stride, high);
                } else {
                    exact(at + i * stride, low);
                    exact(at + (i + 4) * stride, high);
                }
            }
        }
    }
    Bytes16 marks[4];  // channel k's marker byte, at byte 2 of lane k
    for (int k = 0; k < 4; ++k) {
        for (int8_t& x : marks[k].b) x = kZero;
        marks[k].b[4 * k + 2] = 0;
    }
    for (int32_t c = 0; kScan && c < 4 * groups; ++c) clean[c] = Clean(group[c / 4].differ, marks[c % 4]);
    return f;
}

// Eight channels, 4 frames a step: channels 0-3 in the low halves, 4-7 in
// the high ones, so that a transposed row holds one frame's eight samples;
// packed to twelve bytes a half and joined to the frame's 24 bytes, it goes
// out in one 32-byte store whose spare eight the next frame's overwrites
// (the loop leaves two frames after its last step). With the scan, byte 2
// of lane c is channel c's marker in every row.
template <bool kScan>
int32_t InterleaveEight(uint8_t* out, const uint8_t* const* s, int32_t frames, const MarkerPattern* patterns,
                        bool* clean) {
    const Tables& t = TheTables();
    const __m256i spread = Wide(t.spread), compact = Wide(t.compact);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    __m256i expected[4] = {};
    for (int i = 0; kScan && i < 4; ++i) {
        int32_t lane[8];
        for (int c = 0; c < 8; ++c) lane[c] = patterns[c].bytes[i] << 16;
        expected[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lane));
    }
    __m256i differ = _mm256_setzero_si256();
    int32_t f = 0;
    for (; f + 6 <= frames; f += 4) {
        const int32_t at = 3 * f;
        __m256i r0 = _mm256_shuffle_epi8(Load2(s[0] + at, s[4] + at), spread);
        __m256i r1 = _mm256_shuffle_epi8(Load2(s[1] + at, s[5] + at), spread);
        __m256i r2 = _mm256_shuffle_epi8(Load2(s[2] + at, s[6] + at), spread);
        __m256i r3 = _mm256_shuffle_epi8(Load2(s[3] + at, s[7] + at), spread);
        Transpose4(r0, r1, r2, r3);
        if (kScan) {
            const __m256i x01 = _mm256_or_si256(_mm256_xor_si256(r0, expected[0]), _mm256_xor_si256(r1, expected[1]));
            const __m256i x23 = _mm256_or_si256(_mm256_xor_si256(r2, expected[2]), _mm256_xor_si256(r3, expected[3]));
            differ = _mm256_or_si256(differ, _mm256_or_si256(x01, x23));
        }
        uint8_t* to = out + 24 * f;
        Store32(to, _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(r0, compact), join));
        Store32(to + 24, _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(r1, compact), join));
        Store32(to + 48, _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(r2, compact), join));
        Store32(to + 72, _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(r3, compact), join));
    }
    if (kScan) {
        const auto same = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(differ, _mm256_setzero_si256())));
        for (int c = 0; c < 8; ++c) clean[c] = (same >> (4 * c + 2)) & 1;
    }
    return f;
}

// The capture side. Each kernel does whole steps of frames and returns how
// many; the caller copies the rest sample by sample.

// Two 16-bit channels, 16 frames (64 bytes) a step: each 32-bit lane is a
// frame, a in its low half and b in its high. Frames 0-3 and 8-11 in x, 4-7
// and 12-15 in y, so that packing the halves of both puts each channel's
// samples in order without a move across the halves.
int32_t DeinterleaveTwo16(const uint8_t* in, uint8_t* a, uint8_t* b, int32_t frames) {
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    int32_t f = 0;
    for (; f + 16 <= frames; f += 16) {
        const uint8_t* p = in + 4 * f;
        const __m256i x = Load2(p, p + 32), y = Load2(p + 16, p + 48);
        Store32(a + 2 * f, _mm256_packus_epi32(_mm256_and_si256(x, low), _mm256_and_si256(y, low)));
        Store32(b + 2 * f, _mm256_packus_epi32(_mm256_srli_epi32(x, 16), _mm256_srli_epi32(y, 16)));
    }
    return f;
}

// Groups of eight 16-bit channels, 16 frames a step: frame i in the low
// half of v[i], frame i + 8 in the high one, so that the 8x8 transpose in
// each half leaves channel c's 16 samples in v[c].
int32_t DeinterleaveEight16(const uint8_t* in, int32_t stride, uint8_t* const* d, int32_t channels, int32_t frames) {
    int32_t f = 0;
    for (; f + 16 <= frames; f += 16) {
        for (int32_t g = 0; g < channels; g += 8) {
            const uint8_t* from = in + f * stride + 2 * g;
            __m256i v[8], t[8];
            #pragma GCC unroll 8
            for (int i = 0; i < 8; ++i) v[i] = Load2(from + i * stride, from + (i + 8) * stride);
            #pragma GCC unroll 4
            for (int i = 0; i < 4; ++i) {
                t[i] = _mm256_unpacklo_epi16(v[2 * i], v[2 * i + 1]);
                t[i + 4] = _mm256_unpackhi_epi16(v[2 * i], v[2 * i + 1]);
            }
            // t[i]: channels 0-3 of frames 2i, 2i + 1; t[i + 4]: channels 4-7.
            #pragma GCC unroll 2
            for (int h = 0; h < 2; ++h) {
                __m256i* q = t + 4 * h;
                const __m256i u0 = _mm256_unpacklo_epi32(q[0], q[1]), u1 = _mm256_unpackhi_epi32(q[0], q[1]);
                const __m256i u2 = _mm256_unpacklo_epi32(q[2], q[3]), u3 = _mm256_unpackhi_epi32(q[2], q[3]);
                // u0: channels 0, 1 of frames 0-3; u2: of frames 4-7; u1, u3: channels 2, 3.
                uint8_t* const* to = d + g + 4 * h;
                Store32(to[0] + 2 * f, _mm256_unpacklo_epi64(u0, u2));
                Store32(to[1] + 2 * f, _mm256_unpackhi_epi64(u0, u2));
                Store32(to[2] + 2 * f, _mm256_unpacklo_epi64(u1, u3));
                Store32(to[3] + 2 * f, _mm256_unpackhi_epi64(u1, u3));
            }
        }
    }
    return f;
}

// Two 24-bit channels, 8 frames a step: the SSSE3 step's 4 frames in each
// half, each channel's twelve bytes a half joined to 24 and stored 32 at a
// time in ascending order, so the loop leaves three frames after its last step.
int32_t DeinterleaveTwo24(const uint8_t* in, uint8_t* a, uint8_t* b, int32_t frames) {
    const Tables& t = TheTables();
    const __m256i a0 = Wide(t.splitA[0]), a1 = Wide(t.splitA[1]);
    const __m256i b0 = Wide(t.splitB[0]), b1 = Wide(t.splitB[1]);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    int32_t f = 0;
    for (; f + 11 <= frames; f += 8) {
        const uint8_t* p = in + 6 * f;
        const __m256i low = Load2(p, p + 24), high = Load2(p + 8, p + 32);
        const __m256i as = _mm256_or_si256(_mm256_shuffle_epi8(low, a0), _mm256_shuffle_epi8(high, a1));
        const __m256i bs = _mm256_or_si256(_mm256_shuffle_epi8(low, b0), _mm256_shuffle_epi8(high, b1));
        Store32(a + 3 * f, _mm256_permutevar8x32_epi32(as, join));
        Store32(b + 3 * f, _mm256_permutevar8x32_epi32(bs, join));
    }
    return f;
}

// Groups of eight 24-bit channels, 4 frames a step: frame i's channels 0-3
// in the low half of its row, 4-7 in the high one, spread to 32-bit lanes
// and transposed, so that a row holds channel c's four samples and c + 4's;
// packed to twelve bytes a half, each goes out in a 16-byte store whose spare
// four the next step overwrites (the loop leaves two frames after its last
// step; the loads reach four bytes into the fifth frame).
int32_t DeinterleaveEight24(const uint8_t* in, int32_t stride, uint8_t* const* d, int32_t channels, int32_t frames) {
    const Tables& t = TheTables();
    const __m256i spread = Wide(t.spread), compact = Wide(t.compact);
    int32_t f = 0;
    for (; f + 6 <= frames; f += 4) {
        for (int32_t g = 0; g < channels; g += 8) {
            const uint8_t* from = in + f * stride + 3 * g;
            __m256i r0 = _mm256_shuffle_epi8(Load2(from, from + 12), spread);
            __m256i r1 = _mm256_shuffle_epi8(Load2(from + stride, from + stride + 12), spread);
            __m256i r2 = _mm256_shuffle_epi8(Load2(from + 2 * stride, from + 2 * stride + 12), spread);
            __m256i r3 = _mm256_shuffle_epi8(Load2(from + 3 * stride, from + 3 * stride + 12), spread);
            Transpose4(r0, r1, r2, r3);
            const __m256i rows[4] = {_mm256_shuffle_epi8(r0, compact), _mm256_shuffle_epi8(r1, compact),
                                     _mm256_shuffle_epi8(r2, compact), _mm256_shuffle_epi8(r3, compact)};
            #pragma GCC unroll 4
            for (int i = 0; i < 4; ++i) {
                Store16(d[g + i] + 3 * f, _mm256_castsi256_si128(rows[i]));
                Store16(d[g + i + 4] + 3 * f, _mm256_extracti128_si256(rows[i], 1));
            }
        }
    }
    return f;
}

// Two 32-bit channels, 8 frames a step: frames 0, 1 and 4, 5 in x, 2, 3 and
// 6, 7 in y; the even lanes of both are a's, the odd ones b's.
int32_t DeinterleaveTwo32(const uint8_t* in, uint8_t* a, uint8_t* b, int32_t frames) {
    int32_t f = 0;
    for (; f + 8 <= frames; f += 8) {
        const uint8_t* p = in + 8 * f;
        const __m256 x = _mm256_castsi256_ps(Load2(p, p + 32));
        const __m256 y = _mm256_castsi256_ps(Load2(p + 16, p + 48));
        Store32(a + 4 * f, _mm256_castps_si256(_mm256_shuffle_ps(x, y, _MM_SHUFFLE(2, 0, 2, 0))));
        Store32(b + 4 * f, _mm256_castps_si256(_mm256_shuffle_ps(x, y, _MM_SHUFFLE(3, 1, 3, 1))));
    }
    return f;
}

// Groups of four 32-bit channels, 8 frames a step: frame i's group in the
// low half of its row, frame i + 4's in the high one; the 4x4 transpose in
// each half leaves a channel's 8 samples in one row.
int32_t DeinterleaveGroups32(const uint8_t* in, int32_t stride, uint8_t* const* d, int32_t channels, int32_t frames) {
    int32_t f = 0;
    for (; f + 8 <= frames; f += 8) {
        for (int32_t g = 0; g < channels; g += 4) {
            const uint8_t* from = in + f * stride + 4 * g;
            const int32_t four = 4 * stride;
            __m256i r0 = Load2(from, from + four), r1 = Load2(from + stride, from + stride + four);
            __m256i r2 = Load2(from + 2 * stride, from + 2 * stride + four);
            __m256i r3 = Load2(from + 3 * stride, from + 3 * stride + four);
            Transpose4(r0, r1, r2, r3);
            Store32(d[g] + 4 * f, r0);
            Store32(d[g + 1] + 4 * f, r1);
            Store32(d[g + 2] + 4 * f, r2);
            Store32(d[g + 3] + 4 * f, r3);
        }
    }
    return f;
}

// The render layouts most streams use, each in a short loop of its own: a
// copy that runs once a period finds its code cold, so the fewer lines and
// calls it passes through, the sooner it starts.

// Eight 32-bit samples of a passing channel: each top byte its pattern byte, the rest zero.
inline __m256i Expected32(const MarkerPattern& p) {
    auto top = [](uint8_t b) { return static_cast<int32_t>(static_cast<uint32_t>(b) << 24); };
    return _mm256_setr_epi32(top(p.bytes[0]), top(p.bytes[1]), top(p.bytes[2]), top(p.bytes[3]), top(p.bytes[0]),
                             top(p.bytes[1]), top(p.bytes[2]), top(p.bytes[3]));
}
// No top byte differed.
inline bool TopBytesClean(__m256i differ) {
    return _mm256_testz_si256(differ, _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u))) != 0;
}

// Two channels of kBytes-byte samples (2 or 4), 32 bytes of each a step;
// with the scan (32-bit only), each load is held to its channel's pattern.
template <int kBytes, bool kScan>
int32_t InterleavePair(uint8_t* out, const uint8_t* a, const uint8_t* b, int32_t frames, const MarkerPattern* patterns,
                       bool* clean) {
    static_assert(kBytes == 2 || kBytes == 4, "16- or 32-bit samples");
    static_assert(!kScan || kBytes == 4, "the marker scan is for 32-bit samples");
    constexpr int32_t kStep = 32 / kBytes;
    __m256i ea = _mm256_setzero_si256(), eb = ea, da = ea, db = ea;
    if (kScan) {
        ea = Expected32(patterns[0]);
        eb = Expected32(patterns[1]);
    }
    int32_t f = 0;
    for (; f + kStep <= frames; f += kStep) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + kBytes * f));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + kBytes * f));
        if (kScan) {
            da = _mm256_or_si256(da, _mm256_xor_si256(x, ea));
            db = _mm256_or_si256(db, _mm256_xor_si256(y, eb));
        }
        __m256i low, high;
        if constexpr (kBytes == 2) {
            low = _mm256_unpacklo_epi16(x, y);
            high = _mm256_unpackhi_epi16(x, y);
        } else {
            low = _mm256_unpacklo_epi32(x, y);
            high = _mm256_unpackhi_epi32(x, y);
        }
        Store32(out + 2 * kBytes * f, _mm256_permute2x128_si256(low, high, 0x20));
        Store32(out + 2 * kBytes * f + 32, _mm256_permute2x128_si256(low, high, 0x31));
    }
    if (kScan) {
        clean[0] = TopBytesClean(da);
        clean[1] = TopBytesClean(db);
    }
    return f;
}

constexpr int32_t kMaxEights32 = 4;  // groups of eight 32-bit channels held to their patterns at once

// Groups of eight 32-bit channels, 8 frames a step: an 8x8 transpose of
// 32-bit lanes per group, a frame's group at a time.
template <bool kScan>
int32_t InterleaveEights32(uint8_t* out, int32_t stride, const uint8_t* const* s, int32_t channels, int32_t frames,
                           const MarkerPattern* patterns, bool* clean) {
    __m256i expected[8 * kMaxEights32], differ[8 * kMaxEights32];
    for (int32_t c = 0; kScan && c < channels; ++c) {
        expected[c] = Expected32(patterns[c]);
        differ[c] = _mm256_setzero_si256();
    }
    int32_t f = 0;
    for (; f + 8 <= frames; f += 8) {
        for (int32_t g = 0; g < channels; g += 8) {
            __m256i r[8];
            #pragma GCC unroll 8
            for (int i = 0; i < 8; ++i) {
                r[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s[g + i] + 4 * f));
                if (kScan) differ[g + i] = _mm256_or_si256(differ[g + i], _mm256_xor_si256(r[i], expected[g + i]));
            }
            Transpose4(r[0], r[1], r[2], r[3]);  // channels 0-3 of frames i and i + 4 in each row
            Transpose4(r[4], r[5], r[6], r[7]);
            uint8_t* to = out + f * stride + 4 * g;
            #pragma GCC unroll 4
            for (int i = 0; i < 4; ++i) {
                Store32(to + i * stride, _mm256_permute2x128_si256(r[i], r[i + 4], 0x20));
                Store32(to + (i + 4) * stride, _mm256_permute2x128_si256(r[i], r[i + 4], 0x31));
            }
        }
    }
    for (int32_t c = 0; kScan && c < channels; ++c) clean[c] = TopBytesClean(differ[c]);
    return f;
}

}  // namespace
}  // namespace packet_copy

#pragma GCC pop_options

namespace packet_copy {
namespace {

void Avx2Interleave(uint8_t* packet, int32_t stride, const uint8_t* const* sources, int32_t channels, int32_t width,
                    int32_t frames, bool* markers) {
    const bool packed = frames > 0 && PackedAndPresent(stride, sources, channels, width);
    if (packed && width == 2 && channels == 2 && !markers) {
        const int32_t done = InterleavePair<2, false>(packet, sources[0], sources[1], frames, nullptr, nullptr);
        InterleaveFrames(packet, stride, sources, channels, width, done, frames);
        return;
    }
    if (packed && width == 4 && (channels == 2 || (channels % 8 == 0 && channels <= 8 * kMaxEights32))) {
        InterleaveScanned<4>(packet, stride, sources, channels, frames, markers,
                             [&](const MarkerPattern* scan, bool* clean) {
                                 if (channels == 2) {
                                     return scan ? InterleavePair<4, true>(packet, sources[0], sources[1], frames,
                                                                           scan, clean)
                                                 : InterleavePair<4, false>(packet, sources[0], sources[1], frames,
                                                                            scan, clean);
                                 }
                                 return scan ? InterleaveEights32<true>(packet, stride, sources, channels, frames,
                                                                        scan, clean)
                                             : InterleaveEights32<false>(packet, stride, sources, channels, frames,
                                                                         scan, clean);
                             });
        return;
    }
    if (!Takes(stride, sources, channels, width, frames)) {
        Ssse3()->interleave(packet, stride, sources, channels, width, frames, markers);
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
        if (channels == 8) {
            return scan ? InterleaveEight<true>(packet, sources, frames, scan, clean)
                        : InterleaveEight<false>(packet, sources, frames, scan, clean);
        }
        return scan ? InterleaveGroups<0, true>(packet, stride, sources, channels / 4, frames, scan, clean)
                    : InterleaveGroups<0, false>(packet, stride, sources, channels / 4, frames, scan, clean);
    });
}

// The capture layouts with a kernel here: packed frames of 2 channels, or of
// a multiple of 8 (of 4 at 32 bits), every channel present.
int32_t Avx2Blocks(const uint8_t* in, int32_t stride, uint8_t* const* d, int32_t channels, int32_t width,
                   int32_t frames) {
    if (frames <= 0 || width < 2 || width > 4 || !PackedAndPresent(stride, d, channels, width)) return -1;
    const int32_t group = width == 4 ? 4 : 8;
    if (channels != 2 && (channels <= 0 || channels % group != 0)) return -1;
    switch (width) {
    case 2:
        return channels == 2 ? DeinterleaveTwo16(in, d[0], d[1], frames) : DeinterleaveEight16(in, stride, d, channels, frames);
    case 3:
        return channels == 2 ? DeinterleaveTwo24(in, d[0], d[1], frames) : DeinterleaveEight24(in, stride, d, channels, frames);
    default:
        return channels == 2 ? DeinterleaveTwo32(in, d[0], d[1], frames)
                             : DeinterleaveGroups32(in, stride, d, channels, frames);
    }
}

void Avx2Deinterleave(const uint8_t* packet, int32_t stride, uint8_t* const* destinations, int32_t channels,
                      int32_t width, int32_t frames) {
    const int32_t done = Avx2Blocks(packet, stride, destinations, channels, width, frames);
    if (done < 0) {
        Ssse3()->deinterleave(packet, stride, destinations, channels, width, frames);
        return;
    }
    DeinterleaveFrames(packet, stride, destinations, channels, width, done, frames);
}

bool Avx2Markers(const uint8_t* samples, int32_t frames, int32_t width) {
    return Ssse3()->markers(samples, frames, width);
}

const Path kAvx2 = {"avx2", Avx2Interleave, Avx2Deinterleave, Avx2Markers};

}  // namespace

const Path* Avx2Kernels() { return &kAvx2; }

}  // namespace packet_copy

#else

namespace packet_copy {

const Path* Avx2Kernels() { return nullptr; }

}  // namespace packet_copy

#endif
