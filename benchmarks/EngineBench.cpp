// The driver's streaming path, measured on the virtual device:
//  1. the render copy (outputReady, with the DSD-marker test running where
//     the driver runs it) and the capture copy (the streaming thread's packet
//     -> halves kernel) against memcpy of the same bytes, per format at 2
//     and 8 channels;
//  2. a real-time run at 2 ms buffers (192000 Hz, 32 bits) in slices that
//     alternate with the machine's own wake-up chain (timer thread -> waiting
//     thread, no driver): both chains' switch-interval spread, the ratios
//     driver / baseline, what the engine adds at p99, device underruns split
//     into the driver's and the machine's, and the streaming thread's CPU share.
//  3. the same against the design-shaped chain (the per-period work the
//     design prescribes, without our code): the median of the paired slice
//     ratios with 95% intervals for missed periods, underruns, p99, p99.9, max.
// Usage: engine_bench [--json] [--duplex] [seconds of each chain, default 60] [slice seconds, default 1]
//   --duplex: two inputs beside the two outputs, at 48000 Hz (2 ms buffers);
//   both baseline chains then complete a capture packet beside each render one.
#include "asio/AsioInterface.h"
#include "asio/ClassFactory.h"
#include "asio/PacketCopy.h"
#include "device/AsioSettingsKey.h"
#include "device/SharedTypes.h"
#include "device/StatusBlock.h"
#include "simulator/SimDevice.h"
#include "simulator/TestPattern.h"
#include "tools/asiohost/WakeBaseline.h"

#include <intrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace {

const CLSID kBenchClsid = {0x0BE4C400, 0x5A5A, 0x4C4C, {0x80, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}};

constexpr uint32_t kCopyPeriods = 100;

// One copy's times against memcpy's, period by period (time-stamp counter
// ticks): copy k pairs with the memcpy made on a switch next to it, so both
// meet the same state of the machine; the figure is the median of the pair
// ratios, which one cold period moves no more than one pair.
struct CopyTimes {
    std::vector<uint64_t> copy, plain;
    void Reset() {
        copy.clear();
        plain.clear();
        copy.reserve(2 * kCopyPeriods + 8);  // filled inside the switch: never grown there
        plain.reserve(2 * kCopyPeriods + 8);
    }
    void Add(bool isCopy, uint64_t ticks) {
        std::vector<uint64_t>& to = isCopy ? copy : plain;
        if (to.size() < to.capacity()) to.push_back(ticks);
    }
    size_t Pairs() const { return std::min(copy.size(), plain.size()); }
    static uint64_t Best(const std::vector<uint64_t>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
    double MedianRatio() const {
        std::vector<double> ratios;
        for (size_t k = 0; k < Pairs(); ++k) {
            if (plain[k]) ratios.push_back(static_cast<double>(copy[k]) / static_cast<double>(plain[k]));
        }
        if (ratios.empty()) return 0;
        std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
        return ratios[ratios.size() / 2];
    }
};

struct Run {
    IASIO* driver = nullptr;
    std::vector<ASIOBufferInfo> infos;
    int32_t buffer = 0;
    unsigned bits = 32;
    uint64_t frame = 1;
    std::vector<double> times;
    std::atomic<uint32_t> switches{0};
    HANDLE streamThread = nullptr;
    bool callOutputReady = true;
    LARGE_INTEGER frequency = {};
    bool timeCopy = false;         // the switch only times one outputReady
    CopyTimes render;              // outputReady against memcpy of the same halves
    uint32_t copies = 0;
    size_t halfBytes = 0;
    std::vector<std::vector<uint8_t>> scratch;  // memcpy's targets, a ring as the packets are
    // The capture copy, timed in the switch too, where the streaming thread
    // runs it: the driver's kernel from a ring of packets into host halves,
    // and memcpy of the same bytes, on switches of their own.
    struct Capture {
        bool on = false;
        int32_t width = 0, frames = 0, channels = 0;
        std::vector<std::vector<uint8_t>> packets;
        std::vector<std::vector<uint8_t>> halves;  // two sets of `channels`
        std::vector<uint8_t*> destinations;
        CopyTimes times;
    } capture;
    double callbackMs = 0;         // time spent in the switch, summed
    uint32_t lostRecords = 0;      // switches past the end of `times`
};
Run g_run;

double NowMs() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000.0 / g_run.frequency.QuadPart;
}

