// The copies between the host's per-channel halves and a pin's interleaved
// packet, and the DSD-over-PCM marker scan. They run on the streaming thread
// (and in outputReady) every period, so the default path uses AVX2, SSSE3 or
// SSE2 kernels; the plain path is the reference the fast ones are held to.
//
// A packet frame is `stride` bytes; channel c's sample of `width` bytes (2, 3
// or 4; DSD uses 4) lies at c * width in it, and channels * width <= stride.
// A null channel pointer leaves that channel's bytes of the packet untouched
// (render) or copies nothing (capture).
#pragma once

#include <cstdint>

namespace packet_copy {

// Host halves -> packet; with `markers`, also the marker scan of every
// channel (false for a missing one), done on the way.
using InterleaveFn = void (*)(uint8_t* packet, int32_t stride, const uint8_t* const* sources, int32_t channels,
                              int32_t width, int32_t frames, bool* markers);
// Packet -> host halves.
using DeinterleaveFn = void (*)(const uint8_t* packet, int32_t stride, uint8_t* const* destinations,
                                int32_t channels, int32_t width, int32_t frames);
// True when the most significant byte of every sample of one channel is a DSD
// marker: 0x05/0xFA alternating per sample or per pair, or a constant 0xAA.
// No samples: false.
using MarkersFn = bool (*)(const uint8_t* samples, int32_t frames, int32_t width);

struct Path {
    const char* name;
    InterleaveFn interleave;
    DeinterleaveFn deinterleave;
    MarkersFn markers;
};

// What the processor and the system offer, as CPUID and XGETBV tell it.
struct CpuFeatures {
    uint32_t leaf1Ecx;  // CPUID 1, ECX: SSSE3 bit 9, OSXSAVE bit 27, AVX bit 28
    uint32_t leaf7Ebx;  // CPUID 7.0, EBX: AVX2 bit 5 (0 without leaf 7)
    uint64_t xcr0;      // XGETBV 0 where OSXSAVE is set: bits 1 and 2, the system keeps XMM and YMM state
};
CpuFeatures ThisMachine();
// The newest path the features and the build allow: AVX2 needs the processor's
// AVX and AVX2 and a system that keeps the 256-bit registers, and SSSE3.
const Path& Choose(const CpuFeatures& features);

// The byte-at-a-time reference.
const Path& Plain();
// SSE2 kernels for packed frames of 2 channels and of multiples of 4 (of 8 at
// 16 bits) with every channel present; other layouts go the plain way. Null
// when the build has no SSE2.
const Path* Sse2();
// SSSE3 kernels for 24-bit frames of 2 channels and of multiples of 4 with
// every channel present; everything else goes the SSE2 way. Null when the
// processor (CPUID) or the build lacks it.
const Path* Ssse3();
// AVX2 kernels for the render side of the layouts SSSE3 takes, and for the
// capture side of packed frames of 2 channels and of multiples of 8 (of 4 at
// 32 bits) with every channel present; everything else goes the SSSE3 way.
// Null when the processor, the system (XGETBV) or the build lacks it.
const Path* Avx2();
// What the engine uses: the newest of AVX2, SSSE3 and SSE2 the processor and
// the build have, else the plain path.
const Path& Best();

inline void Interleave(uint8_t* packet, int32_t stride, const uint8_t* const* sources, int32_t channels,
                       int32_t width, int32_t frames, bool* markers = nullptr) {
    Best().interleave(packet, stride, sources, channels, width, frames, markers);
}
inline void Deinterleave(const uint8_t* packet, int32_t stride, uint8_t* const* destinations, int32_t channels,
                         int32_t width, int32_t frames) {
    Best().deinterleave(packet, stride, destinations, channels, width, frames);
}

}  // namespace packet_copy
