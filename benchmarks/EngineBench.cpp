// The driver's streaming path, measured on the virtual device:
//  1. the render copy (outputReady, with the DSD-marker test running) against
//     memcpy of the same bytes;
//  2. a real-time run at 2 ms buffers (192000 Hz, 32 bits): missed periods,
//     the spread of buffer-switch intervals around the period, and the CPU
//     share of the driver's streaming thread.
// Usage: engine_bench [seconds of the real-time run, default 60]
#include "asio/AsioInterface.h"
#include "asio/ClassFactory.h"
#include "device/AsioSettingsKey.h"
#include "device/StatusBlock.h"
#include "simulator/SimDevice.h"
#include "simulator/TestPattern.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const CLSID kBenchClsid = {0x0BE4C400, 0x5A5A, 0x4C4C, {0x80, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}};

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
};
Run g_run;

double NowMs() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000.0 / g_run.frequency.QuadPart;
}

void OnSwitch(int32_t index) {
    Run& r = g_run;
    uint32_t n = r.switches;
    if (!r.streamThread) {
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &r.streamThread,
                        THREAD_QUERY_INFORMATION, FALSE, 0);
    }
    if (n < r.times.size()) r.times[n] = NowMs();
    const unsigned bytes = r.bits / 8;
    for (const ASIOBufferInfo& info : r.infos) {
        auto* half = static_cast<uint8_t*>(info.buffers[index]);
        for (int32_t f = 0; f < r.buffer; ++f) {
            TestPattern::Store(half + f * bytes, TestPattern::Sample(info.channelNum, r.frame + f, r.bits), bytes);
        }
    }
    r.frame += r.buffer;
    if (r.callOutputReady) r.driver->outputReady();
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
        info.type != (bits == 16 ? ASIOSTInt16LSB : bits == 24 ? ASIOSTInt24LSB : ASIOSTInt32LSB)) {
        driver->Release();
        return nullptr;
    }
    return driver;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * (values.size() - 1) + 0.5)];
}