void TimeCapture(bool kernel, uint32_t n) {
    Run::Capture& c = g_run.capture;
    const size_t halfBytes = static_cast<size_t>(c.frames) * c.width;
    // Each side its own packets and halves, so neither finds the other's bytes in the cache.
    const uint8_t* packet = c.packets[(2 * n + (kernel ? 0 : 1)) % c.packets.size()].data();
    for (int32_t ch = 0; ch < c.channels; ++ch) c.destinations[ch] = c.halves[(kernel ? 0 : c.channels) + ch].data();
    const uint64_t t0 = __rdtsc();
    if (kernel) {
        packet_copy::Deinterleave(packet, c.channels * c.width, c.destinations.data(), c.channels, c.width, c.frames);
        c.times.Add(true, __rdtsc() - t0);
    } else {
        for (int32_t ch = 0; ch < c.channels; ++ch) std::memcpy(c.destinations[ch], packet + ch * halfBytes, halfBytes);
        c.times.Add(false, __rdtsc() - t0);
    }
}

void OnSwitch(int32_t index) {
    Run& r = g_run;
    uint32_t n = r.switches;
    if (!r.streamThread) {
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &r.streamThread,
                        THREAD_QUERY_INFORMATION, FALSE, 0);
    }
    if (r.timeCopy) {
        // The packet's window is open only inside the switch: the one copy
        // of the period, timed alone; the switch after it a memcpy of the
        // same halves into a ring of buffers, so both start from the same
        // caches; with capture timed too, its kernel and its memcpy on the two after.
        const uint32_t phase = r.capture.on ? n % 4 : n % 2;
        if (phase >= 2) {
            TimeCapture(phase == 2, n / 4);
            r.switches = n + 1;
            return;
        }
        const uint64_t t0 = __rdtsc();
        if (phase == 0) {
            r.driver->outputReady();
            r.render.Add(true, __rdtsc() - t0);
            ++r.copies;
        } else {
            uint8_t* to = r.scratch[(n / 2) % r.scratch.size()].data();
            for (const ASIOBufferInfo& info : r.infos) {
                std::memcpy(to, info.buffers[index], r.halfBytes);
                to += r.halfBytes;
            }
            r.render.Add(false, __rdtsc() - t0);
        }
        r.switches = n + 1;
        return;
    }
    const double entered = NowMs();
    if (n < r.times.size()) {
        r.times[n] = entered;
    } else {
        ++r.lostRecords;
    }
    const unsigned bytes = r.bits / 8;
    for (const ASIOBufferInfo& info : r.infos) {
        if (info.isInput) continue;
        auto* half = static_cast<uint8_t*>(info.buffers[index]);
        for (int32_t f = 0; f < r.buffer; ++f) {
            TestPattern::Store(half + f * bytes, TestPattern::Sample(info.channelNum, r.frame + f, r.bits), bytes);
        }
    }
    r.frame += r.buffer;
    if (r.callOutputReady) r.driver->outputReady();
    r.callbackMs += NowMs() - entered;
    r.switches = n + 1;
}

void Switch(int32_t index, ASIOBool) { OnSwitch(index); }
ASIOTime* SwitchTimeInfo(ASIOTime*, int32_t index, ASIOBool) {
    OnSwitch(index);
    return nullptr;
}
void RateChanged(ASIOSampleRate) {}
std::atomic<uint32_t> g_dropoutsReported{0};

