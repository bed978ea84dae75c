// The machine's own wake-up behaviour, measured along the path a period takes
// to reach a driver, with the driver taken out: a timer thread at the device
// clock's priority waits as the virtual device's clock does (a timed wait on
// its event to shortly before each deadline, then yielding with a look at the
// event) and completes one of the packets it holds each period; a thread at
// the streaming thread's priority wakes on each completion, notes the time
// and hands a packet straight back. A driver's switch figures are set against
// this chain's, measured in slices that alternate with the driver's in the
// same run, so that a noisy stretch of the machine falls on both.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace wake {

// Milliseconds on the performance counter.
double NowMs();

// Wake-up figures of one chain over the slices added to it; intervals are
// taken only inside a slice.
class Series {
public:
    explicit Series(double periodMs) : m_periodMs(periodMs) {}
    // Wake-up times of one slice, ms, ascending.
    void AddSlice(const double* times, size_t count);
    // Of |interval - period| over every interval, ms.
    double Deviation(double fraction) const;
    uint32_t WakeUps() const { return m_wakeUps; }
    uint32_t Late() const { return m_late; }      // intervals over 1.5 periods
    int64_t Missed() const { return m_missed; }   // periods behind at the end of each slice, summed
    double PeriodMs() const { return m_periodMs; }
    // p99 of |interval - period| within each slice, ms, in the order added
    // (-1 for a slice without intervals).
    const std::vector<double>& SliceP99() const { return m_sliceP99; }

private:
    double m_periodMs;
    std::vector<double> m_deviations;
    std::vector<double> m_sliceP99;
    uint32_t m_wakeUps = 0;
    uint32_t m_late = 0;
    int64_t m_missed = 0;
};

struct BaselineSlice {
    std::vector<double> times;  // wake-ups, ms
    double worstLateMs = 0;     // the latest wake-up against its deadline
    uint32_t underruns = 0;     // times the waiter left the device dry
    bool ran = false;           // both threads started
};

// Packets a driver keeps queued on the device ahead of the one being played.
constexpr int32_t kBaselinePacketsAhead = 2;

// Runs the chain for `ms` at `periodMs`. The waiter holds each completion
// `holdMs` before handing the packet back, as a driver doing its work would
// (0: the bare chain).
BaselineSlice RunBaselineSlice(double periodMs, double ms, int32_t packetsAhead = kBaselinePacketsAhead,
                               uint32_t holdMs = 0);

// Slices alternate baseline, driver, baseline, driver...; the driver's
// dropouts (device underruns, or what the host was told) in slice i are the
// driver's when neither neighbouring baseline slice woke more than a period
// late, else the machine's.
class Attribution {
public:
    void BaselineSlice(bool lateByAPeriod);
    void DriverSlice(uint64_t dropouts);
    uint64_t Driver() const;
    uint64_t Machine() const;

private:
    std::vector<bool> m_baselineLate;
    std::vector<uint64_t> m_dropouts;  // driver slice i follows baseline slice i
};

// Each driver slice's p99 against the mean of the baseline slices on either
// side of it (baseline slice i before driver slice i, i + 1 after), as the
// median over the driver's slices: a stretch of load falls on a pair, and
// a single stall moves one pair, not the figure. 0 when no pair has a
// baseline figure above 0.
double PairedP99Ratio(const Series& driver, const Series& baseline);

// The two chains' figures, the ratios driver / baseline and the verdict.
void PrintComparison(std::FILE* out, const Series& driver, const Series& baseline, const Attribution& dropouts,
                     const char* dropoutName);

}  // namespace wake
