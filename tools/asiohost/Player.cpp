#include "Player.h"

#include "HostOutputs.h"
#include "SwitchTiming.h"

#include "asio/DropoutCounts.h"
#include "simulator/TestPattern.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kMaxChannels = 64;

// The callbacks carry no context: one player per process.
struct Session {
    IASIO* driver = nullptr;
    std::vector<ASIOBufferInfo> infos;
    int32_t outputs = 0;
    int32_t inputs = 0;
    int32_t buffer = 0;       // samples per half (DSD: one-bit samples)
    unsigned bytes = 2;       // per PCM sample
    bool dsd = false;
    bool sine = false;
    double rate = 0;
    uint64_t frame = 0;       // next output frame (DSD: next 32-bit group)
    double phase = 0;
    std::vector<double> switchTimes;  // ms, preallocated
    std::vector<uint64_t> switchPositions;  // the driver's sample position at each switch, preallocated
    std::atomic<uint32_t> switches{0};
    std::atomic<uint32_t> positionJumps{0};
    uint64_t lastPosition = 0;
    std::atomic<uint32_t> resetRequests{0};
    std::atomic<uint32_t> overloads{0};       // dropouts the driver reported
    std::atomic<uint32_t> resyncRequests{0};
    std::atomic<uint32_t> rateChanges{0};
    TestPattern::Checker checkers[kMaxChannels];
    uint64_t inputFramesChecked = 0;
    LARGE_INTEGER frequency = {};
};
Session g_session;

double NowMs() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000.0 / g_session.frequency.QuadPart;
}

void FillOutputs(int32_t index) {
    Session& s = g_session;
    host::FillOutputs(s.infos, index, {s.dsd, s.sine, s.bytes, s.rate, s.buffer}, &s.frame, &s.phase);
}

void CheckInputs(int32_t index) {
    Session& s = g_session;
    const unsigned bits = s.dsd ? 32 : s.bytes * 8;
    const unsigned bytes = bits / 8;
    const int32_t samples = s.dsd ? s.buffer / 32 : s.buffer;
    for (const ASIOBufferInfo& info : s.infos) {
        if (!info.isInput || info.channelNum >= kMaxChannels) continue;
        const auto* half = static_cast<const uint8_t*>(info.buffers[index]);
        for (int32_t f = 0; f < samples; ++f) {
            s.checkers[info.channelNum].Check(info.channelNum, TestPattern::Load(half + f * bytes, bytes), bits);
        }
    }
    s.inputFramesChecked += static_cast<uint64_t>(samples);
}

void OnSwitch(int32_t index) {
    Session& s = g_session;
    uint32_t n = s.switches;
    if (n < s.switchTimes.size()) s.switchTimes[n] = NowMs();
    ASIOSamples position = {};
    ASIOTimeStamp stamp = {};
    if (s.driver->getSamplePosition(&position, &stamp) == ASE_OK) {
        uint64_t p = (uint64_t(position.hi) << 32) | position.lo;
        if (n > 0 && p != s.lastPosition + static_cast<uint64_t>(s.buffer)) ++s.positionJumps;
        s.lastPosition = p;
        if (n < s.switchPositions.size()) s.switchPositions[n] = p;
    }
    // The first two switches come before any captured data.
    if (n >= 2) CheckInputs(index);
    FillOutputs(index);
    s.driver->outputReady();
    s.switches = n + 1;
}

void BufferSwitch(int32_t index, ASIOBool) { OnSwitch(index); }

ASIOTime* BufferSwitchTimeInfo(ASIOTime*, int32_t index, ASIOBool) {
    OnSwitch(index);
    return nullptr;
}

void RateChanged(ASIOSampleRate) { ++g_session.rateChanges; }

int32_t Message(int32_t selector, int32_t value, void*, double*) {
    switch (selector) {
    case kAsioSelectorSupported: return host::SelectorSupported(value);
    case kAsioEngineVersion: return 2;
    case kAsioResetRequest: ++g_session.resetRequests; return 1;
    case kAsioResyncRequest: ++g_session.resyncRequests; return 1;
    case kAsioOverload: ++g_session.overloads; return 1;
    case kAsioSupportsTimeInfo: return 1;
    default: return 0;
    }
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * (values.size() - 1) + 0.5)];
}

