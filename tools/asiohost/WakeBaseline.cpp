#include "WakeBaseline.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>
#include <utility>

namespace wake {

namespace {

// As the virtual device's clock: a timed wait ends up to ~0.4 ms late, so it
// wakes this much early and yields for the rest; it never waits longer than
// kIdlePollMs at once.
constexpr double kWakeEarlyMs = 0.4;
constexpr double kIdlePollMs = 50;
constexpr uint64_t kDeadlineRing = 8;  // more than the packets a device holds

double g_ticksPerMs = 0;

// The device's side of a stream with the driver's work taken out: it holds
// `packetsAhead` packets and completes one per period on a grid; the waiter
// takes each completion and hands a packet back at once. A waiter later than
// the packets cover leaves the device dry, and the next packet starts a new
// grid, as the virtual device does.
struct Chain {
    double periodMs = 0;
    double startMs = 0;
    double endMs = 0;
    HANDLE tick = nullptr;      // semaphore: one count per completed packet
    HANDLE wake = nullptr;      // auto-reset: a packet was handed back
    HANDLE finished = nullptr;  // manual-reset: the timer gave its last signal
    std::atomic<int32_t> queued{0};
    std::atomic<double> handedMs{0};  // when the waiter last handed a packet back
    std::atomic<double> dryFromMs{0};  // when the device last ran out of packets
    uint32_t holdMs = 0;
    bool design = false;  // the waiter does the design's per-period work
    bool duplex = false;
    double busyMs = 0;
    HANDLE captureTick = nullptr;  // duplex: the capture packet's completions
    double deadlines[kDeadlineRing] = {};
    BaselineSlice* slice = nullptr;
};

// The waiter's packet goes back; into a dry device it ends an underrun and
// wakes the clock, as the virtual device's queue does (behind a playing
// packet the clock's deadline stands).
void HandBack(Chain& chain, BaselineSlice& slice) {
    const double now = NowMs();
    chain.handedMs = now;
    if (chain.queued++ == 0) {
        ++slice.underruns;
        slice.dryMs += std::max(0.0, now - chain.dryFromMs);
        SetEvent(chain.wake);
    }
}

// A served period's wake-up: its time, and how late it came against the
// deadline of the completion it serves (the `taken`-th). Returns the time.
double NoteWakeUp(const Chain& chain, BaselineSlice& slice, uint64_t taken) {
    const double now = NowMs();
    if (slice.times.size() < slice.times.capacity()) slice.times.push_back(now);
    slice.worstLateMs = std::max(slice.worstLateMs, now - chain.deadlines[taken % kDeadlineRing]);
    return now;
}

// The device clock's loop: the same timed wait and yield loop, on an event
// that every packet handed back sets.
DWORD WINAPI TimerThread(void* context) {
    Chain& chain = *static_cast<Chain*>(context);
    // The grid starts when this thread first runs: a late start is no burst of catch-up completions.
    double anchor = NowMs();
    uint64_t k = 1, completed = 0;
    bool dry = false;
    for (;;) {
        if (dry) {
            if (chain.queued == 0) {
                if (NowMs() >= chain.endMs) break;
                WaitForSingleObject(chain.wake, static_cast<DWORD>(kIdlePollMs));
                continue;
            }
            anchor = chain.handedMs;
            k = 1;
            dry = false;
        }
        const double deadline = anchor + k * chain.periodMs;
        if (deadline > chain.endMs) break;
        const double now = NowMs();
        if (now >= deadline) {
            chain.deadlines[completed++ % kDeadlineRing] = deadline;
            ++k;
            chain.dryFromMs = deadline;
            dry = --chain.queued == 0;
            if (chain.captureTick) ReleaseSemaphore(chain.captureTick, 1, nullptr);
            ReleaseSemaphore(chain.tick, 1, nullptr);
            continue;
        }
        const double left = deadline - now - kWakeEarlyMs;
        if (left >= 1) {
            WaitForSingleObject(chain.wake, static_cast<DWORD>(std::min(left, kIdlePollMs)));
            continue;
        }
        while (NowMs() < deadline) {
            if (WaitForSingleObject(chain.wake, 0) == WAIT_OBJECT_0) break;
            Sleep(0);
        }
    }
    SetEvent(chain.finished);
    return 0;
}

// The streaming loop's handle count: 4 control events, 8 packets of 3 pins each way.
constexpr int kDesignHandles = 52;

DWORD WINAPI DesignWaiterThread(void* context) {
    Chain& chain = *static_cast<Chain*>(context);
    BaselineSlice& slice = *chain.slice;
    HANDLE handles[kDesignHandles] = {};
    HANDLE idle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE timer = CreateWaitableTimerA(nullptr, FALSE, nullptr);
    if (!idle || !timer) {
        if (idle) CloseHandle(idle);
        if (timer) CloseHandle(timer);
        return 1;
    }
    // Control events first, then the packets: the finished event stands for quit.
    for (HANDLE& handle : handles) handle = idle;
    handles[0] = chain.finished;
    handles[4] = chain.tick;
    if (chain.captureTick) handles[28] = chain.captureTick;
    uint64_t taken = 0;
    PendingPeriods pending(chain.captureTick != nullptr);
    for (;;) {
        const DWORD wait = WaitForMultipleObjects(kDesignHandles, handles, FALSE, INFINITE);
        if (wait == WAIT_OBJECT_0 + 4) {
            pending.Render();
        } else if (wait == WAIT_OBJECT_0 + 28) {
            pending.Capture();
        } else {
            break;
        }
        LARGE_INTEGER due;
        due.QuadPart = -20000000;
        SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
        while (pending.Take()) {
            const double now = NoteWakeUp(chain, slice, taken++);
            while (NowMs() - now < chain.busyMs) YieldProcessor();
            HandBack(chain, slice);
        }
    }
    CancelWaitableTimer(timer);
    CloseHandle(timer);
    CloseHandle(idle);
    return 0;
}

DWORD WINAPI WaiterThread(void* context) {
    Chain& chain = *static_cast<Chain*>(context);
    BaselineSlice& slice = *chain.slice;
    // A completion left beats the end: wait-any reports the lowest signalled handle.
    HANDLE waits[3] = {chain.tick, chain.finished, chain.captureTick};
    const DWORD handles = chain.captureTick ? 3 : 2;
    uint64_t taken = 0;
    PendingPeriods pending(chain.captureTick != nullptr);
    for (;;) {
        const DWORD wait = WaitForMultipleObjects(handles, waits, FALSE, INFINITE);
        if (wait == WAIT_OBJECT_0) {
            pending.Render();
        } else if (wait == WAIT_OBJECT_0 + 2) {
            pending.Capture();
        } else {
            break;
        }
        while (pending.Take()) {
            NoteWakeUp(chain, slice, taken++);
            if (chain.holdMs) Sleep(chain.holdMs);
            // The next packet; into a dry device it starts the grid anew.
            HandBack(chain, slice);
        }
    }
    return 0;
}

double SortedPercentile(const std::vector<double>& values, double fraction) {
    if (values.empty()) return 0;
    return values[static_cast<size_t>(fraction * (values.size() - 1) + 0.5)];
}

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return SortedPercentile(values, fraction);
}

// Each driver slice's figure over the mean of the baseline slices beside it.
std::vector<double> PairRatios(const std::vector<double>& d, const std::vector<double>& b, double floor) {
    std::vector<double> ratios;
    for (size_t i = 0; i < d.size() && i < b.size(); ++i) {
        const bool after = i + 1 < b.size() && b[i + 1] >= 0;
        const double around = b[i] >= 0 && after ? (b[i] + b[i + 1]) / 2 : b[i] >= 0 ? b[i] : after ? b[i + 1] : -1;
        if (d[i] < 0 || around < 0 || around + floor <= 0) continue;
        ratios.push_back((d[i] + floor) / (around + floor));
    }
    return ratios;
}

constexpr int kBootstrapRounds = 2000;
// One missed period in 1000, one underrun: added to both sides of their ratios.
constexpr double kMissedFloor = 1;
constexpr double kUnderrunFloor = 1;

}  // namespace

