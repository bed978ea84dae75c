#include "simulator/endpoints/Endpoints.h"

#include "device/EndpointKeys.h"
#include "device/KsConstants.h"
#include "device/SupportedDevices.h"
#include "simulator/SimModel.h"

#include <mmreg.h>

#include <audioclient.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace sim {

namespace {

constexpr DWORD kStereo = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;

const EndpointDesc kBaseEndpoints[kBaseEndpointCount] = {
    {eRender, false, L"{0.0.0.00000000}.{8f3c2a51-6e0d-4b7a-9c21-5d4e6f708192}", L"Speakers", kStereo, kStereo,
     {-65.25f, 0.0f, 0.75f}, -12.0f, 1, 4, kForeignRender, 0},
    {eCapture, false, L"{0.0.1.00000000}.{2b7e9d40-13c5-4f86-a0b2-c4d5e6f70811}", L"Microphone", kStereo, kStereo,
     {-12.0f, 30.0f, 0.75f}, 0.0f, 1, 5, kForeignCapture, 0},
    {eRender, true, L"{0.0.0.00000000}.{c4a1e2f3-5b6d-4e7f-8a9b-0c1d2e3f4a51}", L"Speakers", kStereo, kStereo,
     {-100.0f, 0.0f, 0.5f}, -20.0f, 0, 4, kDeviceRender, 0},
    {eCapture, true, L"{0.0.1.00000000}.{d5b2f3a4-6c7e-4f80-9bac-1d2e3f4a5b62}", L"Line In", kStereo, kStereo,
     {-24.0f, 24.0f, 0.5f}, 0.0f, 0, 5, kDeviceLineIn, 0},
    {eCapture, true, L"{0.0.1.00000000}.{e6c3a4b5-7d8f-4091-acbd-2e3f4a5b6c73}", L"S/PDIF In", kStereo, kStereo,
     {-96.0f, 0.0f, 0.5f}, 0.0f, 0, 9, kDeviceSpdifIn, 0},
};

// The base endpoints, then the extra ones: copies of the device's render
// and S/PDIF endpoints with ids and names of their own.
struct EndpointTable {
    EndpointDesc desc[kEndpointCount];
    wchar_t ids[2 * kExtraEndpointsPerFlow][64];

