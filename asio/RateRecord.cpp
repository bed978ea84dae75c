#include "RateRecord.h"

#include "ModuleState.h"

#include "device/KsAudFilter.h"
#include "device/KsConstants.h"
#include "device/SharedTypes.h"

#include <ksmedia.h>

#include <cstring>

namespace {

CKsList<CKsPin>& PinsOf(CKsAudFilter* filter, int direction) {
    return direction == kRenderDirection ? filter->RenderSinkPins() : filter->CaptureSinkPins();
}

// The largest channel count of the pin's PCM ranges that hold width and rate; 0 when none does.
int32_t ChannelsFor(CKsAudPin& pin, int32_t width, int32_t rate) {
    int32_t channels = 0;
    bool supports = false;
    for (auto* entry = pin.AudioDataRanges().Head(); entry; entry = entry->next) {
        const KSDATARANGE_AUDIO& range = *entry->item;
        if (!IsEqualGUID(range.DataRange.SubFormat, kKsDataFormatSubtypePcm)) continue;
        if (static_cast<ULONG>(width) < range.MinimumBitsPerSample ||
            static_cast<ULONG>(width) > range.MaximumBitsPerSample) {
            continue;
        }
        if (static_cast<ULONG>(rate) < range.MinimumSampleFrequency ||
            static_cast<ULONG>(rate) > range.MaximumSampleFrequency) {
            continue;
        }
        supports = true;
        if (static_cast<int32_t>(range.MaximumChannels) > channels) channels = range.MaximumChannels;
    }
    return supports ? channels : -1;
}

// Far above any size getBufferSize announces; keeps every product in range.
constexpr int64_t kMaxBufferBytes = 0x10000000;
constexpr ULONG_PTR kStatusPending = 0x103;
constexpr DWORD kPacketSettleMs = 1000;

// Waits, within a bound, until no packet of the slot is still with the device.
// Only requests the device took count: one refused at once keeps the status
// the platform wrote before the call, which reads like a pending one.
bool WaitForPackets(const PinSlot& slot) {
    DWORD start = GetTickCount();
    for (;;) {
        bool pending = false;
        for (const StreamPacket& packet : slot.packets) {
            pending |= packet.header.Data && packet.queued && packet.overlapped.Internal == kStatusPending;
        }
        if (!pending) return true;
        if (GetTickCount() - start > kPacketSettleMs) return false;
        Sleep(1);
    }
}

bool OpenPin(PinSlot& slot, int32_t rate, int32_t width, int32_t channels) {
    WAVEFORMATEXTENSIBLE format = PinFormat(rate, width, channels);
    if (FAILED(slot.pin->SetFormat(&format.Format))) return false;
    if (FAILED(slot.pin->Instantiate(FALSE))) return false;
    slot.pin->Reset();
    return true;
}

}  // namespace

WAVEFORMATEXTENSIBLE PinFormat(int32_t rate, int32_t width, int32_t channels) {
    WAVEFORMATEXTENSIBLE f = {};
    f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    f.Format.nChannels = static_cast<WORD>(channels);
    f.Format.nSamplesPerSec = static_cast<DWORD>(rate);
    f.Format.wBitsPerSample = static_cast<WORD>(width);
    f.Format.nBlockAlign = static_cast<WORD>(channels * width / 8);
    f.Format.nAvgBytesPerSec = static_cast<DWORD>(rate) * f.Format.nBlockAlign;
    f.Format.cbSize = 22;
    f.Samples.wValidBitsPerSample = static_cast<WORD>(width);
    f.dwChannelMask = channels == 4 ? 0x33 : channels == 6 ? 0x3F : channels == 8 ? 0x63F : 0x3;
    f.SubFormat = kKsDataFormatSubtypePcm;
    return f;
}

void BuildRateRecords(RateRecord (&records)[9], CKsAudFilter* filter, int direction, int32_t width) {
    for (size_t i = 0; i < kRateCount; ++i) {
        RateRecord& record = records[i];
        record.valid = 0;
        record.rate = static_cast<int32_t>(kRateTable[i]);
        record.channelCount = 0;
        record.pinCount = 0;
        record.openedMask = 0;
        record.channelSlotCount = 0;
        if (!filter) {
            // No pins in this direction: every rate counts, with no channels.
            record.valid = 1;
            continue;
        }
        for (auto* entry = PinsOf(filter, direction).Head(); entry && record.pinCount < kMaxPinSlots;
             entry = entry->next) {
            auto* pin = static_cast<CKsAudPin*>(entry->item);
            int32_t channels = ChannelsFor(*pin, width, record.rate);
            if (channels < 0) continue;
            PinSlot& slot = record.pins[record.pinCount];
            slot.supportsRate = 1;
            slot.pin = pin;
            slot.maxChannels = channels;
            slot.inUse = slot.opened = slot.channelsOpened = slot.framesPerPacket = 0;
            for (StreamPacket& packet : slot.packets) {
                packet.header.Size = sizeof(KSSTREAM_HEADER);
                packet.header.PresentationTime.Numerator = 1;
                packet.header.PresentationTime.Denominator = 1;
            }
            for (int32_t c = 0; c < channels && record.channelSlotCount < kMaxChannelSlots; ++c) {
                ChannelSlot& channel = record.channels[record.channelSlotCount++];
                channel.present = 1;
                channel.active = 0;
                channel.index = c;
                channel.pinSlot = &slot;
                channel.length = channel.halfBytes = 0;
                channel.halves[0] = channel.halves[1] = nullptr;
                ++record.channelCount;
            }
            record.valid = 1;
            ++record.pinCount;
        }
    }
}