double NowMs() {
    if (g_ticksPerMs == 0) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        g_ticksPerMs = frequency.QuadPart / 1000.0;
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart / g_ticksPerMs;
}

void Series::AddSlice(const double* times, size_t count) {
    m_wakeUps += static_cast<uint32_t>(count);
    if (count < 2) {
        for (auto* figure : {&m_sliceP99, &m_sliceP999, &m_sliceMax, &m_sliceMissed}) figure->push_back(-1);
        return;
    }
    std::vector<double> slice;
    slice.reserve(count - 1);
    for (size_t i = 1; i < count; ++i) {
        const double interval = times[i] - times[i - 1];
        slice.push_back(std::fabs(interval - m_periodMs));
        if (interval > 1.5 * m_periodMs) ++m_late;
    }
    m_deviations.insert(m_deviations.end(), slice.begin(), slice.end());
    std::sort(slice.begin(), slice.end());
    m_sliceP99.push_back(SortedPercentile(slice, 0.99));
    m_sliceP999.push_back(SortedPercentile(slice, 0.999));
    m_sliceMax.push_back(slice.back());
    const double ran = times[count - 1] - times[0] + m_periodMs;
    const auto owed = static_cast<int64_t>(ran / m_periodMs + 0.5);
    const int64_t missed = std::max<int64_t>(0, owed - static_cast<int64_t>(count));
    m_missed += missed;
    m_sliceMissed.push_back(owed > 0 ? 1000.0 * static_cast<double>(missed) / static_cast<double>(owed) : -1);
}

