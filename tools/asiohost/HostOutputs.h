// What the reference host plays on its outputs and which host messages it
// answers: shared by the plain play and the play set against the baseline.
#pragma once

#include "asio/AsioInterface.h"

#include <cstdint>
#include <vector>

namespace host {

struct OutputFormat {
    bool dsd;        // 32-bit groups of one-bit samples, always the test pattern
    bool sine;       // PCM: 1 kHz at half scale instead of the test pattern
    unsigned bytes;  // per PCM sample
    double rate;
    int32_t buffer;  // samples per half (DSD: one-bit samples)
};

// Fills half `index` of every output and moves `frame` (the next output
// frame; DSD: the next 32-bit group) and the sine's `phase` on.
void FillOutputs(const std::vector<ASIOBufferInfo>& infos, int32_t index, const OutputFormat& format,
                 uint64_t* frame, double* phase);

// The answer to kAsioSelectorSupported: the selectors the host handles.
bool SelectorSupported(int32_t selector);

}  // namespace host
