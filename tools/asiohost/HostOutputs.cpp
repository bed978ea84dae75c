#include "HostOutputs.h"

#include "simulator/TestPattern.h"

#include <cmath>

namespace host {

namespace {

constexpr double kPi = 3.14159265358979323846;

}  // namespace

void FillOutputs(const std::vector<ASIOBufferInfo>& infos, int32_t index, const OutputFormat& format,
                 uint64_t* frame, double* phase) {
    if (format.dsd) {
        const int32_t groups = format.buffer / 32;
        for (const ASIOBufferInfo& info : infos) {
            if (info.isInput) continue;
            auto* half = static_cast<uint8_t*>(info.buffers[index]);
            for (int32_t g = 0; g < groups; ++g) {
                TestPattern::Store(half + g * 4, TestPattern::Sample(info.channelNum, *frame + g, 32), 4);
            }
        }
        *frame += static_cast<uint64_t>(groups);
        return;
    }
    const unsigned bits = format.bytes * 8;
    const double step = 2 * kPi * 1000.0 / format.rate;  // 1 kHz at half scale
    const double scale = std::ldexp(0.5, static_cast<int>(bits) - 1);
    for (const ASIOBufferInfo& info : infos) {
        if (info.isInput) continue;
        auto* half = static_cast<uint8_t*>(info.buffers[index]);
        for (int32_t f = 0; f < format.buffer; ++f) {
            const uint32_t value = format.sine ? static_cast<uint32_t>(static_cast<int32_t>(
                                                     std::lround(std::sin(*phase + f * step) * scale)))
                                               : TestPattern::Sample(info.channelNum, *frame + f, bits);
            TestPattern::Store(half + f * format.bytes, value, format.bytes);
        }
    }
    if (format.sine) *phase = std::fmod(*phase + format.buffer * step, 2 * kPi);
    *frame += static_cast<uint64_t>(format.buffer);
}

bool SelectorSupported(int32_t selector) {
    return selector == kAsioEngineVersion || selector == kAsioResetRequest || selector == kAsioResyncRequest ||
           selector == kAsioSupportsTimeInfo || selector == kAsioOverload;
}

}  // namespace host
