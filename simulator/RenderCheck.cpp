#include "RenderCheck.h"

namespace sim {

namespace {

uint8_t MarkerOf(uint32_t value, unsigned bits) { return static_cast<uint8_t>(value >> (bits - 8)); }

bool IsDopMarker(uint8_t byte) { return byte == TestPattern::kDopMarkerEven || byte == TestPattern::kDopMarkerOdd; }

}  // namespace

void RenderCheck::Begin(unsigned channels, unsigned bits, bool dop, uint32_t leadPackets) {
    channels_ = channels < kMaxChannels ? channels : kMaxChannels;
    bits_ = bits;
    bytes_ = bits / 8;
    sampleBits_ = bits;
    dopFormat_ = dop && bits >= 24;
    dop_ = false;
    leadPackets_ = leadPackets;
    started_ = false;
    reanchor_ = false;
    packets_ = 0;
    frame_ = 0;
    leadFrames_ = 0;
    markerRun_ = false;
    for (Channel& channel : channel_) {
        channel.active = false;
        channel.run = kNone;
    }
}

void RenderCheck::Reanchor() {
    if (!started_) return;
    for (unsigned c = 0; c < channels_; ++c) {
        if (channel_[c].active) ++channel_[c].breaks;
        channel_[c].active = false;
        channel_[c].run = kNone;
    }
    reanchor_ = true;
}

// The first sound of a take (or after a change of mode) fixes the frame the
// pattern must continue from: frame 0 when any channel shows its own or
// another channel's frame 0, else what the first channel that sounds says.
void RenderCheck::Anchor(const uint8_t* frame, uint32_t index) {
    if (dopFormat_ && !reanchor_) {
        uint8_t marker = 0;
        bool dop = true;
        for (unsigned c = 0; c < channels_ && dop; ++c) {
            uint32_t value = TestPattern::Load(frame + c * bytes_, bytes_);
            if (value == 0) continue;
            uint8_t byte = MarkerOf(value, bits_);
            dop = IsDopMarker(byte) && (marker == 0 || byte == marker);
            marker = byte;
        }
        dop_ = dop && marker != 0;
        sampleBits_ = dop_ ? 16 : bits_;
    }
    const unsigned shift = dop_ ? bits_ - 24 : 0;
    bool zero = false;
    uint32_t first = 0;
    bool found = false;
    for (unsigned c = 0; c < channels_ && !zero; ++c) {
        uint32_t value = (TestPattern::Load(frame + c * bytes_, bytes_) >> shift) & TestPattern::Mask(sampleBits_);
        if (value == 0) continue;
        for (unsigned d = 0; d < channels_ && !zero; ++d) zero = value == TestPattern::Sample(d, 0, sampleBits_);
        if (!found) first = TestPattern::FrameOf(c, value, sampleBits_);
        found = true;
    }
    frame_ = zero ? 0 : first;
    if (!reanchor_) {
        ++takes_;
        firstFrame_ = static_cast<uint32_t>(frame_);
        if (frame_ != 0) ++startFaults_;
        if (index != 0 || packets_ != leadPackets_) ++leadFaults_;
    }
    started_ = true;
    reanchor_ = false;
}

void RenderCheck::Fault(unsigned c, uint32_t value) {
    Channel& ch = channel_[c];
    Run kind = kWrong;
    if (value == 0) {
        if (!ch.active) return;  // a slot not in use (yet)
        kind = kSilent;
    } else {
        for (unsigned d = 0; d < channels_; ++d) {
            if (d != c && value == TestPattern::Sample(d, frame_, sampleBits_)) kind = kChannel;
        }
    }
    ch.active = true;
    if (kind == kWrong) {
        const uint32_t at = TestPattern::FrameOf(c, value, sampleBits_);
        const bool follows = (ch.run == kWrong || ch.run == kOffset) &&
                             at == ((ch.wrongFrame + 1) & TestPattern::Mask(sampleBits_));
        ch.wrongFrame = at;
        if (follows) {
            if (ch.run == kWrong) ++ch.offsetFaults;
            ch.run = kOffset;
            return;
        }
        ++ch.breaks;
        ch.run = kWrong;
        return;
    }
    if (ch.run != kind) {
        ++ch.breaks;
        if (kind == kSilent) ++ch.gaps;
        if (kind == kChannel) ++ch.channelFaults;
    }
    ch.run = kind;
}

void RenderCheck::CheckFrame(const uint8_t* frame) {
    bool markerOff = false;
    for (unsigned c = 0; c < channels_; ++c) {
        const uint32_t value = TestPattern::Load(frame + c * bytes_, bytes_);
        const uint32_t expected = dop_ ? TestPattern::DopSample(c, frame_, bits_) : TestPattern::Sample(c, frame_, bits_);
        if (value == expected) {
            channel_[c].active = true;
            channel_[c].run = kNone;
            continue;
        }
        if (!dop_) {
            Fault(c, value);
            continue;
        }
        if (value != 0 && MarkerOf(value, bits_) != TestPattern::DopMarker(frame_)) markerOff = true;
        const uint32_t payload = (value >> (bits_ - 24)) & 0xFFFF;
        if (payload == TestPattern::Sample(c, frame_, 16) && value != 0) {
            channel_[c].active = true;
            channel_[c].run = kNone;
        } else {
            Fault(c, payload);
        }
    }
    if (markerOff && !markerRun_) ++markerFaults_;
    markerRun_ = markerOff;
    ++frame_;
}

void RenderCheck::Play(const uint8_t* data, uint32_t frames, uint32_t blockAlign) {
    for (uint32_t f = 0; f < frames; ++f) {
        const uint8_t* frame = data + static_cast<size_t>(f) * blockAlign;
        if (!started_ || reanchor_) {
            bool silent = true;
            for (unsigned i = 0; i < channels_ * bytes_ && silent; ++i) silent = frame[i] == 0;
            if (silent) {
                if (!started_) ++leadFrames_;
                continue;
            }
            Anchor(frame, f);
        }
        CheckFrame(frame);
    }
    ++packets_;
}

void RenderCheck::Publish(Stream& stream) {
    for (unsigned c = 0; c < channels_; ++c) {
        ChannelCounters& out = stream.channel[c];
        Channel& ch = channel_[c];
        out.breaks += ch.breaks;
        out.gaps += ch.gaps;
        out.channelFaults += ch.channelFaults;
        out.offsetFaults += ch.offsetFaults;
        out.locked = ch.active ? 1 : 0;
        ch.breaks = ch.gaps = ch.channelFaults = ch.offsetFaults = 0;
    }
    stream.takes += takes_;
    stream.startFaults += startFaults_;
    stream.leadFaults += leadFaults_;
    stream.markerFaults += markerFaults_;
    takes_ = startFaults_ = leadFaults_ = markerFaults_ = 0;
    stream.leadFrames = leadFrames_;
    stream.firstFrame = firstFrame_;
    stream.dop = dop_ ? 1 : 0;
}

}  // namespace sim