    EndpointTable() {
        for (uint32_t i = 0; i < kBaseEndpointCount; ++i) desc[i] = kBaseEndpoints[i];
        for (uint32_t n = 0; n < 2 * kExtraEndpointsPerFlow; ++n) {
            const bool render = n < kExtraEndpointsPerFlow;
            const uint32_t twin = render ? kDeviceRender : kDeviceSpdifIn;
            swprintf(ids[n], 64, L"{0.0.%u.00000000}.{f7d4b5c6-8e90-41a2-bdce-3f4a5b6c7d%02x}", render ? 0u : 1u, n);
            EndpointDesc& d = desc[kBaseEndpointCount + n];
            d = kBaseEndpoints[twin];
            d.id = ids[n];
            d.number = n % kExtraEndpointsPerFlow + 2;
        }
    }
};

const EndpointTable& Table() {
    static const EndpointTable table;
    return table;
}

const PROPERTYKEY* const kFormatKeys[kFormatKeyCount] = {&kKeyDeviceFormat, &kKeyEngineFloatFormat,
                                                          &kKeyEngineFloatFormat8a, &kKeyEngineFloatFormat8b};

const wchar_t kForeignAdapter[] = L"High Definition Audio Device";
const wchar_t kForeignInstance[] = L"{1}.HDAUDIO\\FUNC_01&VEN_10EC&DEV_0887&SUBSYS_10438445&REV_1003\\4&1E3C2B5&0&0001";

WAVEFORMATEXTENSIBLE PcmFormat(DWORD rate, WORD bits) {
    WAVEFORMATEXTENSIBLE f = {};
    f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    f.Format.nChannels = 2;
    f.Format.nSamplesPerSec = rate;
    f.Format.wBitsPerSample = bits;
    f.Format.nBlockAlign = static_cast<WORD>(2 * bits / 8);
    f.Format.nAvgBytesPerSec = f.Format.nBlockAlign * rate;
    f.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    f.Samples.wValidBitsPerSample = bits;
    f.dwChannelMask = kStereo;
    f.SubFormat = kKsDataFormatSubtypePcm;
    return f;
}

void SetDefaults(EndpointsState& e) {
    std::memset(&e, 0, sizeof(e));
    e.muxSelection = kLineInFeedId;
    for (uint32_t i = 0; i < kEndpointCount; ++i) {
        EndpointValues& v = e.endpoint[i];
        const EndpointDesc& d = Endpoint(i);
        for (uint32_t ch = 0; ch < kEndpointChannels; ++ch) {
            v.range[ch] = d.range;
            v.level[ch] = d.initialLevel;
        }
        WAVEFORMATEXTENSIBLE format = d.ours ? PcmFormat(48000, 24) : PcmFormat(i ? 44100 : 48000, 16);
        static_assert(sizeof(format) == kFormatBlobBytes, "the device format is a 40-byte blob");
        std::memcpy(v.format[0], &format, sizeof(format));
        v.formatHeld[0] = 1;
    }
    e.arrivalMs = kDefaultArrivalMs;
    e.initialized = 1;
}

// A device that was there from the start has its endpoints at once.
void SetDefaults(SharedState& state) {
    SetDefaults(state.endpoints);
    state.endpoints.seenPresent = state.present;
    state.endpoints.seenGeneration = state.generation;
}

// Each change is one notice, with the values it left.
void CountChange(EndpointsState& e, uint32_t index, LPCGUID context) {
    EndpointValues& v = e.endpoint[index];
    ++v.changes;
    v.context = context ? *context : GUID_NULL;
    VolumeChange& c = e.volumeRing[e.volumeSequence % kChangeRing];
    c.endpoint = index;
    c.mute = v.mute;
    for (uint32_t ch = 0; ch < kEndpointChannels; ++ch) {
        c.level[ch] = v.level[ch];
        c.range[ch] = v.range[ch];
    }
    c.context = v.context;
    ++e.volumeSequence;
}

// How long the device has been seen present, stamped by whoever looks first
// after it appeared (the endpoint watch looks every few milliseconds).
uint64_t PresentForMs(const SharedState& seen) {
    auto& state = const_cast<SharedState&>(seen);  // callers hold the state lock
    EndpointsState& e = state.endpoints;
    const uint64_t now = NowFileTime();
    if (!state.present) {
        e.seenPresent = 0;
        return 0;
    }
    if (!e.seenPresent || e.seenGeneration != state.generation) {
        e.seenPresent = 1;
        e.seenGeneration = state.generation;
        e.arrivalTime = now;
    }
    return now > e.arrivalTime ? (now - e.arrivalTime) / 10000 : 0;
}

// Fractions of a step below this count as on the step (float levels).
constexpr double kOnStep = 1e-3;

bool ValidRange(const LevelRange& r) {
    if (!(r.minimum < r.maximum) || !(r.step > 0) || r.step > r.maximum - r.minimum) return false;
    double steps = (static_cast<double>(r.maximum) - r.minimum) / r.step;
    return std::fabs(steps - std::floor(steps + 0.5)) < kOnStep && steps <= 100000;
}

bool IsExtra(uint32_t index) { return index >= kBaseEndpointCount && index < kEndpointCount; }

}  // namespace

const EndpointDesc& Endpoint(uint32_t index) { return Table().desc[index < kEndpointCount ? index : 0]; }

int FindEndpoint(LPCWSTR id) {
    if (!id) return -1;
    for (uint32_t i = 0; i < kEndpointCount; ++i) {
        if (std::wcscmp(Endpoint(i).id, id) == 0) return static_cast<int>(i);
    }
    return -1;
}

