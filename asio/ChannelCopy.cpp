#include "ChannelCopy.h"

#include "PacketCopy.h"

namespace {

// Channel pointers of one pin, by channel index within the pin; pins wider
// than this are copied a channel at a time.
constexpr int32_t kMaxPinChannels = kMaxChannelSlots;

bool ChannelOnPin(const ChannelSlot& channel, const PinSlot& slot, int half) {
    return channel.pinSlot == &slot && channel.halves[half] && channel.index >= 0 &&
           channel.index < slot.channelsOpened && channel.length > 0;
}

// `frames` is what the packet holds; it ends up what every channel can take.
// `copy` gets (offset into the packet, stride, channel pointers, channel
// count, frames, scan results of those channels).
template <typename Pointer, typename Copy>
void CopyPin(RateRecord& record, PinSlot& slot, int half, int32_t width, int32_t frames, int8_t* markers, Copy copy) {
    const int32_t stride = slot.channelsOpened * width;
    bool found[kMaxPinChannels];
    if (slot.channelsOpened <= kMaxPinChannels) {
        Pointer channels[kMaxPinChannels] = {};
        for (int32_t c = 0; c < record.channelSlotCount; ++c) {
            ChannelSlot& channel = record.channels[c];
            if (!ChannelOnPin(channel, slot, half)) continue;
            channels[channel.index] = static_cast<Pointer>(channel.halves[half]);
            if (channel.length < frames) frames = channel.length;
        }
        copy(0, stride, channels, slot.channelsOpened, frames, markers && frames > 0 ? found : nullptr);
        for (int32_t c = 0; markers && frames > 0 && c < record.channelSlotCount; ++c) {
            const ChannelSlot& channel = record.channels[c];
            if (ChannelOnPin(channel, slot, half)) markers[c] = found[channel.index] ? 1 : 0;
        }
        return;
    }
    for (int32_t c = 0; c < record.channelSlotCount; ++c) {
        ChannelSlot& channel = record.channels[c];
        if (!ChannelOnPin(channel, slot, half)) continue;
        Pointer one[1] = {static_cast<Pointer>(channel.halves[half])};
        const int32_t count = frames < channel.length ? frames : channel.length;
        copy(channel.index * width, stride, one, 1, count, markers && count > 0 ? found : nullptr);
        if (markers && count > 0) markers[c] = found[0] ? 1 : 0;
    }
}

}  // namespace

void CopyHalfToPackets(RateRecord& record, int ring, int half, int32_t width, int8_t* markers) {
    for (int32_t c = 0; markers && c < record.channelSlotCount && c < kMaxChannelSlots; ++c) markers[c] = -1;
    for (int32_t p = 0; p < record.pinCount && p < kMaxPinSlots; ++p) {
        PinSlot& slot = record.pins[p];
        KSSTREAM_HEADER& header = slot.packets[ring].header;
        if (!slot.opened || slot.channelsOpened <= 0 || header.FrameExtent == 0 || !header.Data) continue;
        const auto frames = static_cast<int32_t>(header.FrameExtent / static_cast<ULONG>(slot.channelsOpened * width));
        auto* data = static_cast<uint8_t*>(header.Data);
        CopyPin<const uint8_t*>(record, slot, half, width, frames, markers,
                                [&](int32_t offset, int32_t stride, const uint8_t* const* sources, int32_t channels,
                                    int32_t count, bool* found) {
                                    packet_copy::Interleave(data + offset, stride, sources, channels, width, count,
                                                            found);
                                });
    }
}

void CopyPacketsToHalf(RateRecord& record, int ring, int32_t width) {
    const int half = ring % 2;
    for (int32_t p = 0; p < record.pinCount && p < kMaxPinSlots; ++p) {
        PinSlot& slot = record.pins[p];
        const KSSTREAM_HEADER& header = slot.packets[ring].header;
        if (!slot.opened || slot.channelsOpened <= 0 || header.DataUsed == 0 || !header.Data) continue;
        // Never past the packet, whatever the device reported.
        const ULONG used = header.DataUsed < header.FrameExtent ? header.DataUsed : header.FrameExtent;
        const auto frames = static_cast<int32_t>(used / static_cast<ULONG>(slot.channelsOpened * width));
        const auto* data = static_cast<const uint8_t*>(header.Data);
        CopyPin<uint8_t*>(record, slot, half, width, frames, nullptr,
                          [&](int32_t offset, int32_t stride, uint8_t* const* destinations, int32_t channels,
                              int32_t count, bool*) {
                              packet_copy::Deinterleave(data + offset, stride, destinations, channels, width, count);
                          });
    }
}
