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
    // Per slice as above: p99.9 and max of the deviation, missed periods per 1000 owed.
    const std::vector<double>& SliceP999() const { return m_sliceP999; }
    const std::vector<double>& SliceMax() const { return m_sliceMax; }
    const std::vector<double>& SliceMissedPer1000() const { return m_sliceMissed; }

private:
    double m_periodMs;
    std::vector<double> m_deviations;
    std::vector<double> m_sliceP99;
    std::vector<double> m_sliceP999;
    std::vector<double> m_sliceMax;
    std::vector<double> m_sliceMissed;
    uint32_t m_wakeUps = 0;
    uint32_t m_late = 0;
    int64_t m_missed = 0;
};

struct BaselineSlice {
    std::vector<double> times;  // wake-ups, ms
    double worstLateMs = 0;     // the latest wake-up against its deadline
    uint32_t underruns = 0;     // times the waiter left the device dry
    double dryMs = 0;           // how long the device stayed dry, summed
    bool ran = false;           // both threads started
};

// Packets a driver keeps queued on the device ahead of the one being played.
constexpr int32_t kBaselinePacketsAhead = 2;

// Runs the chain for `ms` at `periodMs`. The waiter holds each completion
// `holdMs` before handing the packet back, as a driver doing its work would
// (0: the bare chain).
BaselineSlice RunBaselineSlice(double periodMs, double ms, int32_t packetsAhead = kBaselinePacketsAhead,
                               uint32_t holdMs = 0);

// Completions a waiter has taken but not yet served. A waiter woken late
// finds several periods' completions of each direction in at once and serves
// every one, as the driver's ring masks do; a duplex period needs both of its
// packets.
class PendingPeriods {
public:
    explicit PendingPeriods(bool duplex) : m_duplex(duplex) {}
    void Render() { ++m_render; }
    void Capture() { ++m_capture; }
    // True (and one period fewer pending) when a whole period is in.
    bool Take() {
        if (m_render == 0 || (m_duplex && m_capture == 0)) return false;
        --m_render;
        if (m_duplex) --m_capture;
        return true;
    }

private:
    bool m_duplex;
    uint32_t m_render = 0;
    uint32_t m_capture = 0;
};

// The bare chain of a duplex stream: the device completes a capture packet
// beside each render one, and the waiter hands the packet back once both are in.
BaselineSlice RunDuplexBaselineSlice(double periodMs, double ms);

// The design-shaped chain: per period the waiter does what the driver's
// design asks of it and nothing of our code: a wait on all 52 handles of the
// streaming loop, a re-arm of a two-second waitable timer, and a busy hold of
// `busyMs` (the host's measured callback time). With `duplex` the device
// completes a capture packet beside each render one and a period is served
// once both are in.
BaselineSlice RunDesignSlice(double periodMs, double ms, double busyMs, bool duplex);

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

// The median of the per-pair ratios (driver slice i against the mean of
// baseline slices i and i + 1, or the one that has a figure) with a 95%
// interval from a bootstrap over the pairs. Slices with a negative figure
// have none. `floor` is added to both sides of each ratio: for counts, two
// clean slices are then equal and one stall beside a clean slice is finite;
// with floor 0 a pair whose baseline is 0 is left out.
struct PairedFigure {
    double median = 0;
    double low = 0;
    double high = 0;
    size_t pairs = 0;
};
PairedFigure PairedRatio(const std::vector<double>& driver, const std::vector<double>& baseline, double floor);

// What a driver slice is set against in the paired figures.
struct SliceFigures {
    std::vector<double> underruns;  // device underruns per slice
    std::vector<double> dryMs;      // how long the device stayed dry per slice, ms
};

// The two chains' figures, the ratios driver / baseline and the verdict.
void PrintComparison(std::FILE* out, const Series& driver, const Series& baseline, const Attribution& dropouts,
                     const char* dropoutName);

// The paired figures of the two chains, one JSON object (no newline): the
// ratios named as in the text output.
void PrintJsonComparison(std::FILE* out, const char* name, const Series& driver, const Series& baseline,
                         const SliceFigures& driverSlices, const SliceFigures& baselineSlices);

}  // namespace wake
