// What a driver answers, asked the way hosts ask.
#pragma once

#include "asio/AsioInterface.h"

#include <string>
#include <vector>

struct ChannelAnswer {
    ASIOError result;
    ASIOChannelInfo info;
};

struct ProbeAnswers {
    ASIOBool initialised = ASIOFalse;
    char driverName[33] = "";
    int32_t version = 0;
    ASIOError channelsResult = 0;
    int32_t inputs = 0, outputs = 0;
    std::vector<std::pair<double, ASIOError>> rates;  // canSampleRate
    ASIOError sampleRateResult = 0;
    double sampleRate = 0;
    ASIOError bufferResult = 0;
    int32_t minSize = 0, maxSize = 0, preferredSize = 0, granularity = 0;
    ASIOError latencyResult = 0;
    int32_t inputLatency = 0, outputLatency = 0;
    ASIOError clockResult = 0;
    std::vector<ASIOClockSource> clocks;
    std::vector<ChannelAnswer> channels;  // inputs first, then outputs
    std::vector<std::pair<int32_t, ASIOError>> future;
};

ProbeAnswers Probe(IASIO* driver);
// "ASE_OK", "ASE_NotPresent", ...; "?" for a code outside the interface.
const char* ResultName(ASIOError result);
std::string ProbeText(const ProbeAnswers& answers);
std::string ProbeJson(const ProbeAnswers& answers);