uint64_t ThreadCpu100ns(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!thread || !GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0;
    auto ticks = [](const FILETIME& f) { return (uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return ticks(kernel) + ticks(user);
}

// The render copy of one period (two channels, 24 bits at 176400 Hz, so the
// marker test scans every sample) against memcpy of the same bytes.
void CopyBench(sim::SharedState* device) {
    const int32_t buffer = 1764;  // 10 ms
    g_run.buffer = buffer;
    g_run.bits = 24;
    IASIO* driver = OpenDriver(24, 176400);
    if (!driver) {
        std::printf("render copy: the driver could not be opened\n");
        return;
    }
    g_run.driver = driver;
    g_run.callOutputReady = false;
    g_run.infos = {{ASIOFalse, 0, {nullptr, nullptr}}, {ASIOFalse, 1, {nullptr, nullptr}}};
    ASIOCallbacks callbacks = {Switch, RateChanged, Message, SwitchTimeInfo};
    device->config.stallCompletions = 1;  // running, but no switch comes to disturb the timing
    if (driver->createBuffers(g_run.infos.data(), 2, buffer, &callbacks) != ASE_OK || driver->start() != ASE_OK) {
        std::printf("render copy: the stream could not be started\n");
        driver->Release();
        return;
    }
    // Valid DSD markers in every sample: the test runs to the end of each channel.
    for (const ASIOBufferInfo& info : g_run.infos) {
        for (int h = 0; h < 2; ++h) {
            auto* half = static_cast<uint8_t*>(info.buffers[h]);
            for (int32_t f = 0; f < buffer; ++f) {
                half[f * 3] = 0x69;
                half[f * 3 + 1] = 0x96;
                half[f * 3 + 2] = (f % 2) ? 0xFA : 0x05;
            }
        }
    }
    driver->outputReady();  // the first one sends the marker report
    const int rounds = 20000;
    const size_t bytes = static_cast<size_t>(buffer) * 3 * 2;
    std::vector<uint8_t> from(bytes, 0x5A), to(bytes);
    double t0 = NowMs();
    for (int i = 0; i < rounds; ++i) driver->outputReady();
    double copy = NowMs() - t0;
    t0 = NowMs();
    for (int i = 0; i < rounds; ++i) {
        std::memcpy(to.data(), from.data(), bytes);
        from[i % bytes] ^= to[(i * 7) % bytes];  // keep the copies from being folded away
    }
    double plain = NowMs() - t0;
    std::printf("render copy with marker test: %.2f us per period of %zu bytes; memcpy %.2f us; ratio %.1f\n",
                copy * 1000 / rounds, bytes, plain * 1000 / rounds, copy / plain);
    driver->stop();
    driver->disposeBuffers();
    driver->Release();
    device->config.stallCompletions = 0;
}

void RealTimeBench(double seconds) {
    const double rate = 192000;
    const int32_t buffer = 384;  // 2 ms
    const double periodMs = buffer * 1000.0 / rate;
    Run& r = g_run;
    r.buffer = buffer;
    r.bits = 32;
    r.frame = 1;
    r.switches = 0;
    r.callOutputReady = true;
    r.streamThread = nullptr;
    r.times.assign(static_cast<size_t>(seconds * 1000 / periodMs) + 1000, 0.0);
    IASIO* driver = OpenDriver(32, rate);
    if (!driver) {
        std::printf("real-time run: the driver could not be opened\n");
        return;
    }
    r.driver = driver;
    r.infos = {{ASIOFalse, 0, {nullptr, nullptr}}, {ASIOFalse, 1, {nullptr, nullptr}}};
    ASIOCallbacks callbacks = {Switch, RateChanged, Message, SwitchTimeInfo};
    if (driver->createBuffers(r.infos.data(), 2, buffer, &callbacks) != ASE_OK || driver->start() != ASE_OK) {
        std::printf("real-time run: the stream could not be started\n");
        driver->Release();
        return;
    }
    double started = NowMs();
    while (NowMs() - started < seconds * 1000) Sleep(50);
    uint64_t cpu = ThreadCpu100ns(r.streamThread);
    driver->stop();
    const uint32_t switches = std::min<uint32_t>(r.switches, static_cast<uint32_t>(r.times.size()));
    std::vector<double> deviation;
    uint32_t late = 0;
    for (uint32_t i = 1; i < switches; ++i) {
        double interval = r.times[i] - r.times[i - 1];
        deviation.push_back(std::fabs(interval - periodMs));
        if (interval > 1.5 * periodMs) ++late;
    }
    double ran = switches > 1 ? r.times[switches - 1] - r.times[0] + periodMs : 0;
    long long owed = static_cast<long long>(ran / periodMs + 0.5);
    long long missed = std::max<long long>(0, owed - switches);
    const sim::Stream& stream = sim::State()->streams[0];
    std::printf("real-time run, %.0f s at 192000 Hz 32-bit, 2 ms buffers: %u switches, missed periods %lld, "
                "late %u, device underruns %llu, dropouts reported %u, pattern breaks %llu/%llu\n",
                seconds, switches, missed, late, static_cast<unsigned long long>(stream.underruns),
                g_dropoutsReported.load(),
                static_cast<unsigned long long>(stream.channel[0].breaks),
                static_cast<unsigned long long>(stream.channel[1].breaks));
    std::printf("switch interval deviation from 2 ms: p50 %.3f ms, p99 %.3f ms, max %.3f ms; "
                "streaming thread CPU %.1f%%\n",
                Percentile(deviation, 0.5), Percentile(deviation, 0.99), Percentile(deviation, 1.0),
                ran > 0 ? 100.0 * (cpu / 10000.0) / ran : 0.0);
    driver->disposeBuffers();
    driver->Release();
    if (r.streamThread) CloseHandle(r.streamThread);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    if (seconds <= 0) seconds = 60;
    QueryPerformanceFrequency(&g_run.frequency);
    char name[64];
    snprintf(name, sizeof(name), "engine-bench-%lu", GetCurrentProcessId());
    if (!sim::Attach(name)) return 1;
    sim::ResetDevice();
    InstallDeviceApi(&sim::DeviceTable());
    CopyBench(sim::State());
    RealTimeBench(seconds);
    InstallDeviceApi(nullptr);
    return 0;
}
