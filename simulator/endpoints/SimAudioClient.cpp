// IAudioClient of the virtual endpoints, as far as a program asks it about
// formats: IsFormatSupported in both share modes, the mix format and the
// device period. No stream is ever opened through it.
#include "simulator/endpoints/ComBase.h"
#include "simulator/endpoints/EndpointObjects.h"
#include "simulator/endpoints/Endpoints.h"

#include "device/KsConstants.h"

#include <cstring>
#include <new>

namespace sim {

namespace {

constexpr REFERENCE_TIME kDefaultPeriod = 100000;  // 10 ms in 100 ns units
constexpr REFERENCE_TIME kMinimumPeriod = 30000;

// A copy in task memory, as callers free it.
WAVEFORMATEX* TaskFormat(const WAVEFORMATEXTENSIBLE& format) {
    auto* copy = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof(format)));
    if (copy) std::memcpy(copy, &format, sizeof(format));
    return copy;
}

// The size the format says it has, up to the extensible form.
ULONG FormatBytes(const WAVEFORMATEX& format) {
    if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) return sizeof(WAVEFORMATEXTENSIBLE);
    return sizeof(WAVEFORMATEX) + (format.cbSize <= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX) ? format.cbSize : 0);
}

class AudioClient : public ComObject<IAudioClient> {
public:
    AudioClient(uint32_t endpoint, uint32_t generation) : endpoint_(endpoint), generation_(generation) {}

    // Exclusive mode asks the device what it plays; shared mode asks the
    // engine, which takes a stream only at its mix format's rate and channel
    // count and otherwise names the mix format as the closest match.
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX* format,
                                                WAVEFORMATEX** closest) override {
        if (mode != AUDCLNT_SHAREMODE_SHARED && mode != AUDCLNT_SHAREMODE_EXCLUSIVE) return E_INVALIDARG;
        if (!format || (mode == AUDCLNT_SHAREMODE_SHARED && !closest)) return E_POINTER;
        if (closest) *closest = nullptr;
        if (!EndpointAlive(endpoint_, generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
        SharedState* state = State();
        if (!state) return E_FAIL;
        const ULONG bytes = FormatBytes(*format);
        WAVEFORMATEXTENSIBLE mix;
        HRESULT hr;
        {
            StateLock shared;
            mix = MixFormat(*state, endpoint_);
            // Key 0 checks what the device plays, key 1 the float form the engine mixes in.
            hr = CheckFormatBlob(*state, endpoint_, 0, reinterpret_cast<const BYTE*>(format), bytes);
            if (mode == AUDCLNT_SHAREMODE_SHARED && FAILED(hr)) {
                hr = CheckFormatBlob(*state, endpoint_, 1, reinterpret_cast<const BYTE*>(format), bytes);
            }
        }
        if (FAILED(hr)) return AUDCLNT_E_UNSUPPORTED_FORMAT;
        if (mode == AUDCLNT_SHAREMODE_EXCLUSIVE) return S_OK;
        if (format->nSamplesPerSec == mix.Format.nSamplesPerSec && format->nChannels == mix.Format.nChannels) {
            return S_OK;
        }
        *closest = TaskFormat(mix);
        return *closest ? S_FALSE : E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override {
        if (!format) return E_POINTER;
        *format = nullptr;
        if (!EndpointAlive(endpoint_, generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
        SharedState* state = State();
        if (!state) return E_FAIL;
        WAVEFORMATEXTENSIBLE mix;
        {
            StateLock shared;
            mix = MixFormat(*state, endpoint_);
        }
        *format = TaskFormat(mix);
        return *format ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimumPeriod) override {
        if (!defaultPeriod && !minimumPeriod) return E_POINTER;
        if (!EndpointAlive(endpoint_, generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
        if (defaultPeriod) *defaultPeriod = kDefaultPeriod;
        if (minimumPeriod) *minimumPeriod = kMinimumPeriod;
        return S_OK;
    }

    // The virtual endpoints carry no stream of their own.
    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE, DWORD, REFERENCE_TIME, REFERENCE_TIME, const WAVEFORMATEX*,
                                         LPCGUID) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32*) override { return AUDCLNT_E_NOT_INITIALIZED; }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) override { return AUDCLNT_E_NOT_INITIALIZED; }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32*) override { return AUDCLNT_E_NOT_INITIALIZED; }
    HRESULT STDMETHODCALLTYPE Start() override { return AUDCLNT_E_NOT_INITIALIZED; }
    HRESULT STDMETHODCALLTYPE Stop() override { return AUDCLNT_E_NOT_INITIALIZED; }
    HRESULT STDMETHODCALLTYPE Reset() override { return AUDCLNT_E_NOT_INITIALIZED; }
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE) override { return AUDCLNT_E_NOT_INITIALIZED; }
    HRESULT STDMETHODCALLTYPE GetService(REFIID, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        return AUDCLNT_E_NOT_INITIALIZED;
    }

private:
    uint32_t endpoint_;
    uint32_t generation_;
};

}  // namespace

HRESULT CreateAudioClient(uint32_t endpoint, IAudioClient** client) {
    if (!client) return E_POINTER;
    *client = nullptr;
    if (endpoint >= kEndpointCount) return E_INVALIDARG;
    return HandOut(new (std::nothrow) AudioClient(endpoint, EndpointGeneration()), client);
}

}  // namespace sim
