#include "SwitchTiming.h"

uint32_t EarlySwitches(const double* timesMs, const uint64_t* positions, uint32_t count, int32_t buffer,
                       double periodMs) {
    if (count < 3 || buffer <= 0 || periodMs <= 0) return 0;
    const double msPerPosition = periodMs / buffer;
    auto offset = [&](uint32_t i) {
        return timesMs[i] - static_cast<double>(positions[i] - positions[0]) * msPerPosition;
    };
    uint32_t early = 0;
    double earliest = offset(1);
    for (uint32_t i = 2; i < count; ++i) {
        const double now = offset(i);
        if (now < earliest - 0.5 * periodMs) ++early;
        if (now < earliest) earliest = now;
    }
    return early;
}