bool CreatePacketEvents(RateRecord (&records)[9]) {
    for (RateRecord& record : records) {
        for (PinSlot& slot : record.pins) {
            for (StreamPacket& packet : slot.packets) {
                if (packet.overlapped.hEvent) continue;
                packet.overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
                if (!packet.overlapped.hEvent) return false;
            }
        }
    }
    return true;
}

void ClosePacketEvents(RateRecord (&records)[9]) {
    for (RateRecord& record : records) {
        for (PinSlot& slot : record.pins) {
            for (StreamPacket& packet : slot.packets) {
                if (packet.overlapped.hEvent) CloseHandle(packet.overlapped.hEvent);
                packet.overlapped.hEvent = nullptr;
            }
        }
    }
}

RateRecord* RecordOfRate(RateRecord (&records)[9], int32_t rate) {
    for (RateRecord& record : records) {
        if (record.rate == rate) return &record;
    }
    return nullptr;
}

ChannelSlot* ChannelOf(RateRecord* record, int32_t channel) {
    if (!record || channel < 0 || channel >= record->channelSlotCount) return nullptr;
    return &record->channels[channel];
}

ASIOError AllocateBuffers(RateRecord& record, bool input, ASIOBufferInfo* infos, int32_t count, int32_t bufferSize,
                          int32_t width, bool dsd) {
    if (bufferSize <= 0 || width <= 0) return ASE_InvalidParameter;
    const int64_t halfBytes = dsd ? bufferSize / 8 : static_cast<int64_t>(bufferSize) * width / 8;
    if (halfBytes <= 0 || halfBytes > kMaxBufferBytes) return ASE_InvalidParameter;
    for (int32_t i = 0; i < count; ++i) {
        ASIOBufferInfo& info = infos[i];
        if ((info.isInput != ASIOFalse) != input) continue;
        ChannelSlot* channel = ChannelOf(&record, info.channelNum);
        if (!channel) return ASE_InvalidParameter;
        for (void*& half : channel->halves) {
            if (!half) half = DriverAlloc(static_cast<size_t>(halfBytes));
            if (!half) return ASE_NoMemory;
        }
        channel->halfBytes = static_cast<int32_t>(halfBytes);
        info.buffers[0] = channel->halves[0];
        info.buffers[1] = channel->halves[1];
        channel->length = dsd ? bufferSize / 32 : bufferSize;
        channel->active = 1;
        PinSlot& slot = *channel->pinSlot;
        slot.inUse = 1;
        if (slot.channelsOpened < channel->index + 1) slot.channelsOpened = channel->index + 1;
    }
    if (count == 0 && !input) {
        for (int32_t p = 0; p < record.pinCount; ++p) {
            record.pins[p].inUse = 1;
            if (record.pins[p].channelsOpened < 1) record.pins[p].channelsOpened = 1;
        }
    }

    // Open each pin in use; a pin that refuses the count may take a larger one.
    const int32_t pinWidth = dsd ? 32 : width;
    for (int32_t p = 0; p < record.pinCount; ++p) {
        PinSlot& slot = record.pins[p];
        if (!slot.inUse || slot.channelsOpened <= 0) continue;
        for (int32_t c = slot.channelsOpened; c <= slot.maxChannels; ++c) {
            if (OpenPin(slot, record.rate, pinWidth, c)) {
                slot.channelsOpened = c;
                slot.opened = 1;
                record.openedMask |= 1 << p;
                break;
            }
        }
    }

    // Packets of every pin in use, opened or not.
    const int32_t frames = dsd ? bufferSize / 32 : bufferSize;
    for (int32_t p = 0; p < record.pinCount; ++p) {
        PinSlot& slot = record.pins[p];
        if (!slot.inUse) continue;
        const int64_t bytes = static_cast<int64_t>(pinWidth) * slot.channelsOpened / 8 * frames;
        if (bytes > kMaxBufferBytes) return ASE_InvalidParameter;
        const ULONG extent = static_cast<ULONG>(bytes);
        slot.framesPerPacket = frames;
        for (StreamPacket& packet : slot.packets) {
            if (!packet.header.Data) packet.header.Data = DriverAlloc(extent);
            if (!packet.header.Data) return ASE_NoMemory;
            packet.header.FrameExtent = extent;
            packet.header.DataUsed = input ? 0 : extent;
        }
    }
    return ASE_OK;
}

void ReleaseBuffers(RateRecord& record) {
    for (int32_t p = 0; p < record.pinCount; ++p) {
        PinSlot& slot = record.pins[p];
        if (!slot.inUse) continue;
        // The device may still write into queued packets: cancel them and wait
        // before the pin closes and its memory goes.
        bool settled = true;
        if (slot.opened) {
            slot.pin->Reset();  // cancels what is queued, in whatever state the pin is
            settled = WaitForPackets(slot);
            slot.pin->ClosePin();
            settled = settled || WaitForPackets(slot);
        }
        for (StreamPacket& packet : slot.packets) {
            // A request the device never gave back keeps its buffer rather than have it reused.
            if (settled) DriverFree(packet.header.Data);
            packet.header.Data = nullptr;
            packet.queued = 0;
            packet.header.FrameExtent = 0;
            packet.header.DataUsed = 0;
        }
        slot.channelsOpened = 0;
        slot.framesPerPacket = 0;
        slot.opened = 0;
        slot.inUse = 0;
    }
    record.openedMask = 0;
    for (int32_t c = 0; c < record.channelSlotCount; ++c) {
        ChannelSlot& channel = record.channels[c];
        DriverFree(channel.halves[0]);
        DriverFree(channel.halves[1]);
        channel.halves[0] = channel.halves[1] = nullptr;
        channel.length = channel.halfBytes = 0;
        channel.active = 0;
    }
}