int32_t Message(int32_t selector, int32_t value, void*, double*) {
    if (selector == kAsioSelectorSupported) {
        return value == kAsioEngineVersion || value == kAsioSupportsTimeInfo || value == kAsioOverload;
    }
    if (selector == kAsioOverload) {
        ++g_dropoutsReported;
        return 1;
    }
    if (selector == kAsioEngineVersion) return 2;
    if (selector == kAsioSupportsTimeInfo) return 1;
    return 0;
}

IASIO* OpenDriver(uint32_t bits, double rate) {
    // The width the driver takes at init, set as the panel sets it.
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\ASIO\\VelmorR5R6", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        DWORD value = bits;
        RegSetValueExA(key, kValueBitsPerSample, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
        RegCloseKey(key);
    }
    CStatusBlock block;
    if (SUCCEEDED(block.Open())) block.Write(&StatusBlockLayout::bitsPerSample, bits);
    void* object = nullptr;
    if (FAILED(CreateDriverObject(nullptr, kBenchClsid, kBenchClsid, &object))) return nullptr;
    auto* driver = static_cast<IASIO*>(object);
    ASIOChannelInfo info = {};
    if (driver->init(nullptr) != ASIOTrue || driver->setSampleRate(rate) != ASE_OK ||
        driver->getChannelInfo(&info) != ASE_OK ||
        info.type != (rate >= kDsd64Rate       ? ASIOSTDSDInt8MSB1
                      : bits == 16            ? ASIOSTInt16LSB
                      : bits == 24            ? ASIOSTInt24LSB
                                              : ASIOSTInt32LSB)) {
        driver->Release();
        return nullptr;
    }
    return driver;
}

