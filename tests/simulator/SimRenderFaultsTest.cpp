// What the device hears of a take: each way a sender can get the audio wrong
// is caught and named, and a take played right names nothing.
#include "SimHarness.h"

#include "simulator/TestPattern.h"

#include <functional>
#include <memory>

namespace simtest {
namespace {

using SimRenderFaults = SimTest;

constexpr uint32_t kFrames = 441;
constexpr unsigned kLead = sim::kDefaultLeadPackets;

// Writes one packet's frames: sample (c, first + f) of a sender's stream.
using Writer = std::function<uint32_t(unsigned c, uint64_t frame)>;

uint32_t OnPattern(unsigned c, uint64_t frame) { return TestPattern::Sample(c, frame, 24); }

struct Take {
    PinFormat format;
    unsigned silentPackets = kLead;
    uint64_t firstFrame = 0;  // the first frame the sender plays
    int packets = 4;
    Writer sample = OnPattern;
    // Called after a packet was submitted, before it completes (the device is paused).
    std::function<void(std::vector<BYTE>&)> afterSubmit;
};

// Plays a take on a fresh render pin and returns the device's record of it.
sim::Stream Play(HANDLE filter, const Take& take) {
    HANDLE pin = nullptr;
    EXPECT_EQ(DWORD(0), CreatePin(filter, 0, take.format, &pin));
    StepTo(pin, KSSTATE_STOP, KSSTATE_PAUSE);
    const unsigned bytes = take.format.bits / 8;
    const unsigned channels = take.format.channels;
    std::vector<std::unique_ptr<Packet>> packets;
    uint64_t frame = take.firstFrame;
    for (unsigned i = 0; i < take.silentPackets + take.packets; ++i) {
        packets.push_back(std::make_unique<Packet>(kFrames * channels * bytes));
        Packet& packet = *packets.back();
        if (i >= take.silentPackets) {
            for (uint32_t f = 0; f < kFrames; ++f, ++frame) {
                for (unsigned c = 0; c < channels; ++c) {
                    TestPattern::Store(&packet.data[(f * channels + c) * bytes], take.sample(c, frame), bytes);
                }
            }
        }
        EXPECT_EQ(DWORD(ERROR_IO_PENDING), packet.Queue(pin, true));
        if (take.afterSubmit && i == take.silentPackets) take.afterSubmit(packet.data);
    }
    EXPECT_EQ(DWORD(0), SetState(pin, KSSTATE_RUN));
    for (auto& packet : packets) EXPECT_TRUE(packet->Wait(5000));
    sim::Stream stream = sim::State()->streams[0];
    StepTo(pin, KSSTATE_RUN, KSSTATE_STOP);
    Api().CloseHandle(pin);
    return stream;
}

uint64_t Sum(const sim::Stream& s, uint64_t sim::ChannelCounters::*field) {
    uint64_t total = 0;
    for (unsigned c = 0; c < s.channels; ++c) total += s.channel[c].*field;
    return total;
}

// Every named count of a stream, so a case can say which ones it expects.
struct Faults {
    uint64_t breaks, gaps, channel, offset, start, lead, changed, marker;
    explicit Faults(const sim::Stream& s)
        : breaks(Sum(s, &sim::ChannelCounters::breaks)), gaps(Sum(s, &sim::ChannelCounters::gaps)),
          channel(Sum(s, &sim::ChannelCounters::channelFaults)), offset(Sum(s, &sim::ChannelCounters::offsetFaults)),
          start(s.startFaults), lead(s.leadFaults), changed(s.changedPackets), marker(s.markerFaults) {}
    Faults(uint64_t b, uint64_t g, uint64_t ch, uint64_t o, uint64_t st, uint64_t l, uint64_t cp, uint64_t m)
        : breaks(b), gaps(g), channel(ch), offset(o), start(st), lead(l), changed(cp), marker(m) {}
    bool operator==(const Faults& o) const {
        return breaks == o.breaks && gaps == o.gaps && channel == o.channel && offset == o.offset && start == o.start &&
               lead == o.lead && changed == o.changed && marker == o.marker;
    }
};

std::ostream& operator<<(std::ostream& out, const Faults& f) {
    return out << "breaks " << f.breaks << " gaps " << f.gaps << " channel " << f.channel << " offset " << f.offset
               << " start " << f.start << " lead " << f.lead << " changed " << f.changed << " marker " << f.marker;
}

TEST_F(SimRenderFaults, EachSenderFaultIsCaughtAndNamed) {
    state->config.burst = 1;
    HANDLE filter = OpenFilter();
    PinFormat pcm;
    pcm.rate = 44100;
    const Faults none(0, 0, 0, 0, 0, 0, 0, 0);

    // Right: two silent packets, then frame 0 on, every channel its own pattern.
    Take right;
    right.format = pcm;
    sim::Stream clean = Play(filter, right);
    EXPECT_EQ(none, Faults(clean));
    EXPECT_EQ(1u, clean.takes);
    EXPECT_EQ(uint64_t(kLead) * kFrames, clean.leadFrames);
    EXPECT_EQ(1u, clean.channel[0].locked & clean.channel[1].locked);

    // Left and right swapped, and left copied into right.
    Take swapped = right;
    swapped.sample = [](unsigned c, uint64_t n) { return OnPattern(1 - c, n); };
    EXPECT_EQ(Faults(2, 0, 2, 0, 0, 0, 0, 0), Faults(Play(filter, swapped)));
    Take doubled = right;
    doubled.sample = [](unsigned, uint64_t n) { return OnPattern(0, n); };
    EXPECT_EQ(Faults(1, 0, 1, 0, 0, 0, 0, 0), Faults(Play(filter, doubled)));

    // Right skewed three frames behind left: silent, then its own pattern late.
    Take skewed = right;
    skewed.sample = [](unsigned c, uint64_t n) { return c == 0 ? OnPattern(0, n) : n < 3 ? 0 : OnPattern(1, n - 3); };
    EXPECT_EQ(Faults(1, 0, 0, 1, 0, 0, 0, 0), Faults(Play(filter, skewed)));

    // The first period lost (the take starts one packet into the pattern), one
    // period of latency too many, and a take that starts inside a packet.
    Take late = right;
    late.firstFrame = kFrames;
    EXPECT_EQ(Faults(0, 0, 0, 0, 1, 0, 0, 0), Faults(Play(filter, late)));
    Take extra = right;
    extra.silentPackets = kLead + 1;
    EXPECT_EQ(Faults(0, 0, 0, 0, 0, 1, 0, 0), Faults(Play(filter, extra)));
    Take ragged = right;
    ragged.sample = [](unsigned c, uint64_t n) { return n < 10 ? 0 : OnPattern(c, n - 10); };
    EXPECT_EQ(Faults(0, 0, 0, 0, 0, 1, 0, 0), Faults(Play(filter, ragged)));

    // A gap of silence in the middle, and a slot carrying noise instead of silence.
    Take gap = right;
    gap.sample = [](unsigned c, uint64_t n) { return n >= 500 && n < 600 ? 0 : OnPattern(c, n); };
    EXPECT_EQ(Faults(2, 2, 0, 0, 0, 0, 0, 0), Faults(Play(filter, gap)));
    Take noisy = right;
    noisy.sample = [](unsigned c, uint64_t n) { return c == 0 ? OnPattern(0, n) : (n % 97 == 5 ? 0x123456u : 0u); };
    EXPECT_GE(Faults(Play(filter, noisy)).breaks, 10u);

    // A packet written to after it was submitted: the device heard what was
    // submitted, and says the buffer changed.
    Take changed = right;
    changed.afterSubmit = [](std::vector<BYTE>& data) { data[7] ^= 0xFF; };
    EXPECT_EQ(Faults(0, 0, 0, 0, 0, 0, 1, 0), Faults(Play(filter, changed)));

    // DSD over PCM: markers alternate on every frame, the payload on the pattern.
    Take dop = right;
    dop.format.rate = 176400;
    dop.sample = [](unsigned c, uint64_t n) { return TestPattern::DopSample(c, n, 24); };
    sim::Stream dsd = Play(filter, dop);
    EXPECT_EQ(none, Faults(dsd));
    EXPECT_EQ(1u, dsd.dop);
    Take badMarker = dop;
    badMarker.sample = [](unsigned c, uint64_t n) {
        uint32_t v = TestPattern::DopSample(c, n, 24);
        return n == 700 ? (v & 0xFFFFu) | 0xAA0000u : v;
    };
    EXPECT_EQ(Faults(0, 0, 0, 0, 0, 0, 0, 1), Faults(Play(filter, badMarker)));
    Take dop32 = dop;
    dop32.format.bits = 32;
    dop32.format.rate = 352800;
    dop32.sample = [](unsigned c, uint64_t n) { return TestPattern::DopSample(c, n, 32); };
    EXPECT_EQ(none, Faults(Play(filter, dop32)));
    Api().CloseHandle(filter);
}

// Every channel's pattern differs from every other's at every width, so no
// channel can pass for a shifted copy of another.
TEST_F(SimRenderFaults, NoChannelsPatternIsAnotherShiftedInTime) {
    for (unsigned bits : {16u, 24u, 32u}) {
        for (unsigned c = 0; c < sim::kMaxChannels; ++c) {
            for (unsigned d = 0; d < sim::kMaxChannels; ++d) {
                if (c == d) continue;
                // Were d's samples c's shifted by k frames, consecutive frames would follow on.
                const uint32_t k0 = TestPattern::FrameOf(c, TestPattern::Sample(d, 0, bits), bits);
                const uint32_t k1 = TestPattern::FrameOf(c, TestPattern::Sample(d, 1, bits), bits);
                EXPECT_NE((k0 + 1) & TestPattern::Mask(bits), k1) << bits << " " << c << " " << d;
            }
        }
    }
}

}  // namespace
}  // namespace simtest