int Fail(const char* what, ASIOError error, const PlayOptions& options, PlayResult& result) {
    result.failedStep = what;
    result.error = error;
    if (!options.quiet) std::fprintf(stderr, "asiohost: %s failed (%ld)\n", what, static_cast<long>(error));
    return 1;
}

// The preferred size brought into [minMs, maxMs], on the granularity where
// the driver has one (a positive step; -1 means powers of two).
int32_t ClampedSize(int32_t preferred, int32_t minimum, int32_t maximum, int32_t granularity, double samplesPerMs,
                    const PlayOptions& options) {
    if (options.minBufferMs <= 0 || options.maxBufferMs < options.minBufferMs) return preferred;
    const double ms = preferred / samplesPerMs;
    if (ms >= options.minBufferMs && ms <= options.maxBufferMs) return preferred;
    const double target = (ms < options.minBufferMs ? options.minBufferMs : options.maxBufferMs) * samplesPerMs;
    int32_t size = preferred;
    if (granularity > 0) {
        size = static_cast<int32_t>(std::ceil(target / granularity)) * granularity;
        if (size > maximum) size -= granularity;
    } else if (granularity == -1) {
        size = minimum > 0 ? minimum : 1;
        while (size < target && size * 2 <= maximum) size *= 2;
    } else {
        size = static_cast<int32_t>(std::lround(target));
    }
    return std::max(minimum, std::min(maximum, size));
}

// A new run on the same driver object starts from nothing.
void ResetSession() {
    Session& s = g_session;
    s.infos.clear();
    s.frame = 0;
    s.phase = 0;
    s.switches = 0;
    s.positionJumps = 0;
    s.lastPosition = 0;
    s.resetRequests = 0;
    s.overloads = 0;
    s.resyncRequests = 0;
    s.rateChanges = 0;
    for (TestPattern::Checker& checker : s.checkers) checker.Reset();
    s.inputFramesChecked = 0;
}

}  // namespace

