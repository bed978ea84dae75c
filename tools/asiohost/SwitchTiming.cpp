#include "SwitchTiming.h"

#include <algorithm>
#include <vector>

uint32_t EarlySwitches(const double* timesMs, const uint64_t* positions, uint32_t count, int32_t buffer,
                       double periodMs) {
    if (count < 2 || buffer <= 0 || periodMs <= 0) return 0;
    const double msPerPosition = periodMs / buffer;
    std::vector<double> offsets(count);
    for (uint32_t i = 0; i < count; ++i) {
        offsets[i] = timesMs[i] - static_cast<double>(positions[i] - positions[0]) * msPerPosition;
    }
    std::vector<double> sorted = offsets;
    std::nth_element(sorted.begin(), sorted.begin() + count / 2, sorted.end());
    const double origin = sorted[count / 2];
    uint32_t early = 0;
    for (double offset : offsets) {
        if (offset < origin - 0.5 * periodMs) ++early;
    }
    return early;
}
