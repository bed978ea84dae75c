#include "Probe.h"

#include "FormatText.h"
#include "device/SharedTypes.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

const double kDsdRates[] = {kDsd64Rate, kDsd128Rate, kDsd256Rate};

const int32_t kFutureSelectors[] = {
    kAsioCanInputMonitor, kAsioCanTimeInfo,   kAsioCanTimeCode,    kAsioCanTransport,
    kAsioCanInputGain,    kAsioCanInputMeter, kAsioCanOutputGain,  kAsioCanOutputMeter,
    kAsioEnableTimeCodeRead, kAsioDisableTimeCodeRead, kAsioCanDoIoFormat, kAsioGetIoFormat,
};

const char* SelectorName(int32_t selector) {
    switch (selector) {
    case kAsioEnableTimeCodeRead: return "kAsioEnableTimeCodeRead";
    case kAsioDisableTimeCodeRead: return "kAsioDisableTimeCodeRead";
    case kAsioCanInputMonitor: return "kAsioCanInputMonitor";
    case kAsioCanTimeInfo: return "kAsioCanTimeInfo";
    case kAsioCanTimeCode: return "kAsioCanTimeCode";
    case kAsioCanTransport: return "kAsioCanTransport";
    case kAsioCanInputGain: return "kAsioCanInputGain";
    case kAsioCanInputMeter: return "kAsioCanInputMeter";
    case kAsioCanOutputGain: return "kAsioCanOutputGain";
    case kAsioCanOutputMeter: return "kAsioCanOutputMeter";
    case kAsioCanDoIoFormat: return "kAsioCanDoIoFormat";
    case kAsioGetIoFormat: return "kAsioGetIoFormat";
    default: return "?";
    }
}


}  // namespace

ProbeAnswers Probe(IASIO* driver) {
    ProbeAnswers a;
    a.initialised = driver->init(nullptr);
    char name[128] = {};
    driver->getDriverName(name);
    name[32] = '\0';  // a driver writes at most 32 bytes
    std::memcpy(a.driverName, name, sizeof(a.driverName));
    a.version = driver->getDriverVersion();
    a.channelsResult = driver->getChannels(&a.inputs, &a.outputs);
    for (uint32_t rate : kRateTable) a.rates.emplace_back(rate, driver->canSampleRate(rate));
    for (double rate : kDsdRates) a.rates.emplace_back(rate, driver->canSampleRate(rate));
    a.sampleRateResult = driver->getSampleRate(&a.sampleRate);
    a.bufferResult = driver->getBufferSize(&a.minSize, &a.maxSize, &a.preferredSize, &a.granularity);
    a.latencyResult = driver->getLatencies(&a.inputLatency, &a.outputLatency);
    ASIOClockSource clocks[4] = {};
    int32_t count = 4;
    a.clockResult = driver->getClockSources(clocks, &count);
    for (int32_t i = 0; i < count && i < 4; ++i) a.clocks.push_back(clocks[i]);
    for (int input = 1; input >= 0; --input) {
        int32_t channels = input ? a.inputs : a.outputs;
        for (int32_t c = 0; c < channels && c < 256; ++c) {
            ChannelAnswer answer = {};
            answer.info.channel = c;
            answer.info.isInput = input;
            answer.result = driver->getChannelInfo(&answer.info);
            answer.info.name[31] = '\0';
            a.channels.push_back(answer);
        }
    }
    for (int32_t selector : kFutureSelectors) {
        ASIOIoFormat format = {};
        format.FormatType = kASIOFormatInvalid;
        a.future.emplace_back(selector, driver->future(selector, &format));
    }
    return a;
}