uint64_t ThreadCpu100ns(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!thread || !GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0;
    auto ticks = [](const FILETIME& f) { return (uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return ticks(kernel) + ticks(user);
}

// The formats of the copy figure: 10 ms periods of 1764 frames.
struct CopyFormat {
    const char* name;
    uint32_t bits;      // the driver's width (32 for DSD)
    double rate;        // as the host sets it
    int32_t buffer;     // samples per half (DSD: one-bit samples)
    int32_t frames;     // per period
    unsigned bytes;     // per sample of the host's half
    bool markers;       // the driver runs the marker test on it
};
const CopyFormat kCopyFormats[] = {
    {"PCM 16-bit", 16, 176400, 1764, 1764, 2, false},
    {"PCM 24-bit", 24, 176400, 1764, 1764, 3, true},
    {"PCM 32-bit", 32, 176400, 1764, 1764, 4, true},
    {"DSD128", 32, kDsd128Rate, 1764 * 32, 1764, 4, false},
};
constexpr double kSliceSeconds = 1;

// Host halves the marker test passes over in full (0x05/0xFA per sample), or the test pattern.
void FillHalves(const CopyFormat& format) {
    for (const ASIOBufferInfo& info : g_run.infos) {
        for (int h = 0; h < 2; ++h) {
            auto* half = static_cast<uint8_t*>(info.buffers[h]);
            for (int32_t f = 0; f < format.frames; ++f) {
                uint8_t* sample = half + f * format.bytes;
                TestPattern::Store(sample, TestPattern::Sample(info.channelNum, f, format.bytes * 8), format.bytes);
                if (format.markers) sample[format.bytes - 1] = (f % 2) ? 0xFA : 0x05;
            }
        }
    }
}

void AddCopyEntry(std::string* json, const char* format, int32_t channels, const char* direction, double ratio,
                  double bestRatio) {
    char entry[192];
    std::snprintf(entry, sizeof(entry),
                  "%s{\"format\":\"%s\",\"channels\":%d,\"direction\":\"%s\",\"ratio\":%.3f,\"best_ratio\":%.3f}",
                  json->empty() ? "[" : ",", format, channels, direction, ratio, bestRatio);
    *json += entry;
}

// The capture side's packets (the pattern, interleaved) and halves.
void PrepareCapture(const CopyFormat& format, int32_t channels) {
    Run::Capture& c = g_run.capture;
    c.on = true;
    c.width = static_cast<int32_t>(format.bytes);
    c.frames = format.frames;
    c.channels = channels;
    const size_t halfBytes = static_cast<size_t>(format.frames) * format.bytes;
    c.packets.assign(8, std::vector<uint8_t>(halfBytes * channels));
    for (std::vector<uint8_t>& packet : c.packets) {
        for (int32_t f = 0; f < format.frames; ++f) {
            for (int32_t ch = 0; ch < channels; ++ch) {
                TestPattern::Store(packet.data() + (static_cast<size_t>(f) * channels + ch) * format.bytes,
                                   TestPattern::Sample(ch, f, format.bytes * 8), format.bytes);
            }
        }
    }
    c.halves.assign(2 * channels, std::vector<uint8_t>(halfBytes));
    c.destinations.assign(channels, nullptr);
    c.times.Reset();
}

// The capture figure, held to the reference: a fast copy of the wrong bytes is no figure.
void ReportCapture(const CopyFormat& format, double ticksPerUs, std::string* json) {
    Run::Capture& c = g_run.capture;
    c.on = false;
    if (c.times.Pairs() < 2 || ticksPerUs <= 0) return;
    const size_t halfBytes = static_cast<size_t>(c.frames) * c.width;
    std::vector<std::vector<uint8_t>> expected(c.channels, std::vector<uint8_t>(halfBytes));
    std::vector<uint8_t*> reference(c.channels);
    for (int32_t ch = 0; ch < c.channels; ++ch) {
        reference[ch] = expected[ch].data();
        c.destinations[ch] = c.halves[ch].data();
    }
    const int32_t stride = c.channels * c.width;
    packet_copy::Plain().deinterleave(c.packets[0].data(), stride, reference.data(), c.channels, c.width, c.frames);
    packet_copy::Deinterleave(c.packets[0].data(), stride, c.destinations.data(), c.channels, c.width, c.frames);
    bool same = true;
    for (int32_t ch = 0; ch < c.channels; ++ch) same = same && expected[ch] == c.halves[ch];
    const double copy = CopyTimes::Best(c.times.copy) / ticksPerUs, plain = CopyTimes::Best(c.times.plain) / ticksPerUs;
    const double ratio = c.times.MedianRatio();
    std::fprintf(json ? stderr : stdout,
                 "capture copy %-9s %d channels              : %6.2f us per period of %6zu bytes; memcpy %5.2f us; "
                 "ratio %.1f (fastest %.1f)%s\n",
                 format.name, c.channels, copy, halfBytes * c.channels, plain, ratio, copy / plain,
                 same ? "" : " (WRONG BYTES)");
    if (json && same) AddCopyEntry(json, format.name, c.channels, "capture", ratio, copy / plain);
}

// The render copy of one period (outputReady inside the switch, as a host
// calls it) against memcpy of the same bytes, kCopyPeriods of each.
void CopyOne(sim::SharedState* device, const CopyFormat& format, int32_t channels, std::string* json) {
    device->config.renderChannels = static_cast<uint32_t>(channels);
    IASIO* driver = OpenDriver(format.bits, format.rate);
    if (!driver) {
        std::printf("render copy %s, %d channels: the driver could not be opened\n", format.name, channels);
        return;
    }
    Run& r = g_run;
    r.driver = driver;
    r.callOutputReady = false;
    r.infos.clear();
    for (int32_t c = 0; c < channels; ++c) r.infos.push_back({ASIOFalse, c, {nullptr, nullptr}});
    ASIOCallbacks callbacks = {Switch, RateChanged, Message, SwitchTimeInfo};
    if (driver->createBuffers(r.infos.data(), channels, format.buffer, &callbacks) != ASE_OK) {
        std::printf("render copy %s, %d channels: the buffers could not be made\n", format.name, channels);
        driver->Release();
        return;
    }
    FillHalves(format);
    const size_t bytes = static_cast<size_t>(format.frames) * format.bytes * channels;
    r.halfBytes = static_cast<size_t>(format.frames) * format.bytes;
    r.scratch.assign(8, std::vector<uint8_t>(bytes, 0));
    if (format.rate < kDsd64Rate) PrepareCapture(format, channels);  // capture is PCM only
    r.timeCopy = true;
    r.render.Reset();
    r.copies = 0;
    r.switches = 0;
    const double t0 = NowMs();
    const uint64_t c0 = __rdtsc();
    if (driver->start() != ASE_OK) {
        std::printf("render copy %s, %d channels: the stream could not be started\n", format.name, channels);
    } else {
        // The first copy also queues the marker report: one more than counted.
        while (r.copies < kCopyPeriods + 1 && NowMs() - t0 < 20000) Sleep(10);
        driver->stop();
    }
    const double ticksPerUs = static_cast<double>(__rdtsc() - c0) / ((NowMs() - t0) * 1000);
    r.timeCopy = false;
    const bool measured = r.render.Pairs() > 1 && ticksPerUs > 0;
    const double copy = measured ? CopyTimes::Best(r.render.copy) / ticksPerUs : 0;
    const double plain = measured ? CopyTimes::Best(r.render.plain) / ticksPerUs : 0;
    const double ratio = measured ? r.render.MedianRatio() : 0;
    if (!measured) {
        std::fprintf(json ? stderr : stdout, "render copy %s, %d channels: no switch came\n", format.name, channels);
    } else {
        std::fprintf(json ? stderr : stdout,
                     "render copy %-10s %d channels%s: %6.2f us per period of %6zu bytes; memcpy %5.2f us; ratio %.1f "
                     "(fastest %.1f)\n",
                     format.name, channels, format.markers ? ", marker test" : "              ", copy, bytes, plain,
                     ratio, copy / plain);
    }
    if (json && measured) AddCopyEntry(json, format.name, channels, "render", ratio, copy / plain);
    if (r.capture.on) ReportCapture(format, ticksPerUs, json);
    driver->disposeBuffers();
    driver->Release();
}

void CopyBench(sim::SharedState* device, std::string* json) {
    for (const CopyFormat& format : kCopyFormats) {
        for (int32_t channels : {2, 8}) CopyOne(device, format, channels, json);
    }
    if (json && !json->empty()) *json += "]";
    device->config.renderChannels = 2;
}

struct BenchOptions {
    double seconds = 60;
    double slice = kSliceSeconds;
    bool json = false;
    bool duplex = false;
};

// The driver's run and the two baseline chains' in alternating slices of
// `slice` seconds: bare chain, design-shaped chain, driver, and again.
void RealTimeBench(sim::SharedState* device, const BenchOptions& options, const char* copyJson) {
    const double seconds = options.seconds, slice = options.slice;
    const double rate = options.duplex ? 48000 : 192000;
    const int32_t buffer = options.duplex ? 96 : 384;  // 2 ms
    const double periodMs = buffer * 1000.0 / rate;
    Run& r = g_run;
    r.buffer = buffer;
    r.bits = 32;
    r.frame = 1;
    r.switches = 0;
    r.callOutputReady = true;
    r.streamThread = nullptr;
    r.callbackMs = 0;
    r.lostRecords = 0;
    // Every slice may overrun its length twice over before a record is lost.
    const size_t slices = static_cast<size_t>(std::ceil(seconds / slice - 1e-6));
    r.times.assign(slices * (static_cast<size_t>(2 * slice * 1000 / periodMs) + 64), 0.0);
    IASIO* driver = OpenDriver(32, rate);
    if (!driver) {
        std::printf("real-time run: the driver could not be opened\n");
        return;
    }
    r.driver = driver;
    r.infos = {{ASIOFalse, 0, {nullptr, nullptr}}, {ASIOFalse, 1, {nullptr, nullptr}}};
    if (options.duplex) r.infos.insert(r.infos.end(), {{ASIOTrue, 0, {nullptr, nullptr}}, {ASIOTrue, 1, {nullptr, nullptr}}});
    ASIOCallbacks callbacks = {Switch, RateChanged, Message, SwitchTimeInfo};
    if (driver->createBuffers(r.infos.data(), static_cast<int32_t>(r.infos.size()), buffer, &callbacks) != ASE_OK) {
        std::printf("real-time run: the buffers could not be made\n");
        driver->Release();
        return;
    }
    const sim::Stream& stream = device->streams[0];
    wake::Series driverSeries(periodMs), baselineSeries(periodMs), designSeries(periodMs);
    wake::SliceFigures driverSlices, baselineSlices, designSlices;
    wake::Attribution underruns;
    uint64_t cpu = 0, baselineUnderruns = 0, designUnderruns = 0, deviceUnderruns = 0;
    double driverMs = 0;
    bool started = true;
    // The design chain holds what the host's switch took in the driver slices so far (none before the first).
    double busyMs = 0;
    for (double done = 0; done + 1e-6 < seconds && started; done += slice) {
        const double ms = std::min(slice, seconds - done) * 1000;
        const wake::BaselineSlice base =
            options.duplex ? wake::RunDuplexBaselineSlice(periodMs, ms) : wake::RunBaselineSlice(periodMs, ms);
        baselineSeries.AddSlice(base.times.data(), base.times.size());
        underruns.BaselineSlice(base.worstLateMs > periodMs);
        baselineUnderruns += base.underruns;
        baselineSlices.underruns.push_back(static_cast<double>(base.underruns));
        baselineSlices.dryMs.push_back(base.dryMs);

        const wake::BaselineSlice design = wake::RunDesignSlice(periodMs, ms, busyMs, options.duplex);
        designSeries.AddSlice(design.times.data(), design.times.size());
        designUnderruns += design.underruns;
        designSlices.underruns.push_back(static_cast<double>(design.underruns));
        designSlices.dryMs.push_back(design.dryMs);

        const uint32_t first = std::min<uint32_t>(r.switches, static_cast<uint32_t>(r.times.size()));
        const uint64_t underrunsBefore = stream.underruns, dryBefore = stream.dryMicroseconds;
        const uint64_t cpuBefore = ThreadCpu100ns(r.streamThread);
        started = driver->start() == ASE_OK;
        if (!started) {
            std::printf("real-time run: the stream could not be started\n");
            break;
        }
        const double t0 = NowMs();
        while (NowMs() - t0 < ms) Sleep(20);
        driver->stop();
        driverMs += NowMs() - t0;
        const uint32_t last = std::min<uint32_t>(r.switches, static_cast<uint32_t>(r.times.size()));
        driverSeries.AddSlice(r.times.data() + first, last - first);
        underruns.DriverSlice(stream.underruns - underrunsBefore);
        deviceUnderruns += stream.underruns - underrunsBefore;
        driverSlices.underruns.push_back(static_cast<double>(stream.underruns - underrunsBefore));
        driverSlices.dryMs.push_back(static_cast<double>(stream.dryMicroseconds - dryBefore) / 1000);
        cpu += ThreadCpu100ns(r.streamThread) - cpuBefore;
        if (r.switches > 0) busyMs = r.callbackMs / r.switches;
    }
    if (options.json) {
        std::printf("{\"rate\":%.0f,\"duplex\":%s,\"seconds\":%.0f,\"slice\":%.3f,\"copy\":%s,\"bare\":",
                    rate, options.duplex ? "true" : "false", seconds, slice, copyJson);
        wake::PrintJsonComparison(stdout, "bare", driverSeries, baselineSeries, driverSlices, baselineSlices);
        std::printf(",\"design\":");
        wake::PrintJsonComparison(stdout, "design", driverSeries, designSeries, driverSlices, designSlices);
        std::printf(",\"device_underruns\":%llu,\"bare_underruns\":%llu,\"design_underruns\":%llu,"
                    "\"callback_ms\":%.4f,\"lost_records\":%u}\n",
                    static_cast<unsigned long long>(deviceUnderruns), static_cast<unsigned long long>(baselineUnderruns),
                    static_cast<unsigned long long>(designUnderruns), busyMs, r.lostRecords);
    } else {
        std::printf("real-time run at %.0f Hz 32-bit%s, 2 ms buffers: %.0f s of each chain in %.0f s slices, "
                    "baselines first\n",
                    rate, options.duplex ? " duplex" : "", seconds, slice);
        std::printf("-- against the bare chain%s\n", options.duplex ? " (duplex)" : "");
        wake::PrintComparison(stdout, driverSeries, baselineSeries, underruns, "device underruns");
        std::printf("-- against the design-shaped chain (52-handle wait, timer re-arm, %.3f ms busy hold%s)\n",
                    busyMs, options.duplex ? ", duplex" : "");
        wake::PrintComparison(stdout, driverSeries, designSeries, wake::Attribution(), "-");
        const wake::PairedFigure u = wake::PairedRatio(driverSlices.underruns, baselineSlices.underruns, 1);
        const wake::PairedFigure du = wake::PairedRatio(driverSlices.underruns, designSlices.underruns, 1);
        std::printf("device underruns, median of the paired ratios: bare %.2f (95%% interval %.2f to %.2f), "
                    "design %.2f (%.2f to %.2f)\n",
                    u.median, u.low, u.high, du.median, du.low, du.high);
        const wake::PairedFigure d = wake::PairedRatio(driverSlices.dryMs, baselineSlices.dryMs, periodMs);
        const wake::PairedFigure dd = wake::PairedRatio(driverSlices.dryMs, designSlices.dryMs, periodMs);
        auto total = [](const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0); };
        std::printf("device dry time: the device %.1f ms, the bare chain's %.1f ms, the design chain's %.1f ms; "
                    "paired ratios bare %.2f (%.2f to %.2f), design %.2f (%.2f to %.2f)\n",
                    total(driverSlices.dryMs), total(baselineSlices.dryMs), total(designSlices.dryMs), d.median,
                    d.low, d.high, dd.median, dd.low, dd.high);
        std::printf("underruns: the device %llu, the bare chain's %llu, the design chain's %llu; records lost %u\n",
                    static_cast<unsigned long long>(deviceUnderruns), static_cast<unsigned long long>(baselineUnderruns),
                    static_cast<unsigned long long>(designUnderruns), r.lostRecords);
        std::printf("dropouts reported %u, pattern breaks %llu/%llu, streaming thread CPU %.1f%%\n",
                    g_dropoutsReported.load(), static_cast<unsigned long long>(stream.channel[0].breaks),
                    static_cast<unsigned long long>(stream.channel[1].breaks),
                    driverMs > 0 ? 100.0 * (cpu / 10000.0) / driverMs : 0.0);
    }
    driver->disposeBuffers();
    driver->Release();
    if (r.streamThread) CloseHandle(r.streamThread);
}

}  // namespace

int main(int argc, char** argv) {
    BenchOptions options;
    int position = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            options.json = true;
        } else if (std::strcmp(argv[i], "--duplex") == 0) {
            options.duplex = true;
        } else if (position++ == 0) {
            options.seconds = std::atof(argv[i]);
        } else {
            options.slice = std::atof(argv[i]);
        }
    }
    if (options.seconds <= 0) options.seconds = 60;
    if (options.slice <= 0 || options.slice > options.seconds) options.slice = std::min(kSliceSeconds, options.seconds);
    QueryPerformanceFrequency(&g_run.frequency);
    char name[64];
    snprintf(name, sizeof(name), "engine-bench-%lu", GetCurrentProcessId());
    if (!sim::Attach(name)) return 1;
    sim::ResetDevice();
    InstallDeviceApi(&sim::DeviceTable());
    std::string copyJson;
    CopyBench(sim::State(), options.json ? &copyJson : nullptr);
    RealTimeBench(sim::State(), options, copyJson.empty() ? "[]" : copyJson.c_str());
    InstallDeviceApi(nullptr);
    return 0;
}
