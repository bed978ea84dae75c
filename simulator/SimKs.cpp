#include "SimKs.h"

#include "SimDevice.h"
#include "SimGuids.h"
#include "device/SupportedDevices.h"

#include <mmsystem.h>
#include <mmreg.h>
#include <ksmedia.h>

#include <cstring>
#include <vector>

namespace sim {

namespace {

constexpr ULONG kPinCInstances = 0;
constexpr ULONG kPinCTypes = 1;
constexpr ULONG kPinDataFlow = 2;
constexpr ULONG kPinDataRanges = 3;
constexpr ULONG kPinInterfaces = 5;
constexpr ULONG kPinMediums = 6;
constexpr ULONG kPinCommunication = 7;
constexpr ULONG kPinGlobalCInstances = 8;
constexpr ULONG kPinNecessaryInstances = 9;
constexpr ULONG kPinCategory = 11;
constexpr ULONG kPinName = 12;
constexpr ULONG kTopologyCategories = 0;
constexpr ULONG kTopologyNodes = 1;
constexpr ULONG kTopologyConnections = 2;
constexpr ULONG kConnectionState = 0;
constexpr int64_t kUsbFrameMicroseconds = 1000;


constexpr LONG kStatusPending = 0x103;
constexpr LONG kStatusCancelled = static_cast<LONG>(0xC0000120);

// A property value: the reply protocol of kernel streaming. No output buffer
// is a size query ("more data" and the size); a short one is refused.
DWORD Reply(const void* data, DWORD size, void* out, DWORD outSize, DWORD& returned) {
    if (outSize == 0) {
        returned = size;
        return ERROR_MORE_DATA;
    }
    if (!out) return ERROR_NOACCESS;
    if (outSize < size) {
        returned = 0;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(out, data, size);
    returned = size;
    return ERROR_SUCCESS;
}

template <typename T>
DWORD ReplyValue(const T& value, void* out, DWORD outSize, DWORD& returned) {
    return Reply(&value, sizeof(value), out, outSize, returned);
}

// {Size, Count} followed by the items.
template <typename T>
DWORD ReplyMulti(const std::vector<T>& items, void* out, DWORD outSize, DWORD& returned) {
    std::vector<BYTE> buffer(sizeof(KSMULTIPLE_ITEM) + items.size() * sizeof(T));
    auto* header = reinterpret_cast<KSMULTIPLE_ITEM*>(buffer.data());
    header->Size = static_cast<ULONG>(buffer.size());
    header->Count = static_cast<ULONG>(items.size());
    if (!items.empty()) std::memcpy(buffer.data() + sizeof(KSMULTIPLE_ITEM), items.data(), items.size() * sizeof(T));
    return Reply(buffer.data(), static_cast<DWORD>(buffer.size()), out, outSize, returned);
}

KSIDENTIFIER Identifier(const GUID& set, ULONG id) {
    KSIDENTIFIER identifier = {};
    identifier.Set = set;
    identifier.Id = id;
    return identifier;
}

std::vector<KSDATARANGE_AUDIO> DataRanges(const PinDesc& pin) {
    KSDATARANGE_AUDIO range = {};
    range.DataRange.FormatSize = sizeof(KSDATARANGE_AUDIO);
    range.DataRange.MajorFormat = kFormatTypeAudio;
    if (pin.Streaming()) {
        range.DataRange.SubFormat = kSubtypePcm;
        range.DataRange.Specifier = kSpecifierWaveFormatEx;
        range.MaximumChannels = pin.channels;
        range.MinimumBitsPerSample = pin.minBits;
        range.MaximumBitsPerSample = pin.maxBits;
        range.MinimumSampleFrequency = pin.minRate;
        range.MaximumSampleFrequency = pin.maxRate;
    } else {
        range.DataRange.SubFormat = kSubtypeAnalog;
        range.DataRange.Specifier = kSpecifierNone;
    }
    return {range};
}

uint32_t CurrentInstances(ULONG pinId) {
    SharedState* state = State();
    if (!state || pinId >= kMaxPins) return 0;
    const Stream& stream = state->streams[pinId];
    return stream.open && ProcessAlive(stream.ownerPid) ? 1 : 0;
}

DWORD PinProperty(const Config& config, const KSPROPERTY* property, DWORD inSize, void* out, DWORD outSize,
                  DWORD& returned) {
    if (property->Id == kPinCTypes) return ReplyValue(PinCount(config), out, outSize, returned);
    if (inSize < sizeof(KSP_PIN)) return ERROR_INVALID_USER_BUFFER;
    ULONG pinId = reinterpret_cast<const KSP_PIN*>(property)->PinId;
    if (pinId >= PinCount(config)) return ERROR_INVALID_PARAMETER;
    PinDesc pin = Pin(config, pinId);
    switch (property->Id) {
    case kPinCInstances:
    case kPinGlobalCInstances: {
        KSPIN_CINSTANCES instances = {pin.Streaming() ? 1u : 0u, CurrentInstances(pinId)};
        return ReplyValue(instances, out, outSize, returned);
    }
    case kPinNecessaryInstances: return ReplyValue(ULONG(0), out, outSize, returned);
    case kPinDataFlow: return ReplyValue(pin.dataFlow, out, outSize, returned);
    case kPinCommunication: return ReplyValue(pin.communication, out, outSize, returned);
    case kPinInterfaces:
        return ReplyMulti(std::vector<KSIDENTIFIER>{Identifier(kInterfaceStandard, 0)}, out, outSize, returned);
    case kPinMediums:
        return ReplyMulti(std::vector<KSIDENTIFIER>{Identifier(kMediumStandard, 0)}, out, outSize, returned);
    case kPinDataRanges: return ReplyMulti(DataRanges(pin), out, outSize, returned);
    case kPinCategory: return ReplyValue(pin.category, out, outSize, returned);
    case kPinName:
        return Reply(pin.name, static_cast<DWORD>((wcslen(pin.name) + 1) * sizeof(wchar_t)), out, outSize, returned);
    default: return ERROR_NOT_FOUND;
    }
}

DWORD TopologyProperty(const Config& config, const KSPROPERTY* property, void* out, DWORD outSize,
                       DWORD& returned) {
    switch (property->Id) {
    case kTopologyCategories: {
        std::vector<GUID> categories = {kCategoryAudio, kCategoryRender};
        if (config.model != kModelR5) categories.push_back(kCategoryCapture);
        return ReplyMulti(categories, out, outSize, returned);
    }
    case kTopologyNodes: return ReplyMulti(TopologyNodes(config), out, outSize, returned);
    case kTopologyConnections: return ReplyMulti(std::vector<KSTOPOLOGY_CONNECTION>{}, out, outSize, returned);
    default: return ERROR_NOT_FOUND;
    }
}

DWORD VendorProperty(const Config& config, const KSPROPERTY* property, void* out, DWORD outSize,
                     DWORD& returned) {
    if (property->Id != kVendorStatusId) return ERROR_NOT_FOUND;
    BYTE reply[72];
    VendorStatus(reply);
    DWORD length = config.vendorReplyLength < sizeof(reply) ? config.vendorReplyLength : sizeof(reply);
    if (outSize == 0) {
        returned = length;
        return ERROR_MORE_DATA;
    }
    if (!out) return ERROR_NOACCESS;
    // The device sends what it has; a larger buffer is not filled further.
    DWORD copied = outSize < length ? outSize : length;
    std::memcpy(out, reply, copied);
    returned = copied;
    return outSize < length ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

bool SameIdentifier(const KSIDENTIFIER& id, const GUID& set, ULONG value) {
    return SameGuid(id.Set, set) && id.Id == value;
}

DWORD CheckFormat(const Config& config, const PinDesc& pin, const KSDATAFORMAT* format, ULONG& rate,
                  ULONG& bits, ULONG& validBits, ULONG& channels, ULONG& blockAlign, ULONG& channelMask) {
    if (format->FormatSize < sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX)) return ERROR_INVALID_PARAMETER;
    if (!SameGuid(format->MajorFormat, kFormatTypeAudio) || !SameGuid(format->Specifier, kSpecifierWaveFormatEx) ||
        !SameGuid(format->SubFormat, kSubtypePcm)) {
        return ERROR_NO_MATCH;
    }
    const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(format + 1);
    validBits = wave->wBitsPerSample;
    if (wave->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        if (wave->cbSize < 22 || format->FormatSize < sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX) + 22) {
            return ERROR_INVALID_PARAMETER;
        }
        const auto* extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(wave);
        if (!SameGuid(extensible->SubFormat, kSubtypePcm)) return ERROR_NO_MATCH;
        validBits = extensible->Samples.wValidBitsPerSample;
        channelMask = extensible->dwChannelMask;
        // One speaker position per channel, or none at all (direct out).
        unsigned positions = 0;
        for (DWORD mask = channelMask; mask; mask &= mask - 1) ++positions;
        if (channelMask != 0 && positions != wave->nChannels) {
            return ERROR_NO_MATCH;
        }
    } else if (wave->wFormatTag != WAVE_FORMAT_PCM) {
        return ERROR_NO_MATCH;
    } else if (wave->nChannels > 2 || wave->wBitsPerSample > 16) {
        // The plain form describes at most stereo 16-bit audio; more needs the extensible form.
        return ERROR_NO_MATCH;
    }
    channels = wave->nChannels;
    bits = wave->wBitsPerSample;
    rate = wave->nSamplesPerSec;
    if (channels == 0 || channels > pin.channels) return ERROR_NO_MATCH;
    if (channels < 32 && (config.refuseChannelMask >> channels) & 1) return ERROR_NO_MATCH;
    if ((bits != 16 && bits != 24 && bits != 32) || bits < pin.minBits || bits > pin.maxBits) return ERROR_NO_MATCH;
    if (validBits == 0 || validBits > bits) return ERROR_NO_MATCH;
    if (!IsDeviceRate(rate) || rate < pin.minRate || rate > pin.maxRate) return ERROR_NO_MATCH;
    blockAlign = channels * bits / 8;
    if (wave->nBlockAlign != blockAlign || wave->nAvgBytesPerSec != rate * blockAlign) return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

bool CarriesDop(const PinInstance& pin) {
    return !pin.desc.Capture() && pin.bits >= 24 && (pin.rate == 176400 || pin.rate == 352800);
}

void BeginTake(PinInstance& pin) {
    SharedState* state = State();
    pin.check.Begin(pin.channels, pin.bits, CarriesDop(pin), state ? state->config.leadPackets : kDefaultLeadPackets);
}

// One oscillator clocks the device's streams and it serves them per USB
// frame: a pin set running within a frame of another pin's last completion at
// the same rate starts on that pin's grid, so the two complete together.
int64_t SharedGridStart(const PinInstance& pin, int64_t now) {
    const int64_t frame = kUsbFrameMicroseconds * TicksPerSecond() / 1000000;
    const int64_t first = pin.count ? pin.queue[pin.head].duration : 0;
    int64_t start = now;
    ForEachPin([&](Object& object) {
        const PinInstance& other = *object.pin;
        if (&other == &pin || !other.running || other.rate != pin.rate || other.chainTime > now) return;
        if (now - other.chainTime < frame && other.chainTime + first > now) start = other.chainTime;
    });
    return start;
}

// One step of STOP, ACQUIRE, PAUSE, RUN (or back).
void EnterState(PinInstance& pin, ULONG next) {
    pin.state = next;
    if (next == KSSTATE_RUN) {
        pin.running = true;
        pin.chainTime = SharedGridStart(pin, Now());
        pin.starved = pin.count == 0;
        if (pin.count) pin.headDeadline = pin.chainTime + pin.queue[pin.head].duration;
    } else {
        pin.running = false;
    }
    if (next == KSSTATE_STOP) {
        CancelAll(pin, kStatusCancelled);
        BeginTake(pin);
        pin.captureFrame = 0;
    }
    SharedState* state = State();
    if (state && pin.pinId < kMaxPins) {
        state->streams[pin.pinId].state = next;
        state->streams[pin.pinId].starved = 0;
    }
    WakeClock();
}

DWORD SetState(PinInstance& pin, ULONG next) {
    if (next > KSSTATE_RUN) return ERROR_INVALID_PARAMETER;
    // Like the platform's class drivers, a jump (RUN to STOP, say) passes
    // through every state between.
    while (pin.state != next) EnterState(pin, pin.state < next ? pin.state + 1 : pin.state - 1);
    return ERROR_SUCCESS;
}

DWORD QueueStream(PinInstance& pin, bool write, void* out, DWORD outSize, OVERLAPPED* overlapped) {
    if (write == pin.desc.Capture()) return ERROR_INVALID_FUNCTION;
    if (!overlapped) return ERROR_INVALID_PARAMETER;
    if (!out || outSize < sizeof(KSSTREAM_HEADER)) return ERROR_INVALID_USER_BUFFER;
    auto* header = static_cast<KSSTREAM_HEADER*>(out);
    // One header per request.
    if (header->Size < sizeof(KSSTREAM_HEADER) || header->Size != outSize) return ERROR_INVALID_PARAMETER;
    if (header->FrameExtent && !header->Data) return ERROR_INVALID_USER_BUFFER;
    if (write && header->DataUsed > header->FrameExtent) return ERROR_INVALID_PARAMETER;
    SharedState* state = State();
    if (write && header->DataUsed % pin.blockAlign != 0) {
        // Part of a frame cannot be played: the request is refused and counted.
        if (state && pin.pinId < kMaxPins) ++state->streams[pin.pinId].partialPackets;
        return ERROR_INVALID_PARAMETER;
    }
    if (pin.state == KSSTATE_STOP) return ERROR_BAD_COMMAND;
    if (pin.flushing) return ERROR_NOT_READY;
    if (pin.count == kPacketQueueSize) return ERROR_NO_SYSTEM_RESOURCES;

    ULONG bytes = write ? header->DataUsed : header->FrameExtent;
    Packet packet = {header, overlapped, bytes / pin.blockAlign, 0, write ? bytes : 0};
    packet.duration = static_cast<int64_t>(packet.frames) * TicksPerSecond() / pin.rate;
    overlapped->Internal = kStatusPending;
    overlapped->InternalHigh = 0;
    const uint32_t slot = (pin.head + pin.count) % kPacketQueueSize;
    if (write) {
        std::vector<uint8_t>& taken = pin.taken[slot];
        if (taken.size() < bytes) taken.resize(bytes);  // grows once; kept for the pin's life
        if (bytes) std::memcpy(taken.data(), header->Data, bytes);
    }
    pin.queue[slot] = packet;
    ++pin.count;
    if (pin.running && pin.count == 1) {
        int64_t now = Now();
        if (pin.dry && now > pin.chainTime && state && pin.pinId < kMaxPins) {
            state->streams[pin.pinId].dryMicroseconds +=
                static_cast<uint64_t>((now - pin.chainTime) * 1000000 / TicksPerSecond());
        }
        if (pin.starved || pin.chainTime < now) pin.chainTime = now;
        pin.starved = false;
        pin.dry = false;
        pin.headDeadline = pin.chainTime + packet.duration;
    }
    if (state && pin.pinId < kMaxPins) {
        ++state->streams[pin.pinId].queued;
        state->streams[pin.pinId].starved = 0;
    }
    // Behind a playing packet the clock's next deadline stays as it is: a
    // wake would only cost the sender a round trip and the clock a turn.
    const bool behind = pin.running && pin.count > 1 && !pin.stalled && !(state && state->config.burst);
    if (!behind) WakeClock();
    return ERROR_IO_PENDING;
}

}  // namespace

void VendorStatus(BYTE (&reply)[72]) {
    std::memset(reply, 0, sizeof(reply));
    SharedState* state = State();
    if (!state) return;
    ActOnDueReports(*state);
    ULONG words[18] = {};
    words[0] = sizeof(reply);
    words[1] = kVelmorVendorId;
    words[2] = ProductId(state->config);
    words[3] = 0x0107;  // firmware version
    words[4] = state->config.fullSpeed ? 1 : 2;
    words[5] = state->dsdMode;
    const Stream& render = state->streams[0];
    if (render.open && render.state == KSSTATE_RUN) {
        words[8] = 1;
        words[9] = render.channels;
        if (render.dsd) {
            words[10] = render.dsd * 44100;
            words[11] = 1;
        } else {
            words[10] = render.rate;
            words[11] = render.validBits;
        }
        words[12] = static_cast<ULONG>(render.channel[0].frames);
        words[13] = static_cast<ULONG>(render.underruns);
    }
    std::memcpy(reply, words, sizeof(reply));
}

DWORD FilterProperty(Object& filter, const KSPROPERTY* property, DWORD inSize, void* out, DWORD outSize,
                     DWORD& returned) {
    returned = 0;
    SharedState* state = State();
    if (!state) return ERROR_DEVICE_NOT_CONNECTED;
    (void)filter;
    Config config = state->config;
    if (SameGuid(property->Set, kVendorSet1) || SameGuid(property->Set, kVendorSet2)) {
        if (config.refuseFirstVendorSet && SameGuid(property->Set, kVendorSet1)) return ERROR_SET_NOT_FOUND;
        if (property->Flags != KSPROPERTY_TYPE_GET) return ERROR_INVALID_FUNCTION;
        return VendorProperty(config, property, out, outSize, returned);
    }
    bool pinSet = SameGuid(property->Set, kPropSetPin);
    bool topologySet = SameGuid(property->Set, kPropSetTopology);
    if (!pinSet && !topologySet) return ERROR_SET_NOT_FOUND;
    if (property->Flags != KSPROPERTY_TYPE_GET) return ERROR_INVALID_FUNCTION;  // read-only sets
    if (pinSet) return PinProperty(config, property, inSize, out, outSize, returned);
    return TopologyProperty(config, property, out, outSize, returned);
}

DWORD PinRequest(Object& object, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD& returned,
                 OVERLAPPED* overlapped) {
    returned = 0;
    PinInstance& pin = *object.pin;
    switch (code) {
    case kIoctlKsProperty: {
        if (!in || inSize < sizeof(KSPROPERTY)) return ERROR_INVALID_USER_BUFFER;
        const auto* property = static_cast<const KSPROPERTY*>(in);
        if (!SameGuid(property->Set, kPropSetConnection)) return ERROR_SET_NOT_FOUND;
        if (property->Id != kConnectionState) return ERROR_NOT_FOUND;
        if (property->Flags == KSPROPERTY_TYPE_GET) return ReplyValue(pin.state, out, outSize, returned);
        if (property->Flags != KSPROPERTY_TYPE_SET) return ERROR_INVALID_FUNCTION;
        if (!out || outSize < sizeof(KSSTATE)) return ERROR_INVALID_USER_BUFFER;
        return SetState(pin, *static_cast<const ULONG*>(out));
    }
    case kIoctlKsResetState: {
        if (!in || inSize < sizeof(ULONG)) return ERROR_INVALID_USER_BUFFER;
        ULONG reset = *static_cast<const ULONG*>(in);
        if (reset == KSRESET_BEGIN) {
            pin.flushing = true;
            CancelAll(pin, kStatusCancelled);
        } else if (reset == KSRESET_END) {
            pin.flushing = false;
        } else {
            return ERROR_INVALID_PARAMETER;
        }
        return ERROR_SUCCESS;
    }
    case kIoctlKsWriteStream: return QueueStream(pin, true, out, outSize, overlapped);
    case kIoctlKsReadStream: return QueueStream(pin, false, out, outSize, overlapped);
    default: return ERROR_INVALID_FUNCTION;
    }
}

DWORD CreatePin(HANDLE filterHandle, const KSPIN_CONNECT* connect, HANDLE* pinHandle) {
    if (!connect || !pinHandle) return ERROR_INVALID_PARAMETER;
    SharedState* state = State();
    uint32_t generation = 0;
    {
        LocalLock lock;
        Object* filter = FindObject(filterHandle);
        if (!filter || filter->kind != Kind::Filter) return ERROR_INVALID_HANDLE;
        if (IsRemoved(*filter)) return ERROR_DEVICE_NOT_CONNECTED;
        generation = filter->generation;
    }
    Config config = state->config;
    if (connect->PinId >= PinCount(config)) return ERROR_INVALID_PARAMETER;
    PinDesc desc = Pin(config, connect->PinId);
    if (!desc.Streaming()) return ERROR_NOT_SUPPORTED;
    if (connect->PinToHandle) return ERROR_INVALID_PARAMETER;
    if (!SameIdentifier(connect->Interface, kInterfaceStandard, KSINTERFACE_STANDARD_STREAMING) ||
        !SameIdentifier(connect->Medium, kMediumStandard, KSMEDIUM_TYPE_ANYINSTANCE)) {
        return ERROR_NO_MATCH;
    }
    auto* pin = new PinInstance;
    pin->pinId = connect->PinId;
    pin->desc = desc;
    const auto* format = reinterpret_cast<const KSDATAFORMAT*>(connect + 1);
    ULONG channelMask = 0;
    DWORD error = CheckFormat(config, desc, format, pin->rate, pin->bits, pin->validBits, pin->channels,
                              pin->blockAlign, channelMask);
    if (error != ERROR_SUCCESS) {
        delete pin;
        return error;
    }
    BeginTake(*pin);
    // One instance per pin, across every process.
    {
        StateLock shared;
        Stream& stream = state->streams[pin->pinId];
        if (stream.open && ProcessAlive(stream.ownerPid)) {
            delete pin;
            return ERROR_NO_SYSTEM_RESOURCES;
        }
        std::memset(&stream, 0, sizeof(stream));
        stream.open = 1;
        stream.ownerPid = GetCurrentProcessId();
        stream.capture = desc.Capture() ? 1 : 0;
        stream.rate = pin->rate;
        stream.bits = pin->bits;
        stream.validBits = pin->validBits;
        stream.channels = pin->channels;
        stream.channelMask = channelMask;
    }
    auto* object = new Object{Kind::Pin, generation, true, 0, 0, false, pin};
    HANDLE handle = AddObject(object);
    if (!handle) {
        StateLock shared;
        state->streams[connect->PinId].open = 0;
        return ERROR_NO_SYSTEM_RESOURCES;
    }
    *pinHandle = handle;
    return ERROR_SUCCESS;
}

}  // namespace sim