double Series::Deviation(double fraction) const { return Percentile(m_deviations, fraction); }

double PairedP99Ratio(const Series& driver, const Series& baseline) {
    return Percentile(PairRatios(driver.SliceP99(), baseline.SliceP99(), 0), 0.5);
}

PairedFigure PairedRatio(const std::vector<double>& driver, const std::vector<double>& baseline, double floor) {
    PairedFigure figure;
    const std::vector<double> ratios = PairRatios(driver, baseline, floor);
    figure.pairs = ratios.size();
    if (ratios.empty()) return figure;
    figure.median = Percentile(ratios, 0.5);
    // Resampled pairs, a fixed seed: the same slices give the same interval.
    uint32_t seed = 0x9E3779B9u;
    std::vector<double> medians(kBootstrapRounds), sample(ratios.size());
    for (double& median : medians) {
        for (double& value : sample) {
            seed = seed * 1664525u + 1013904223u;
            value = ratios[(static_cast<uint64_t>(seed >> 8) * ratios.size()) >> 24];
        }
        median = Percentile(sample, 0.5);
    }
    std::sort(medians.begin(), medians.end());
    figure.low = SortedPercentile(medians, 0.025);
    figure.high = SortedPercentile(medians, 0.975);
    return figure;
}

namespace {

BaselineSlice RunChain(Chain& chain, double periodMs, double ms, int32_t packetsAhead);

}  // namespace

BaselineSlice RunBaselineSlice(double periodMs, double ms, int32_t packetsAhead, uint32_t holdMs) {
    Chain chain;
    chain.holdMs = holdMs;
    return RunChain(chain, periodMs, ms, packetsAhead);
}

BaselineSlice RunDuplexBaselineSlice(double periodMs, double ms) {
    Chain chain;
    chain.duplex = true;
    return RunChain(chain, periodMs, ms, kBaselinePacketsAhead);
}

BaselineSlice RunDesignSlice(double periodMs, double ms, double busyMs, bool duplex) {
    Chain chain;
    chain.design = true;
    chain.duplex = duplex;
    chain.busyMs = busyMs > 0 ? busyMs : 0;
    return RunChain(chain, periodMs, ms, kBaselinePacketsAhead);
}

