// The machine's own wake-up chain and how a driver's run is set against it:
// the figures of alternating slices, whose dropouts are whose, and a host's
// play --baseline through the driver on the virtual device.
#include "DriverHarness.h"

#include "tools/asiohost/BaselinePlay.h"
#include "tools/asiohost/WakeBaseline.h"

#include <vector>

namespace asiotest {
namespace {

TEST(WakeBaseline, IntervalsCountOnlyInsideASliceAndLateAndMissedFollowThePeriod) {
    wake::Series series(2.0);
    // Steady, then one wake-up 2 ms late and the next on time again.
    const double first[] = {0, 2, 4, 8, 8.1, 10};
    series.AddSlice(first, 6);
    // A second slice a second later: the gap between slices is no interval.
    const double steady[] = {1000, 1002, 1004};
    series.AddSlice(steady, 3);
    EXPECT_EQ(9u, series.WakeUps());
    EXPECT_EQ(1u, series.Late());          // only the 4 ms interval is over 1.5 periods
    EXPECT_EQ(0, series.Missed());         // six wake-ups over six periods, three over three
    EXPECT_DOUBLE_EQ(2.0, series.Deviation(1.0));
    EXPECT_DOUBLE_EQ(0.0, series.Deviation(0.5));

    // Lost periods: five periods spanned, three wake-ups.
    wake::Series lossy(2.0);
    const double gaps[] = {0, 2, 8};
    lossy.AddSlice(gaps, 3);
    EXPECT_EQ(2, lossy.Missed());
    EXPECT_EQ(1u, lossy.Late());
    // A slice of one wake-up or none has no interval.
    lossy.AddSlice(gaps, 1);
    lossy.AddSlice(nullptr, 0);
    EXPECT_EQ(4u, lossy.WakeUps());
    EXPECT_EQ(1u, lossy.Late());
}

TEST(WakeBaseline, DropoutsBesideALateBaselineSliceAreTheMachines) {
    wake::Attribution attribution;
    // baseline 0 on time | driver 0: 3 | baseline 1 late | driver 1: 5 | baseline 2 on time | driver 2: 7
    // | baseline 3 on time | driver 3: 11 (no baseline after it)
    attribution.BaselineSlice(false);
    attribution.DriverSlice(3);
    attribution.BaselineSlice(true);
    attribution.DriverSlice(5);
    attribution.BaselineSlice(false);
    attribution.DriverSlice(7);
    attribution.BaselineSlice(false);
    attribution.DriverSlice(11);
    EXPECT_EQ(18u, attribution.Driver());   // slices 2 and 3
    EXPECT_EQ(8u, attribution.Machine());   // slices 0 and 1, beside the late baseline slice
}

// Each driver slice against the baseline slices beside it: a slice without
// intervals keeps the pairs in step, and one stalled slice moves the median
// of the pairs little where it moves the pooled p99 a lot.
TEST(WakeBaseline, SlicePairsSetEachDriverSliceAgainstItsNeighbours) {
    // One slice: 101 intervals, `late` of them `by` ms off the 2 ms period.
    auto slice = [](wake::Series& series, int late, double by) {
        std::vector<double> times = {0};
        for (int i = 0; i < 101; ++i) times.push_back(times.back() + 2 + (i < late ? by : 0));
        series.AddSlice(times.data(), times.size());
    };
    wake::Series baseline(2.0), driver(2.0);
    slice(baseline, 2, 1.0);   // p99 1.0 ms
    slice(driver, 2, 1.5);     // 1.5 against (1.0 + 1.0) / 2
    slice(baseline, 2, 1.0);
    driver.AddSlice(nullptr, 0);  // no intervals: no pair, the next stays in step
    slice(baseline, 2, 3.0);   // p99 3.0
    slice(driver, 2, 4.0);     // 4.0 against (3.0 + 1.0) / 2
    slice(baseline, 2, 1.0);
    slice(driver, 50, 20.0);   // a stall: 20 against 1.0
    EXPECT_DOUBLE_EQ(2.0, wake::PairedP99Ratio(driver, baseline));  // median of 1.5, 2, 20
    EXPECT_DOUBLE_EQ(20.0, driver.Deviation(0.99));                 // the pooled figure follows the stall
    EXPECT_DOUBLE_EQ(0.0, wake::PairedP99Ratio(driver, wake::Series(2.0)));
}

// Counts of small numbers: two clean slices are equal, one stall beside
// clean slices moves one pair, and the interval brackets the median.
TEST(WakeBaseline, PairedRatiosOfCountsTakeTheFloorAndCarryAnInterval) {
    wake::Series series(2.0);
    const double lossy[] = {0, 2, 4, 10};  // 6 periods owed, 4 wake-ups: 2 missed
    series.AddSlice(lossy, 4);
    ASSERT_EQ(1u, series.SliceMissedPer1000().size());
    EXPECT_NEAR(1000.0 * 2 / 6, series.SliceMissedPer1000()[0], 1e-9);
    EXPECT_DOUBLE_EQ(4.0, series.SliceMax()[0]);
    EXPECT_DOUBLE_EQ(4.0, series.SliceP999()[0]);
    series.AddSlice(lossy, 1);
    EXPECT_EQ(-1, series.SliceMissedPer1000()[1]);  // no figure, no pair

    std::vector<double> baseline(21, 0), driver(20, 0);
    driver[7] = 99;  // one stall
    wake::PairedFigure figure = wake::PairedRatio(driver, baseline, 1);
    EXPECT_EQ(20u, figure.pairs);
    EXPECT_DOUBLE_EQ(1.0, figure.median);
    EXPECT_DOUBLE_EQ(1.0, figure.low);
    EXPECT_DOUBLE_EQ(1.0, figure.high);
    // Without the floor a zero baseline gives no pair at all.
    EXPECT_EQ(0u, wake::PairedRatio(driver, baseline, 0).pairs);

    // Ratios spread from 1 to 3: the interval brackets the median, the same twice.
    std::vector<double> d, b(41, 1.0);
    for (int i = 0; i < 40; ++i) d.push_back(1.0 + (i % 5) * 0.5);
    figure = wake::PairedRatio(d, b, 0);
    EXPECT_DOUBLE_EQ(2.0, figure.median);
    EXPECT_LE(figure.low, figure.median);
    EXPECT_GE(figure.high, figure.median);
    EXPECT_LT(figure.low, figure.high);
    EXPECT_GE(figure.low, 1.0);
    EXPECT_LE(figure.high, 3.0);
    const wake::PairedFigure again = wake::PairedRatio(d, b, 0);
    EXPECT_EQ(figure.low, again.low);
    EXPECT_EQ(figure.high, again.high);
}

// The design-shaped chain, simplex and duplex: each wake-up held for the
// busy time before the packet goes back; held longer than a period, the
// wake-ups come no closer than the hold.
TEST(WakeBaseline, TheDesignChainWakesOncePerPeriodAndHoldsItsBusyTime) {
    for (bool duplex : {false, true}) {
        const wake::BaselineSlice slice = wake::RunDesignSlice(20.0, 300.0, 30.0, duplex);
        ASSERT_TRUE(slice.ran) << duplex;
        EXPECT_GE(slice.times.size(), 3u) << duplex;
        EXPECT_LE(slice.times.size(), 11u) << duplex;
        for (size_t i = 1; i < slice.times.size(); ++i) EXPECT_GE(slice.times[i] - slice.times[i - 1], 30.0) << i;
    }
}

TEST(WakeBaseline, AWaiterWokenLateServesEveryPeriodItsCompletionsHold) {
    // Two periods in, each direction's completions seen in a row (wait-any
    // reports the lowest handle first): two periods served, none lost; a
    // period lost would leave the device a packet short for good.
    wake::PendingPeriods duplex(true);
    duplex.Render();
    duplex.Render();
    EXPECT_FALSE(duplex.Take());
    duplex.Capture();
    EXPECT_TRUE(duplex.Take());
    EXPECT_FALSE(duplex.Take());
    duplex.Capture();
    EXPECT_TRUE(duplex.Take());
    EXPECT_FALSE(duplex.Take());
    wake::PendingPeriods simplex(false);
    simplex.Render();
    simplex.Render();
    EXPECT_TRUE(simplex.Take());
    EXPECT_TRUE(simplex.Take());
    EXPECT_FALSE(simplex.Take());
}

TEST(WakeBaseline, TheChainWakesOncePerPeriodInAscendingTime) {
    // 20 ms periods for 300 ms: about fifteen wake-ups, however busy the
    // machine; duplex, a period is one wake-up for its two completions.
    for (bool duplex : {false, true}) {
        const wake::BaselineSlice slice =
            duplex ? wake::RunDuplexBaselineSlice(20.0, 300.0) : wake::RunBaselineSlice(20.0, 300.0);
        ASSERT_TRUE(slice.ran) << duplex;
        EXPECT_GE(slice.times.size(), 5u) << duplex;
        EXPECT_LE(slice.times.size(), 15u) << duplex;
        for (size_t i = 1; i < slice.times.size(); ++i) EXPECT_LE(slice.times[i - 1], slice.times[i]);
        // With a packet ahead, the device runs dry only after a wake-up a whole period late.
        if (slice.worstLateMs < 20.0 - 2) {
            EXPECT_EQ(0u, slice.underruns) << slice.worstLateMs;
        }
    }
    EXPECT_TRUE(wake::RunBaselineSlice(0, 100).times.empty());
    EXPECT_FALSE(wake::RunBaselineSlice(20, 0).ran);
    // A device holds at least one packet, and no more than the chain keeps deadlines for.
    EXPECT_FALSE(wake::RunBaselineSlice(20, 100, 0).ran);
    EXPECT_FALSE(wake::RunBaselineSlice(20, 100, 64).ran);
    EXPECT_TRUE(wake::RunBaselineSlice(20, 60, 1).ran);
}

// A waiter that holds each completion longer than its one packet ahead
// covers leaves the device dry each time: the next packet starts a new grid a
// full period after it was handed back, so no wake-up comes sooner than hold
// + period after the one before (a fixed grid would have the next one due at
// once), and each hand-back counts as an underrun and the gap as missed periods.
TEST(WakeBaseline, AWaiterLaterThanItsPacketsRunsTheDeviceDryAndStartsANewGrid) {
    const double period = 10, hold = 40;
    const wake::BaselineSlice slice = wake::RunBaselineSlice(period, 600, 1, static_cast<uint32_t>(hold));
    ASSERT_TRUE(slice.ran);
    ASSERT_GE(slice.times.size(), 3u);
    EXPECT_LE(slice.times.size(), 13u);  // 600 ms / (hold + period), and the first
    for (size_t i = 1; i < slice.times.size(); ++i) {
        EXPECT_GE(slice.times[i] - slice.times[i - 1], hold + period - 1) << i;
    }
    EXPECT_GE(slice.underruns, slice.times.size() - 1);
    // Each underrun lasts at least the hold: the packet ran out when the completion came.
    EXPECT_GE(slice.dryMs, slice.underruns * (hold - 1));
    wake::Series series(period);
    series.AddSlice(slice.times.data(), slice.times.size());
    EXPECT_GE(series.Missed(), static_cast<int64_t>(3 * (slice.times.size() - 1)));
    EXPECT_EQ(static_cast<uint32_t>(slice.times.size() - 1), series.Late());
}

using DriverBaseline = DriverTest;

// The host's play --baseline stops and starts the stream between slices:
// every slice is a take of its own that plays the pattern from its first
// frame without a break, and the run is clean (a glitched run, which a busy
// machine can cause, is tried once more and both outputs are shown).
TEST_F(DriverBaseline, PlayAgainstTheBaselinePlaysEverySliceUnbroken) {
    device->config.burst = 0;
    PlayOptions options;
    options.rate = 48000;
    options.buffer = 960;  // 20 ms
    options.seconds = 1.5;  // two slices of each chain
    int code = -1;
    for (int attempt = 0; attempt < 2 && code != 0; ++attempt) {
        sim::ResetDevice();
        device->config.burst = 0;
        driver = Create();
        ASSERT_NE(nullptr, driver);
        code = PlayAgainstBaseline(driver, options);
        const sim::Stream& render = device->streams[0];
        for (int c = 0; c < 2; ++c) {
            EXPECT_EQ(1u, render.channel[c].locked) << c;
            EXPECT_EQ(0u, render.channel[c].breaks) << "attempt " << attempt << ", channel " << c;
            // A clean run had both driver slices (1 s and 0.5 s) reach the device, not just the first.
            if (code == 0) {
                EXPECT_GT(render.channel[c].frames, 60000u) << c;
            }
        }
        driver->Release();
        driver = nullptr;
    }
    EXPECT_EQ(0, code) << "glitched twice (see the outputs above)";

    for (bool duplex : {true, false}) {
        driver = Create();
        ASSERT_NE(nullptr, driver);
        PlayOptions refused = options;
        refused.duplex = duplex;
        refused.json = !duplex;
        EXPECT_EQ(2, PlayAgainstBaseline(driver, refused));
        driver->Release();
    }
    driver = nullptr;
}

}  // namespace
}  // namespace asiotest