static int PlaySteps(IASIO* driver, const PlayOptions& options, PlayResult& r) {
    Session& s = g_session;
    ResetSession();
    QueryPerformanceFrequency(&s.frequency);
    s.driver = driver;
    s.sine = options.sine;
    if (driver->init(nullptr) != ASIOTrue) return Fail("init", ASE_NotPresent, options, r);
    if (options.rate > 0) {
        ASIOError error = driver->setSampleRate(options.rate);
        if (error != ASE_OK) return Fail("setSampleRate", error, options, r);
    }
    ASIOError error = driver->getSampleRate(&s.rate);
    if (error != ASE_OK) return Fail("getSampleRate", error, options, r);
    error = driver->getChannels(&s.inputs, &s.outputs);
    if (error != ASE_OK) return Fail("getChannels", error, options, r);
    int32_t minimum = 0, maximum = 0, preferred = 0, granularity = 0;
    error = driver->getBufferSize(&minimum, &maximum, &preferred, &granularity);
    if (error != ASE_OK) return Fail("getBufferSize", error, options, r);
    s.buffer = options.buffer > 0 ? options.buffer
                                  : ClampedSize(preferred, minimum, maximum, granularity, s.rate / 1000.0, options);

    ASIOChannelInfo channel = {};
    channel.isInput = ASIOFalse;
    error = driver->getChannelInfo(&channel);
    if (error != ASE_OK) return Fail("getChannelInfo", error, options, r);
    s.dsd = channel.type == ASIOSTDSDInt8MSB1;
    s.bytes = channel.type == ASIOSTInt24LSB ? 3 : channel.type == ASIOSTInt32LSB ? 4 : 2;
    if (s.dsd && s.sine) {
        r.failedStep = "--signal sine";
        if (!options.quiet) std::fprintf(stderr, "asiohost: --signal sine is for PCM; DSD plays the test pattern\n");
        return 2;
    }
    const int32_t inputs = options.duplex ? std::min(s.inputs, kMaxChannels) : 0;
    if (options.duplex && inputs == 0) {
        r.failedStep = "getChannels (no inputs)";
        if (!options.quiet) std::fprintf(stderr, "asiohost: the driver has no inputs to record from\n");
        return 1;
    }
    for (int32_t c = 0; c < std::min(s.outputs, kMaxChannels); ++c) s.infos.push_back({ASIOFalse, c, {nullptr, nullptr}});
    for (int32_t c = 0; c < inputs; ++c) s.infos.push_back({ASIOTrue, c, {nullptr, nullptr}});

    const double periodMs = (s.dsd ? s.buffer / 32.0 / (s.rate / 32.0) : s.buffer / s.rate) * 1000.0;
    const size_t expected = static_cast<size_t>(options.seconds * 1000.0 / periodMs);
    s.switchTimes.assign(expected + 64, 0.0);
    s.switchPositions.assign(expected + 64, 0);
    r.rate = s.rate;
    r.buffer = s.buffer;
    r.periodMs = periodMs;
    ASIOCallbacks callbacks = {BufferSwitch, RateChanged, Message, BufferSwitchTimeInfo};
    error = driver->createBuffers(s.infos.data(), static_cast<int32_t>(s.infos.size()), s.buffer, &callbacks);
    if (error != ASE_OK) return Fail("createBuffers", error, options, r);

    const char* signal = s.dsd ? "DSD test pattern" : s.sine ? "1 kHz sine" : "test pattern";
    if (options.prepared) options.prepared();
    if (!options.json && !options.quiet) {
        std::printf("rate %.0f Hz, buffer %d samples (%.2f ms), %s, %d outputs%s, %s\n", s.rate, s.buffer, periodMs,
                    s.dsd ? "DSD" : (s.bytes == 2 ? "16-bit" : s.bytes == 3 ? "24-bit" : "32-bit"),
                    static_cast<int>(s.outputs), options.duplex ? " and inputs" : "", signal);
    }
    error = driver->start();
    if (error != ASE_OK) {
        driver->disposeBuffers();
        return Fail("start", error, options, r);
    }
    double started = NowMs();
    while (NowMs() - started < options.seconds * 1000.0) Sleep(20);
    driver->stop();
    // This driver tells why the device ran dry; another answers with an error.
    DropoutCounts dropouts = {};
    const bool counted = driver->future(kVelmorGetDropoutCounts, &dropouts) == ASE_SUCCESS;
    driver->disposeBuffers();

    const uint32_t switches = std::min<uint32_t>(s.switches, static_cast<uint32_t>(s.switchTimes.size()));
    std::vector<double> deviation;
    uint32_t late = 0;
    for (uint32_t i = 1; i < switches; ++i) {
        double interval = s.switchTimes[i] - s.switchTimes[i - 1];
        deviation.push_back(std::fabs(interval - periodMs));
        if (interval > 1.5 * periodMs) ++late;
    }
    const uint32_t early = EarlySwitches(s.switchTimes.data(), s.switchPositions.data(), switches, s.buffer, periodMs);
    // Switches owed by the time the stream stopped, less the two periods of lead-in.
    const double ran = switches ? s.switchTimes[switches - 1] - s.switchTimes[0] + periodMs : 0;
    const int64_t owed = static_cast<int64_t>(ran / periodMs + 0.5);
    const int64_t missed = std::max<int64_t>(0, owed - static_cast<int64_t>(switches));
    uint64_t breaks = 0;
    int locked = 0;
    for (int32_t c = 0; c < inputs; ++c) {
        breaks += s.checkers[c].breaks;
        locked += s.checkers[c].locked ? 1 : 0;
    }
    // A late switch is reported but is no glitch by itself: with a period of
    // lead-in the device still had data; what it lacked shows as a missed
    // period and the driver's overload report.
    const bool glitch = switches < 2 || early > 0 || missed > 0 || s.positionJumps > 0 || s.resetRequests > 0 ||
                        s.overloads > 0 || s.resyncRequests > 0 || s.rateChanges > 0 ||
                        (options.duplex && (breaks > 0 || locked < inputs));
    r.dsd = s.dsd;
    r.bits = s.dsd ? 1 : s.bytes * 8;
    r.switches = switches;
    r.expectedSwitches = static_cast<uint32_t>(expected);
    r.late = late;
    r.early = early;
    r.missed = missed;
    r.positionJumps = s.positionJumps;
    r.resetRequests = s.resetRequests;
    r.resyncRequests = s.resyncRequests;
    r.rateChanges = s.rateChanges;
    r.overloads = s.overloads;
    if (switches >= 2 && s.switchTimes[switches - 1] > s.switchTimes[0]) {
        r.positionRate = (s.switchPositions[switches - 1] - s.switchPositions[0]) * 1000.0 /
                         (s.switchTimes[switches - 1] - s.switchTimes[0]);
    }
    r.counted = counted;
    r.dropouts = dropouts;
    r.inputs = inputs;
    r.inputsLocked = locked;
    r.inputBreaks = breaks;
    r.inputFrames = s.inputFramesChecked;
    r.glitch = glitch;
    if (options.quiet) return glitch ? 1 : 0;
    if (options.json) {
        std::printf("{\"rate\":%.0f,\"buffer\":%d,\"period_ms\":%.3f,\"switches\":%u,\"late\":%u,\"early\":%u,\"missed\":%lld,"
                    "\"position_jumps\":%u,\"reset_requests\":%u,\"resync_requests\":%u,\"rate_changes\":%u,"
                    "\"overloads\":%u,\"p50_ms\":%.3f,\"p99_ms\":%.3f,\"max_ms\":%.3f",
                    s.rate, s.buffer, periodMs, switches, late, early, static_cast<long long>(missed), s.positionJumps.load(),
                    s.resetRequests.load(), s.resyncRequests.load(), s.rateChanges.load(), s.overloads.load(), Percentile(deviation, 0.5), Percentile(deviation, 0.99),
                    Percentile(deviation, 1.0));
        if (options.duplex) std::printf(",\"inputs_locked\":%d,\"input_breaks\":%llu", locked, static_cast<unsigned long long>(breaks));
        if (counted) {
            std::printf(",\"dropouts\":{\"host_late\":%u,\"driver_late\":%u,\"device_underrun\":%u,\"packet_failed\":%u}",
                        dropouts.hostLate, dropouts.driverLate, dropouts.deviceUnderrun, dropouts.packetFailed);
        }
        std::printf(",\"glitch\":%s}\n", glitch ? "true" : "false");
    } else {
        std::printf("buffer switches %u, last sample position %llu, position jumps %u\n", switches,
                    static_cast<unsigned long long>(s.lastPosition), s.positionJumps.load());
        std::printf("late periods %u, early periods %u, missed periods %lld, overloads reported %u\n", late, early,
                    static_cast<long long>(missed), s.overloads.load());
        std::printf("reset requests %u, resync requests %u, rate changes %u\n", s.resetRequests.load(),
                    s.resyncRequests.load(), s.rateChanges.load());
        if (counted) {
            std::printf("dropouts by cause: host late %u, driver late %u, device underrun %u, packet failed %u\n",
                        dropouts.hostLate, dropouts.driverLate, dropouts.deviceUnderrun, dropouts.packetFailed);
        }
        std::printf("switch interval deviation from %.3f ms: p50 %.3f ms, p99 %.3f ms, max %.3f ms\n", periodMs,
                    Percentile(deviation, 0.5), Percentile(deviation, 0.99), Percentile(deviation, 1.0));
        if (options.duplex) {
            std::printf("input pattern: %d of %d channels locked, %llu breaks in %llu frames per channel\n", locked,
                        static_cast<int>(inputs), static_cast<unsigned long long>(breaks),
                        static_cast<unsigned long long>(s.inputFramesChecked));
        }
        std::printf("%s\n", glitch ? "GLITCH" : "clean");
    }
    return glitch ? 1 : 0;
}

int Play(IASIO* driver, const PlayOptions& options, PlayResult* result) {
    PlayResult r;
    r.code = PlaySteps(driver, options, r);
    if (result) *result = r;
    return r.code;
}