namespace {

BaselineSlice RunChain(Chain& chain, double periodMs, double ms, int32_t packetsAhead) {
    BaselineSlice slice;
    if (periodMs <= 0 || ms <= 0 || packetsAhead < 1 || packetsAhead >= static_cast<int32_t>(kDeadlineRing)) {
        return slice;
    }
    // Room for a slice that overruns its length twice over.
    slice.times.reserve(static_cast<size_t>(2 * ms / periodMs) + 64);
    chain.periodMs = periodMs;
    chain.slice = &slice;
    chain.queued = packetsAhead;
    chain.tick = CreateSemaphoreA(nullptr, 0, packetsAhead, nullptr);
    if (chain.duplex) chain.captureTick = CreateSemaphoreA(nullptr, 0, packetsAhead, nullptr);
    chain.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    chain.finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE threads[2] = {};
    if (chain.tick && chain.wake && chain.finished && (!chain.duplex || chain.captureTick)) {
        threads[0] = CreateThread(nullptr, 0, chain.design ? DesignWaiterThread : WaiterThread, &chain,
                                  CREATE_SUSPENDED, nullptr);
        threads[1] = CreateThread(nullptr, 0, TimerThread, &chain, CREATE_SUSPENDED, nullptr);
    }
    if (threads[0] && threads[1]) {
        chain.startMs = NowMs();
        chain.endMs = chain.startMs + ms;
        for (HANDLE thread : threads) {
            SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
            ResumeThread(thread);
        }
        WaitForMultipleObjects(2, threads, TRUE, INFINITE);
        slice.ran = true;
    } else {
        // Never resumed: they have run nothing.
        for (HANDLE thread : threads) {
            if (thread) TerminateThread(thread, 0);
        }
    }
    for (HANDLE handle : {threads[0], threads[1], chain.tick, chain.captureTick, chain.wake, chain.finished}) {
        if (handle) CloseHandle(handle);
    }
    return slice;
}

}  // namespace

void Attribution::BaselineSlice(bool lateByAPeriod) { m_baselineLate.push_back(lateByAPeriod); }

void Attribution::DriverSlice(uint64_t dropouts) { m_dropouts.push_back(dropouts); }

uint64_t Attribution::Driver() const {
    uint64_t total = 0;
    for (size_t i = 0; i < m_dropouts.size(); ++i) {
        const bool before = i < m_baselineLate.size() && m_baselineLate[i];
        const bool after = i + 1 < m_baselineLate.size() && m_baselineLate[i + 1];
        if (!before && !after) total += m_dropouts[i];
    }
    return total;
}

uint64_t Attribution::Machine() const {
    uint64_t total = 0;
    for (uint64_t dropouts : m_dropouts) total += dropouts;
    return total - Driver();
}