float SnapLevel(float db, const LevelRange& r) {
    if (!(db > r.minimum)) return r.minimum;
    if (!(db < r.maximum)) return r.maximum;
    if (!(r.step > 0)) return db;
    double steps = (static_cast<double>(db) - r.minimum) / r.step;
    double below = std::floor(steps);
    if (steps - below > 1 - kOnStep) below += 1;
    double lower = r.minimum + below * r.step;
    if (std::fabs(steps - below) < kOnStep) return static_cast<float>(lower);
    double upper = lower + r.step;
    if (upper > r.maximum) upper = r.maximum;
    // Between two steps a control holds the one with the greater effect on the signal.
    return static_cast<float>(std::fabs(upper) > std::fabs(lower) ? upper : lower);
}

LevelRange CombinedRange(const EndpointValues& v) {
    LevelRange r = v.range[0];
    for (uint32_t ch = 1; ch < kEndpointChannels; ++ch) {
        if (v.range[ch].minimum < r.minimum) r.minimum = v.range[ch].minimum;
        if (v.range[ch].maximum > r.maximum) r.maximum = v.range[ch].maximum;
        if (v.range[ch].step < r.step) r.step = v.range[ch].step;
    }
    return r;
}

std::wstring EndpointFriendlyName(const SharedState& state, uint32_t index) {
    const EndpointDesc& d = Endpoint(index);
    wchar_t text[128];
    const wchar_t* model = state.config.model == kModelR5 ? L"R5" : L"R6";
    if (d.number) {
        swprintf(text, 128, L"%ls %u (Velmor %ls)", d.description, d.number, model);
    } else if (d.ours) {
        swprintf(text, 128, L"%ls (Velmor %ls)", d.description, model);
    } else {
        swprintf(text, 128, L"%ls (%ls)", d.description, kForeignAdapter);
    }
    return text;
}

std::wstring EndpointInstance(const SharedState& state, uint32_t index) {
    if (!Endpoint(index).ours) return kForeignInstance;
    wchar_t text[128];
    swprintf(text, 128, L"{1}.USB\\Vid_%04x&Pid_%04x&Mi_%02x\\7&2a1f3c7&0&0001", kVelmorVendorId,
             ProductId(state.config), kVelmorAudioInterface);
    return text;
}

EndpointsState& Endpoints(SharedState& state) {
    if (!state.endpoints.initialized) SetDefaults(state);
    return state.endpoints;
}

bool EndpointListed(const SharedState& state, uint32_t index) {
    if (index >= kEndpointCount) return false;
    return !IsExtra(index) || state.endpoints.topology == kTopologyMany;
}

bool EndpointActive(const SharedState& state, uint32_t index) {
    return EndpointDeviceState(state, index) == DEVICE_STATE_ACTIVE;
}

DWORD EndpointDeviceState(const SharedState& state, uint32_t index) {
    if (!EndpointListed(state, index)) return DEVICE_STATE_NOTPRESENT;
    const EndpointDesc& d = Endpoint(index);
    if (d.ours) {
        // The device's endpoints exist with it: gone with a removal, and
        // after an arrival there one after another, behind its interfaces.
        if (!state.present) return DEVICE_STATE_NOTPRESENT;
        if (d.flow == eRender ? state.endpoints.topology == kTopologyCaptureOnly : state.config.model != kModelR6) {
            return DEVICE_STATE_NOTPRESENT;
        }
        const uint64_t due = state.endpoints.arrivalMs +
                             static_cast<uint64_t>(index - kDeviceRender) * state.endpoints.arrivalSpacingMs;
        if (PresentForMs(state) < due) return DEVICE_STATE_NOTPRESENT;
    }
    switch (state.endpoints.userState[index]) {
        case kUserDisabled: return DEVICE_STATE_DISABLED;
        case kUserUnplugged: return DEVICE_STATE_UNPLUGGED;
        default: return DEVICE_STATE_ACTIVE;
    }
}