std::string ProbeText(const ProbeAnswers& a) {
    std::string out;
    out += FormatText("init %s\n", a.initialised ? "yes" : "no");
    out += FormatText("name %s\n", a.driverName);
    out += FormatText("version %d\n", a.version);
    out += FormatText("channels %s inputs %d outputs %d\n", AsioErrorName(a.channelsResult), a.inputs, a.outputs);
    for (const auto& rate : a.rates) out += FormatText("rate %.0f %s\n", rate.first, AsioErrorName(rate.second));
    out += FormatText("sample-rate %s %.0f\n", AsioErrorName(a.sampleRateResult), a.sampleRate);
    out += FormatText("buffer-size %s min %d max %d preferred %d granularity %d\n", AsioErrorName(a.bufferResult), a.minSize,
                  a.maxSize, a.preferredSize, a.granularity);
    out += FormatText("latencies %s input %d output %d\n", AsioErrorName(a.latencyResult), a.inputLatency, a.outputLatency);
    for (const ASIOClockSource& c : a.clocks) {
        out += FormatText("clock %d \"%s\" current %s\n", c.index, c.name, c.isCurrentSource ? "yes" : "no");
    }
    for (const ChannelAnswer& c : a.channels) {
        out += FormatText("%s %d %s \"%s\" group %d type %d active %s\n", c.info.isInput ? "input" : "output",
                      c.info.channel, AsioErrorName(c.result), c.info.name, c.info.channelGroup, c.info.type,
                      c.info.isActive ? "yes" : "no");
    }
    for (const auto& f : a.future) out += FormatText("future %s %s\n", SelectorName(f.first), AsioErrorName(f.second));
    return out;
}

std::string ProbeJson(const ProbeAnswers& a) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("init");
    w.Bool(a.initialised != ASIOFalse);
    w.Key("name");
    w.String(a.driverName);
    w.Key("version");
    w.Int(a.version);
    w.Key("channels");
    w.String(AsioErrorName(a.channelsResult));
    w.Key("inputs");
    w.Int(a.inputs);
    w.Key("outputs");
    w.Int(a.outputs);
    w.Key("rates");
    w.StartObject();
    for (const auto& rate : a.rates) {
        w.Key(FormatText("%.0f", rate.first).c_str());
        w.String(AsioErrorName(rate.second));
    }
    w.EndObject();
    w.Key("sample_rate");
    w.StartObject();
    w.Key("result");
    w.String(AsioErrorName(a.sampleRateResult));
    w.Key("rate");
    w.Double(a.sampleRate);
    w.EndObject();
    w.Key("buffer_size");
    w.StartObject();
    w.Key("result");
    w.String(AsioErrorName(a.bufferResult));
    w.Key("min");
    w.Int(a.minSize);
    w.Key("max");
    w.Int(a.maxSize);
    w.Key("preferred");
    w.Int(a.preferredSize);
    w.Key("granularity");
    w.Int(a.granularity);
    w.EndObject();
    w.Key("latencies");
    w.StartObject();
    w.Key("result");
    w.String(AsioErrorName(a.latencyResult));
    w.Key("input");
    w.Int(a.inputLatency);
    w.Key("output");
    w.Int(a.outputLatency);
    w.EndObject();
    w.Key("clocks");
    w.StartArray();
    for (const ASIOClockSource& c : a.clocks) {
        w.StartObject();
        w.Key("index");
        w.Int(c.index);
        w.Key("name");
        w.String(c.name);
        w.Key("current");
        w.Bool(c.isCurrentSource != ASIOFalse);
        w.EndObject();
    }
    w.EndArray();
    w.Key("channel_info");
    w.StartArray();
    for (const ChannelAnswer& c : a.channels) {
        w.StartObject();
        w.Key("input");
        w.Bool(c.info.isInput != ASIOFalse);
        w.Key("channel");
        w.Int(c.info.channel);
        w.Key("result");
        w.String(AsioErrorName(c.result));
        w.Key("name");
        w.String(c.info.name);
        w.Key("group");
        w.Int(c.info.channelGroup);
        w.Key("type");
        w.Int(c.info.type);
        w.Key("active");
        w.Bool(c.info.isActive != ASIOFalse);
        w.EndObject();
    }
    w.EndArray();
    w.Key("future");
    w.StartObject();
    for (const auto& f : a.future) {
        w.Key(SelectorName(f.first));
        w.String(AsioErrorName(f.second));
    }
    w.EndObject();
    w.EndObject();
    return std::string(buffer.GetString()) + "\n";
}