void PrintComparison(std::FILE* out, const Series& driver, const Series& baseline, const Attribution& dropouts,
                     const char* dropoutName) {
    const double period = driver.PeriodMs();
    auto ratio = [](double a, double b, char* text, size_t size) {
        if (b > 0) {
            std::snprintf(text, size, "%.2f", a / b);
        } else {
            std::snprintf(text, size, "%s", a > 0 ? "inf" : "-");
        }
        return text;
    };
    const double fractions[3] = {0.5, 0.99, 1.0};
    const char* names[3] = {"p50", "p99", "max"};
    for (const Series* series : {&baseline, &driver}) {
        std::fprintf(out,
                     "%s: %u wake-ups; deviation from %.3f ms: p50 %.3f ms, p99 %.3f ms, max %.3f ms; late %u, "
                     "missed %lld\n",
                     series == &baseline ? "baseline (the machine's own wake-up)" : "driver", series->WakeUps(),
                     period, series->Deviation(0.5), series->Deviation(0.99), series->Deviation(1.0), series->Late(),
                     static_cast<long long>(series->Missed()));
    }
    char text[32];
    std::fprintf(out, "ratio driver / baseline:");
    for (int i = 0; i < 3; ++i) {
        std::fprintf(out, " %s %s,", names[i],
                     ratio(driver.Deviation(fractions[i]), baseline.Deviation(fractions[i]), text, sizeof(text)));
    }
    std::fprintf(out, " late %s,", ratio(driver.Late(), baseline.Late(), text, sizeof(text)));
    std::fprintf(out, " missed %s\n",
                 ratio(static_cast<double>(driver.Missed()), static_cast<double>(baseline.Missed()), text,
                       sizeof(text)));
    const double paired = PairedP99Ratio(driver, baseline);
    std::fprintf(out, "ratio driver / baseline, slice by slice: p99 %s (median over %zu slices)\n",
                 paired > 0 ? (std::snprintf(text, sizeof(text), "%.2f", paired), text) : "-",
                 driver.SliceP99().size());
    auto pairedLine = [&](const char* what, const std::vector<double>& d, const std::vector<double>& b, double floor) {
        const PairedFigure figure = PairedRatio(d, b, floor);
        if (figure.pairs == 0) {
            std::fprintf(out, "  %s: -\n", what);
            return;
        }
        std::fprintf(out, "  %s: %.2f (95%% interval %.2f to %.2f, %zu pairs)\n", what, figure.median, figure.low,
                     figure.high, figure.pairs);
    };
    std::fprintf(out, "median of the paired ratios:\n");
    pairedLine("missed periods per 1000", driver.SliceMissedPer1000(), baseline.SliceMissedPer1000(), kMissedFloor);
    pairedLine("p99", driver.SliceP99(), baseline.SliceP99(), 0);
    pairedLine("p99.9", driver.SliceP999(), baseline.SliceP999(), 0);
    pairedLine("max", driver.SliceMax(), baseline.SliceMax(), 0);
    std::fprintf(out, "engine adds %.3f ms at p99 over the machine's own wake-up\n",
                 driver.Deviation(0.99) - baseline.Deviation(0.99));
    std::fprintf(out, "%s: %llu the driver's (baseline never a period late), %llu the machine's (baseline late too)\n",
                 dropoutName, static_cast<unsigned long long>(dropouts.Driver()),
                 static_cast<unsigned long long>(dropouts.Machine()));
}

void PrintJsonComparison(std::FILE* out, const char* name, const Series& driver, const Series& baseline,
                         const SliceFigures& driverSlices, const SliceFigures& baselineSlices) {
    auto figure = [&](const char* key, const PairedFigure& f, bool last) {
        std::fprintf(out, "\"%s\":%.4f,\"%s_ci\":[%.4f,%.4f]%s", key, f.median, key, f.low, f.high, last ? "" : ",");
    };
    std::fprintf(out, "{\"baseline\":\"%s\",\"pairs\":%zu,", name, driver.SliceP99().size());
    figure("missed_ratio", PairedRatio(driver.SliceMissedPer1000(), baseline.SliceMissedPer1000(), kMissedFloor),
           false);
    figure("underrun_ratio", PairedRatio(driverSlices.underruns, baselineSlices.underruns, kUnderrunFloor), false);
    // One period of dry time is the floor, as one underrun is for the counts.
    figure("dry_ratio", PairedRatio(driverSlices.dryMs, baselineSlices.dryMs, driver.PeriodMs()), false);
    figure("p99_ratio", PairedRatio(driver.SliceP99(), baseline.SliceP99(), 0), false);
    figure("p999_ratio", PairedRatio(driver.SliceP999(), baseline.SliceP999(), 0), false);
    figure("max_ratio", PairedRatio(driver.SliceMax(), baseline.SliceMax(), 0), false);
    std::fprintf(out, "\"driver_dry_ms\":%.3f,\"baseline_dry_ms\":%.3f,",
                 std::accumulate(driverSlices.dryMs.begin(), driverSlices.dryMs.end(), 0.0),
                 std::accumulate(baselineSlices.dryMs.begin(), baselineSlices.dryMs.end(), 0.0));
    std::fprintf(out, "\"driver_missed\":%lld,\"baseline_missed\":%lld,\"driver_p99_ms\":%.4f,\"baseline_p99_ms\":%.4f}",
                 static_cast<long long>(driver.Missed()), static_cast<long long>(baseline.Missed()),
                 driver.Deviation(0.99), baseline.Deviation(0.99));
}

}  // namespace wake