HRESULT SetEndpointUserState(uint32_t index, EndpointUserState userState) {
    SharedState* state = State();
    if (!state || index >= kEndpointCount) return E_FAIL;
    if (userState > kUserUnplugged) return E_INVALIDARG;
    StateLock shared;
    Endpoints(*state).userState[index] = userState;
    return S_OK;
}

void NotePropertyChange(EndpointsState& e, uint32_t index, uint32_t key) {
    e.propertyRing[e.propertySequence % kChangeRing] = {index, key};
    ++e.propertySequence;
}

HRESULT SetEndpointLevel(uint32_t index, UINT channel, float db, LPCGUID context, OutOfRange outside) {
    SharedState* state = State();
    if (!state || index >= kEndpointCount) return E_FAIL;
    if (channel != ~0u && channel >= kEndpointChannels) return E_INVALIDARG;
    if (db != db) return E_INVALIDARG;  // not a number
    StateLock shared;
    EndpointValues& v = Endpoints(*state).endpoint[index];
    if (outside == OutOfRange::Refuse) {
        // The endpoint volume checks against the range it reports for the endpoint.
        LevelRange r = channel == ~0u ? CombinedRange(v) : v.range[channel];
        if (!(db >= r.minimum && db <= r.maximum)) return E_INVALIDARG;
    }
    for (UINT ch = 0; ch < kEndpointChannels; ++ch) {
        if (channel == ~0u || channel == ch) v.level[ch] = SnapLevel(db, v.range[ch]);
    }
    CountChange(Endpoints(*state), index, context);
    return S_OK;
}

HRESULT SetEndpointRange(uint32_t index, UINT channel, const LevelRange& range) {
    SharedState* state = State();
    if (!state || index >= kEndpointCount) return E_FAIL;
    if ((channel != ~0u && channel >= kEndpointChannels) || !ValidRange(range)) return E_INVALIDARG;
    StateLock shared;
    EndpointValues& v = Endpoints(*state).endpoint[index];
    for (UINT ch = 0; ch < kEndpointChannels; ++ch) {
        if (channel != ~0u && channel != ch) continue;
        v.range[ch] = range;
        v.level[ch] = SnapLevel(v.level[ch], range);
    }
    CountChange(Endpoints(*state), index, nullptr);
    return S_OK;
}

HRESULT SetEndpointMute(uint32_t index, BOOL mute, LPCGUID context) {
    SharedState* state = State();
    if (!state || index >= kEndpointCount) return E_FAIL;
    StateLock shared;
    EndpointValues& v = Endpoints(*state).endpoint[index];
    v.mute = mute ? 1 : 0;
    CountChange(Endpoints(*state), index, context);
    return S_OK;
}

HRESULT SetRecordSelection(UINT localId) {
    SharedState* state = State();
    if (!state) return E_FAIL;
    if (localId != kLineInFeedId && localId != kSpdifInFeedId) return E_INVALIDARG;
    StateLock shared;
    EndpointsState& e = Endpoints(*state);
    e.muxSelection = localId;
    ++e.muxChanges;
    return S_OK;
}

bool ReadEndpoint(uint32_t index, EndpointValues& values, bool* active) {
    SharedState* state = State();
    if (!state || index >= kEndpointCount) return false;
    StateLock shared;
    values = Endpoints(*state).endpoint[index];
    if (active) *active = EndpointActive(*state, index);
    return true;
}

void StepRenderLevel(SharedState& state, int direction) {
    EndpointValues& v = Endpoints(state).endpoint[kDeviceRender];
    for (uint32_t ch = 0; ch < kEndpointChannels; ++ch) {
        const LevelRange& range = v.range[ch];
        v.level[ch] = SnapLevel(v.level[ch] + static_cast<float>(direction) * range.step, range);
    }
    CountChange(Endpoints(state), kDeviceRender, nullptr);
}

