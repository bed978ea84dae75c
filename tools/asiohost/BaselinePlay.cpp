#include "BaselinePlay.h"

#include "HostOutputs.h"
#include "WakeBaseline.h"


#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace {

constexpr double kSliceSeconds = 1;
constexpr int32_t kMaxOutputs = 64;

// The callbacks carry no context: one session per process.
struct Session {
    IASIO* driver = nullptr;
    std::vector<ASIOBufferInfo> infos;
    int32_t buffer = 0;
    unsigned bytes = 2;
    bool dsd = false;
    bool sine = false;
    double rate = 0;
    uint64_t frame = 0;
    double phase = 0;
    std::vector<double> switchTimes;  // ms, preallocated
    std::atomic<uint32_t> switches{0};
    std::atomic<uint32_t> dropouts{0};  // resync and overload messages
    std::atomic<uint32_t> resetRequests{0};
};
Session g_session;

void FillOutputs(int32_t index) {
    Session& s = g_session;
    host::FillOutputs(s.infos, index, {s.dsd, s.sine, s.bytes, s.rate, s.buffer}, &s.frame, &s.phase);
}

void OnSwitch(int32_t index) {
    Session& s = g_session;
    const uint32_t n = s.switches;
    if (n < s.switchTimes.size()) s.switchTimes[n] = wake::NowMs();
    FillOutputs(index);
    s.driver->outputReady();
    s.switches = n + 1;
}

void BufferSwitch(int32_t index, ASIOBool) { OnSwitch(index); }

ASIOTime* BufferSwitchTimeInfo(ASIOTime*, int32_t index, ASIOBool) {
    OnSwitch(index);
    return nullptr;
}

void RateChanged(ASIOSampleRate) {}

int32_t Message(int32_t selector, int32_t value, void*, double*) {
    switch (selector) {
    case kAsioSelectorSupported: return host::SelectorSupported(value);
    case kAsioEngineVersion: return 2;
    case kAsioResetRequest: ++g_session.resetRequests; return 1;
    case kAsioResyncRequest:
    case kAsioOverload: ++g_session.dropouts; return 1;
    case kAsioSupportsTimeInfo: return 1;
    default: return 0;
    }
}

int Fail(const char* what, ASIOError error) {
    std::fprintf(stderr, "asiohost: %s failed (%ld)\n", what, static_cast<long>(error));
    return 1;
}

}  // namespace

int PlayAgainstBaseline(IASIO* driver, const PlayOptions& options) {
    if (options.duplex || options.json) {
        std::fprintf(stderr, "asiohost: --baseline is for play, with text output\n");
        return 2;
    }
    Session& s = g_session;
    s.driver = driver;
    s.sine = options.sine;
    s.infos.clear();
    s.frame = 0;
    s.phase = 0;
    s.switches = s.dropouts = s.resetRequests = 0;
    if (driver->init(nullptr) != ASIOTrue) return Fail("init", ASE_NotPresent);
    ASIOError error = ASE_OK;
    if (options.rate > 0 && (error = driver->setSampleRate(options.rate)) != ASE_OK) return Fail("setSampleRate", error);
    if ((error = driver->getSampleRate(&s.rate)) != ASE_OK) return Fail("getSampleRate", error);
    int32_t inputs = 0, outputs = 0;
    if ((error = driver->getChannels(&inputs, &outputs)) != ASE_OK) return Fail("getChannels", error);
    int32_t minimum = 0, maximum = 0, preferred = 0, granularity = 0;
    if ((error = driver->getBufferSize(&minimum, &maximum, &preferred, &granularity)) != ASE_OK) {
        return Fail("getBufferSize", error);
    }
    s.buffer = options.buffer > 0 ? options.buffer : preferred;
    ASIOChannelInfo channel = {};
    if ((error = driver->getChannelInfo(&channel)) != ASE_OK) return Fail("getChannelInfo", error);
    s.dsd = channel.type == ASIOSTDSDInt8MSB1;
    s.bytes = channel.type == ASIOSTInt24LSB ? 3 : channel.type == ASIOSTInt32LSB ? 4 : 2;
    if (s.dsd && s.sine) {
        std::fprintf(stderr, "asiohost: --signal sine is for PCM; DSD plays the test pattern\n");
        return 2;
    }
    for (int32_t c = 0; c < std::min(outputs, kMaxOutputs); ++c) s.infos.push_back({ASIOFalse, c, {nullptr, nullptr}});
    if (s.infos.empty()) return Fail("getChannels (no outputs)", ASE_NotPresent);

    const double periodMs = (s.dsd ? s.buffer / 32.0 / (s.rate / 32.0) : s.buffer / s.rate) * 1000.0;
    s.switchTimes.assign(static_cast<size_t>(options.seconds * 1000.0 / periodMs) + 1024, 0.0);
    ASIOCallbacks callbacks = {BufferSwitch, RateChanged, Message, BufferSwitchTimeInfo};
    error = driver->createBuffers(s.infos.data(), static_cast<int32_t>(s.infos.size()), s.buffer, &callbacks);
    if (error != ASE_OK) return Fail("createBuffers", error);
    const double slice = std::min(kSliceSeconds, options.seconds);
    std::printf("rate %.0f Hz, buffer %d samples (%.2f ms), %s, %d outputs, %s; %.1f s of the driver and of the "
                "baseline in %.1f s slices, baseline first\n",
                s.rate, s.buffer, periodMs, s.dsd ? "DSD" : (s.bytes == 2 ? "16-bit" : s.bytes == 3 ? "24-bit" : "32-bit"),
                static_cast<int>(s.infos.size()), s.dsd ? "DSD test pattern" : s.sine ? "1 kHz sine" : "test pattern",
                options.seconds, slice);

    wake::Series driverSeries(periodMs), baselineSeries(periodMs);
    wake::Attribution dropouts;
    for (double done = 0; done + 1e-6 < options.seconds; done += slice) {
        const double ms = std::min(slice, options.seconds - done) * 1000;
        const wake::BaselineSlice base = wake::RunBaselineSlice(periodMs, ms);
        baselineSeries.AddSlice(base.times.data(), base.times.size());
        dropouts.BaselineSlice(base.worstLateMs > periodMs);

        const uint32_t first = std::min<uint32_t>(s.switches, static_cast<uint32_t>(s.switchTimes.size()));
        const uint32_t dropoutsBefore = s.dropouts;
        // Each take is a stream of its own: the device takes its first sound for the pattern's first frame.
        s.frame = 0;
        s.phase = 0;
        if ((error = driver->start()) != ASE_OK) {
            driver->disposeBuffers();
            return Fail("start", error);
        }
        const double started = wake::NowMs();
        while (wake::NowMs() - started < ms) Sleep(20);
        driver->stop();
        const uint32_t last = std::min<uint32_t>(s.switches, static_cast<uint32_t>(s.switchTimes.size()));
        driverSeries.AddSlice(s.switchTimes.data() + first, last - first);
        dropouts.DriverSlice(s.dropouts - dropoutsBefore);
    }
    driver->disposeBuffers();
    wake::PrintComparison(stdout, driverSeries, baselineSeries, dropouts, "dropouts reported");
    std::printf("reset requests %u\n", s.resetRequests.load());
    const bool glitch = driverSeries.WakeUps() < 2 || dropouts.Driver() > 0 || s.resetRequests > 0;
    std::printf("%s\n", glitch ? "GLITCH" : "clean");
    return glitch ? 1 : 0;
}
