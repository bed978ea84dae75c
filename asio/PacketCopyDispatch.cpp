// Which copy path the engine takes: a function of the processor's and the
// system's feature bits, so that every combination can be tried on any machine.
#include "PacketCopy.h"

#include "PacketCopyKernels.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#endif

namespace packet_copy {

namespace {

constexpr uint32_t kSsse3Bit = 1u << 9;
constexpr uint32_t kOsXsaveBit = 1u << 27;
constexpr uint32_t kAvxBit = 1u << 28;
constexpr uint32_t kAvx2Bit = 1u << 5;
constexpr uint64_t kXmmYmmState = 6;

bool HasSsse3(const CpuFeatures& f) { return (f.leaf1Ecx & kSsse3Bit) != 0; }

bool HasAvx2(const CpuFeatures& f) {
    return HasSsse3(f) && (f.leaf1Ecx & kOsXsaveBit) && (f.leaf1Ecx & kAvxBit) &&
           (f.xcr0 & kXmmYmmState) == kXmmYmmState && (f.leaf7Ebx & kAvx2Bit);
}

}  // namespace

CpuFeatures ThisMachine() {
    CpuFeatures f = {0, 0, 0};
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
    f.leaf1Ecx = c;
    if (c & kOsXsaveBit) {
        unsigned low = 0, high = 0;
        __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
        f.xcr0 = (static_cast<uint64_t>(high) << 32) | low;
    }
    if (__get_cpuid_max(0, nullptr) >= 7) {
        __cpuid_count(7, 0, a, b, c, d);
        f.leaf7Ebx = b;
    }
#endif
    return f;
}

const Path& Choose(const CpuFeatures& f) {
    if (Sse2() && HasAvx2(f) && Ssse3Kernels() && Avx2Kernels()) return *Avx2Kernels();
    if (Sse2() && HasSsse3(f) && Ssse3Kernels()) return *Ssse3Kernels();
    if (Sse2()) return *Sse2();
    return Plain();
}

const Path* Ssse3() {
    static const bool has = Sse2() && HasSsse3(ThisMachine());
    return has ? Ssse3Kernels() : nullptr;
}

const Path* Avx2() {
    static const bool has = Sse2() && HasAvx2(ThisMachine()) && Ssse3Kernels();
    return has ? Avx2Kernels() : nullptr;
}

}  // namespace packet_copy
