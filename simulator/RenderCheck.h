// What the device makes of the render data of one take (RUN after STOP, to
// the next STOP): it must begin with whole packets of silence, exactly the
// lead-in the driver queues, and then frame 0 of the test pattern on every
// channel in use, each channel on its own pattern, frame after frame. Every
// departure is counted by name:
//   break    a run of samples off the pattern (any kind below counts one too)
//   gap      a run of silence after the channel began
//   channel  a run of samples that belong to another channel at this frame
//   offset   a run that follows the channel's pattern but at other frames
//            (a channel skewed against the others, a period lost or doubled)
//   start    a take whose first sound is not frame 0 (a lost first period,
//            a take resumed where the last one stopped)
//   lead     a take whose sound begins after more or less silence than the
//            lead-in, or inside a packet
//   marker   in DSD over PCM, a frame whose marker bytes do not alternate
// A channel that stays silent is an unused slot and passes; one that carries
// anything but its own pattern does not.
#pragma once

#include "SimState.h"
#include "TestPattern.h"

#include <cstdint>

namespace sim {

class RenderCheck {
public:
    // A new take on a pin of this many channels and container bits; dop when
    // the format can carry DSD over PCM (24 or 32 bits at 176400 or 352800 Hz).
    void Begin(unsigned channels, unsigned bits, bool dop, uint32_t leadPackets);
    // The device read data in another mode (PCM or DSD) from here on: what
    // follows does not continue the pattern; it is a break, then a new anchor.
    void Reanchor();
    // One packet of frames, blockAlign bytes each.
    void Play(const uint8_t* data, uint32_t frames, uint32_t blockAlign);
    // Adds the counts since the last Publish into the pin's stream record.
    void Publish(Stream& stream);

private:
    enum Run : uint8_t { kNone, kSilent, kChannel, kWrong, kOffset };
    struct Channel {
        bool active = false;      // carried sound in this take
        Run run = kNone;
        uint32_t wrongFrame = 0;  // frame the last off-pattern sample stood for
        uint64_t breaks = 0, gaps = 0, channelFaults = 0, offsetFaults = 0;
    };

    void Anchor(const uint8_t* frame, uint32_t index);
    void CheckFrame(const uint8_t* frame);
    void Fault(unsigned c, uint32_t value);

    unsigned channels_ = 0;
    unsigned bits_ = 0;          // container bits
    unsigned sampleBits_ = 0;    // bits the pattern is compared at (16 in DSD over PCM)
    unsigned bytes_ = 0;
    bool dopFormat_ = false;
    bool dop_ = false;           // this take carries DSD over PCM
    uint32_t leadPackets_ = 0;
    bool started_ = false;
    bool reanchor_ = false;
    uint64_t packets_ = 0;       // packets of this take
    uint64_t frame_ = 0;         // pattern frame of the next frame, once started
    uint64_t leadFrames_ = 0;    // silent frames before the sound
    uint8_t marker_ = 0;         // marker expected next (DSD over PCM)
    bool markerRun_ = false;
    Channel channel_[kMaxChannels];
    uint64_t takes_ = 0, startFaults_ = 0, leadFaults_ = 0, markerFaults_ = 0;
    uint32_t firstFrame_ = 0;    // pattern frame the last take began with
};

}  // namespace sim
