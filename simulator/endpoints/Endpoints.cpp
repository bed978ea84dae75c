#include "simulator/endpoints/Endpoints.h"

#include "device/EndpointKeys.h"
#include "device/KsConstants.h"
#include "device/SupportedDevices.h"
#include "simulator/SimModel.h"

#include <mmreg.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace sim {

namespace {

constexpr DWORD kStereo = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;

const EndpointDesc kEndpoints[kEndpointCount] = {
    {eRender, false, L"{0.0.0.00000000}.{8f3c2a51-6e0d-4b7a-9c21-5d4e6f708192}", L"Speakers", kStereo, kStereo,
     {-65.25f, 0.0f, 0.75f}, -12.0f, 1, 4},
    {eCapture, false, L"{0.0.1.00000000}.{2b7e9d40-13c5-4f86-a0b2-c4d5e6f70811}", L"Microphone", kStereo, kStereo,
     {-12.0f, 30.0f, 0.75f}, 0.0f, 1, 5},
    {eRender, true, L"{0.0.0.00000000}.{c4a1e2f3-5b6d-4e7f-8a9b-0c1d2e3f4a51}", L"Speakers", kStereo, kStereo,
     {-100.0f, 0.0f, 0.5f}, -20.0f, 0, 4},
    {eCapture, true, L"{0.0.1.00000000}.{d5b2f3a4-6c7e-4f80-9bac-1d2e3f4a5b62}", L"Line In", kStereo, kStereo,
     {-24.0f, 24.0f, 0.5f}, 0.0f, 0, 5},
    {eCapture, true, L"{0.0.1.00000000}.{e6c3a4b5-7d8f-4091-acbd-2e3f4a5b6c73}", L"S/PDIF In", kStereo, kStereo,
     {-96.0f, 0.0f, 0.5f}, 0.0f, 0, 9},
};

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
        for (float& level : v.level) level = kEndpoints[i].initialLevel;
        WAVEFORMATEXTENSIBLE format = kEndpoints[i].ours ? PcmFormat(48000, 24) : PcmFormat(i ? 44100 : 48000, 16);
        static_assert(sizeof(format) == kFormatBlobBytes, "the device format is a 40-byte blob");
        std::memcpy(v.format[0], &format, sizeof(format));
        v.formatHeld[0] = 1;
    }
    e.initialized = 1;
}

void CountChange(EndpointValues& v, LPCGUID context) {
    ++v.changes;
    v.context = context ? *context : GUID_NULL;
}

float Clamp(float value, const LevelRange& range) {
    return value < range.minimum ? range.minimum : value > range.maximum ? range.maximum : value;
}

}  // namespace

const EndpointDesc& Endpoint(uint32_t index) { return kEndpoints[index < kEndpointCount ? index : 0]; }

int FindEndpoint(LPCWSTR id) {
    if (!id) return -1;
    for (uint32_t i = 0; i < kEndpointCount; ++i) {
        if (std::wcscmp(kEndpoints[i].id, id) == 0) return static_cast<int>(i);
    }
    return -1;
}

std::wstring EndpointFriendlyName(const SharedState& state, uint32_t index) {
    const EndpointDesc& d = Endpoint(index);
    wchar_t text[128];
    if (d.ours) {
        swprintf(text, 128, L"%ls (Velmor %ls)", d.description, state.config.model == kModelR5 ? L"R5" : L"R6");
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
    if (!state.endpoints.initialized) SetDefaults(state.endpoints);
    return state.endpoints;
}

bool EndpointActive(const SharedState& state, uint32_t index) {
    if (index >= kEndpointCount) return false;
    if (!kEndpoints[index].ours) return true;
    if (!state.present) return false;
    return index == kDeviceRender || state.config.model == kModelR6;
}

DWORD EndpointDeviceState(const SharedState& state, uint32_t index) {
    return EndpointActive(state, index) ? DEVICE_STATE_ACTIVE : DEVICE_STATE_NOTPRESENT;
}

HRESULT SetEndpointLevel(uint32_t index, UINT channel, float db, LPCGUID context) {
    SharedState* state = State();
    if (!state || index >= kEndpointCount) return E_FAIL;
    const LevelRange& range = kEndpoints[index].range;
    if (!(db >= range.minimum && db <= range.maximum)) return E_INVALIDARG;
    if (channel != ~0u && channel >= kEndpointChannels) return E_INVALIDARG;
    StateLock shared;
    EndpointValues& v = Endpoints(*state).endpoint[index];
    for (UINT ch = 0; ch < kEndpointChannels; ++ch) {
        if (channel == ~0u || channel == ch) v.level[ch] = db;
    }
    CountChange(v, context);
    return S_OK;
}

HRESULT SetEndpointMute(uint32_t index, BOOL mute, LPCGUID context) {
    SharedState* state = State();
    if (!state || index >= kEndpointCount) return E_FAIL;
    StateLock shared;
    EndpointValues& v = Endpoints(*state).endpoint[index];
    v.mute = mute ? 1 : 0;
    CountChange(v, context);
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
    const LevelRange& range = kEndpoints[kDeviceRender].range;
    for (float& level : v.level) level = Clamp(level + static_cast<float>(direction) * range.step, range);
    CountChange(v, nullptr);
}

void ResetEndpoints(SharedState& state) { SetDefaults(state.endpoints); }

int FormatKeyIndex(const PROPERTYKEY& key) {
    for (uint32_t i = 0; i < kFormatKeyCount; ++i) {
        if (SameKey(key, *kFormatKeys[i])) return static_cast<int>(i);
    }
    return -1;
}

const PROPERTYKEY& FormatKey(uint32_t index) { return *kFormatKeys[index < kFormatKeyCount ? index : 0]; }

}  // namespace sim
