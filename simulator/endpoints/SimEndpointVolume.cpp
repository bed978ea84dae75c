// IAudioEndpointVolume of the virtual endpoints: the same level and mute the
// topology's controls hold, with the change notifications. As Windows' own,
// a registered callback holds a reference on the callback (and keeps this
// object alive) until it is unregistered: a client that releases first leaks
// both, which the live-object count shows.
#include "simulator/endpoints/ComBase.h"
#include "simulator/endpoints/EndpointEvents.h"
#include "simulator/endpoints/EndpointObjects.h"
#include "simulator/endpoints/Endpoints.h"

#include <new>

namespace sim {

namespace {

class EndpointVolume : public ComObject<IAudioEndpointVolume> {
public:
    EndpointVolume(uint32_t endpoint, uint32_t generation) : endpoint_(endpoint), generation_(generation) {}

    HRESULT STDMETHODCALLTYPE RegisterControlChangeNotify(IAudioEndpointVolumeCallback* callback) override {
        if (!callback) return E_POINTER;
        for (IAudioEndpointVolumeCallback*& slot : callbacks_) {
            if (slot) continue;
            callback->AddRef();
            HRESULT hr = RegisterVolumeCallback(endpoint_, generation_, callback);
            if (FAILED(hr)) {
                callback->Release();
                return hr;
            }
            slot = callback;
            AddRef();
            return hr;
        }
        return E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE UnregisterControlChangeNotify(IAudioEndpointVolumeCallback* callback) override {
        if (!callback) return E_POINTER;
        for (IAudioEndpointVolumeCallback*& slot : callbacks_) {
            if (slot != callback) continue;
            slot = nullptr;
            // No delivery runs once this returns: the references can go.
            HRESULT hr = UnregisterVolumeCallback(endpoint_, callback);
            callback->Release();
            Release();  // may be the last reference: nothing of this object is used after it
            return hr;
        }
        return E_NOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetChannelCount(UINT* channels) override {
        if (!channels) return E_POINTER;
        *channels = kEndpointChannels;
        return Alive();
    }
    HRESULT STDMETHODCALLTYPE SetMasterVolumeLevel(float db, LPCGUID context) override {
        HRESULT hr = Alive();
        return FAILED(hr) ? hr : SetEndpointLevel(endpoint_, ~0u, db, context);
    }
    HRESULT STDMETHODCALLTYPE SetMasterVolumeLevelScalar(float scalar, LPCGUID context) override {
        if (!(scalar >= 0.0f && scalar <= 1.0f)) return E_INVALIDARG;
        return SetMasterVolumeLevel(FromScalar(scalar), context);
    }
    HRESULT STDMETHODCALLTYPE GetMasterVolumeLevel(float* db) override {
        if (!db) return E_POINTER;
        EndpointValues v;
        HRESULT hr = Read(v);
        if (SUCCEEDED(hr)) *db = v.level[0] > v.level[1] ? v.level[0] : v.level[1];
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetMasterVolumeLevelScalar(float* scalar) override {
        if (!scalar) return E_POINTER;
        EndpointValues v;
        HRESULT hr = Read(v);
        if (SUCCEEDED(hr)) *scalar = LevelScalar(CombinedRange(v), v.level[0] > v.level[1] ? v.level[0] : v.level[1]);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetChannelVolumeLevel(UINT channel, float db, LPCGUID context) override {
        if (channel >= kEndpointChannels) return E_INVALIDARG;
        HRESULT hr = Alive();
        return FAILED(hr) ? hr : SetEndpointLevel(endpoint_, channel, db, context);
    }
    HRESULT STDMETHODCALLTYPE SetChannelVolumeLevelScalar(UINT channel, float scalar, LPCGUID context) override {
        if (!(scalar >= 0.0f && scalar <= 1.0f)) return E_INVALIDARG;
        if (channel >= kEndpointChannels) return E_INVALIDARG;
        return SetChannelVolumeLevel(channel, FromScalar(scalar, channel), context);
    }
    HRESULT STDMETHODCALLTYPE GetChannelVolumeLevel(UINT channel, float* db) override {
        if (!db) return E_POINTER;
        if (channel >= kEndpointChannels) return E_INVALIDARG;
        EndpointValues v;
        HRESULT hr = Read(v);
        if (SUCCEEDED(hr)) *db = v.level[channel];
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetChannelVolumeLevelScalar(UINT channel, float* scalar) override {
        if (!scalar) return E_POINTER;
        if (channel >= kEndpointChannels) return E_INVALIDARG;
        EndpointValues v;
        HRESULT hr = Read(v);
        if (SUCCEEDED(hr)) *scalar = LevelScalar(v.range[channel], v.level[channel]);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetMute(BOOL mute, LPCGUID context) override {
        HRESULT hr = Alive();
        return FAILED(hr) ? hr : SetEndpointMute(endpoint_, mute, context);
    }
    HRESULT STDMETHODCALLTYPE GetMute(BOOL* mute) override {
        if (!mute) return E_POINTER;
        EndpointValues v;
        HRESULT hr = Read(v);
        if (SUCCEEDED(hr)) *mute = v.mute ? TRUE : FALSE;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetVolumeStepInfo(UINT* step, UINT* steps) override {
        if (!step || !steps) return E_POINTER;
        float db = 0;
        HRESULT hr = GetMasterVolumeLevel(&db);
        if (FAILED(hr)) return hr;
        const LevelRange range = Range();
        *steps = static_cast<UINT>((range.maximum - range.minimum) / range.step + 0.5f) + 1;
        *step = static_cast<UINT>((db - range.minimum) / range.step + 0.5f);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE VolumeStepUp(LPCGUID context) override { return Step(+1, context); }
    HRESULT STDMETHODCALLTYPE VolumeStepDown(LPCGUID context) override { return Step(-1, context); }
    HRESULT STDMETHODCALLTYPE QueryHardwareSupport(DWORD* mask) override {
        if (!mask) return E_POINTER;
        *mask = ENDPOINT_HARDWARE_SUPPORT_MUTE;
        if (endpoint_ != kDeviceSpdifIn) *mask |= ENDPOINT_HARDWARE_SUPPORT_VOLUME;
        return Alive();
    }
    HRESULT STDMETHODCALLTYPE GetVolumeRange(float* minimum, float* maximum, float* step) override {
        if (!minimum || !maximum || !step) return E_POINTER;
        const LevelRange range = Range();
        *minimum = range.minimum;
        *maximum = range.maximum;
        *step = range.step;
        return Alive();
    }

private:
    HRESULT Alive() const { return EndpointAlive(endpoint_, generation_) ? S_OK : AUDCLNT_E_DEVICE_INVALIDATED; }

    HRESULT Read(EndpointValues& v) const {
        HRESULT hr = Alive();
        if (SUCCEEDED(hr) && !ReadEndpoint(endpoint_, v)) hr = E_FAIL;
        return hr;
    }

    // Both channels' ranges in one, as the endpoint reports them.
    LevelRange Range() const {
        EndpointValues v;
        if (!ReadEndpoint(endpoint_, v)) return Endpoint(endpoint_).range;
        return CombinedRange(v);
    }

    float FromScalar(float scalar, UINT channel = ~0u) const {
        EndpointValues v;
        LevelRange range = Endpoint(endpoint_).range;
        if (ReadEndpoint(endpoint_, v)) range = channel < kEndpointChannels ? v.range[channel] : CombinedRange(v);
        return range.minimum + scalar * (range.maximum - range.minimum);
    }

    HRESULT Step(int direction, LPCGUID context) {
        float db = 0;
        HRESULT hr = GetMasterVolumeLevel(&db);
        if (FAILED(hr)) return hr;
        const LevelRange range = Range();
        db += static_cast<float>(direction) * range.step;
        if (db < range.minimum) db = range.minimum;
        if (db > range.maximum) db = range.maximum;
        return SetEndpointLevel(endpoint_, ~0u, db, context);
    }

    uint32_t endpoint_;
    uint32_t generation_;
    IAudioEndpointVolumeCallback* callbacks_[4] = {};
};

}  // namespace

HRESULT CreateEndpointVolume(uint32_t endpoint, IAudioEndpointVolume** volume) {
    if (!volume) return E_POINTER;
    *volume = nullptr;
    if (endpoint >= kEndpointCount) return E_INVALIDARG;
    return HandOut(new (std::nothrow) EndpointVolume(endpoint, EndpointGeneration()), volume);
}

}  // namespace sim