void ResetEndpoints(SharedState& state) { SetDefaults(state); }

int FormatKeyIndex(const PROPERTYKEY& key) {
    for (uint32_t i = 0; i < kFormatKeyCount; ++i) {
        if (SameKey(key, *kFormatKeys[i])) return static_cast<int>(i);
    }
    return -1;
}

const PROPERTYKEY& FormatKey(uint32_t index) { return *kFormatKeys[index < kFormatKeyCount ? index : 0]; }

HRESULT CheckFormatBlob(const SharedState& state, uint32_t index, uint32_t key, const BYTE* blob, ULONG bytes) {
    if (!blob || bytes < sizeof(WAVEFORMATEX) || bytes > kFormatBlobBytes) return E_INVALIDARG;
    WAVEFORMATEXTENSIBLE f = {};
    std::memcpy(&f, blob, bytes);
    const WAVEFORMATEX& w = f.Format;
    if (bytes != sizeof(WAVEFORMATEX) + w.cbSize) return E_INVALIDARG;
    bool pcm = w.wFormatTag == WAVE_FORMAT_PCM;
    bool ieee = w.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    if (w.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        if (bytes != sizeof(WAVEFORMATEXTENSIBLE)) return E_INVALIDARG;
        pcm = IsEqualGUID(f.SubFormat, kKsDataFormatSubtypePcm) != 0;
        ieee = IsEqualGUID(f.SubFormat, kKsDataFormatSubtypeIeeeFloat) != 0;
        if (f.Samples.wValidBitsPerSample == 0 || f.Samples.wValidBitsPerSample > w.wBitsPerSample) return E_INVALIDARG;
        if (f.dwChannelMask && f.dwChannelMask != kStereo) return AUDCLNT_E_UNSUPPORTED_FORMAT;
    }
    // The frame's layout must add up before anything else is asked.
    if (w.nChannels == 0 || w.wBitsPerSample == 0 || w.wBitsPerSample % 8 || w.nSamplesPerSec == 0) return E_INVALIDARG;
    if (w.nBlockAlign != w.nChannels * (w.wBitsPerSample / 8)) return E_INVALIDARG;
    if (w.nAvgBytesPerSec != static_cast<DWORD>(w.nBlockAlign) * w.nSamplesPerSec) return E_INVALIDARG;
    if (!pcm && !ieee) return AUDCLNT_E_UNSUPPORTED_FORMAT;
    if (w.nChannels != 2) return AUDCLNT_E_UNSUPPORTED_FORMAT;
    // The engine's keys hold the float form; the device format is what the device plays.
    if (key != 0) return ieee && w.wBitsPerSample == 32 ? S_OK : AUDCLNT_E_UNSUPPORTED_FORMAT;
    if (!pcm) return AUDCLNT_E_UNSUPPORTED_FORMAT;
    if (!Endpoint(index).ours) return S_OK;
    const uint32_t maxBits = state.config.maxBits == 16 || state.config.maxBits == 24 ? state.config.maxBits : 32;
    if (!IsDeviceRate(w.nSamplesPerSec) || w.wBitsPerSample < 16 || w.wBitsPerSample > maxBits) {
        return AUDCLNT_E_UNSUPPORTED_FORMAT;
    }
    return S_OK;
}

WAVEFORMATEXTENSIBLE MixFormat(const SharedState& state, uint32_t index) {
    WAVEFORMATEXTENSIBLE device = {};
    const EndpointValues& v = state.endpoints.endpoint[index < kEndpointCount ? index : 0];
    std::memcpy(&device, v.format[0], sizeof(device));
    WAVEFORMATEXTENSIBLE mix = PcmFormat(device.Format.nSamplesPerSec ? device.Format.nSamplesPerSec : 48000, 32);
    mix.SubFormat = kKsDataFormatSubtypeIeeeFloat;
    return mix;
}

}  // namespace sim
