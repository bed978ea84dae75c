// The controls of the virtual device's topology parts: level, mute and the
// record input selector, each on the endpoint values it holds.
#include "simulator/endpoints/TopologyParts.h"

#include "simulator/endpoints/Endpoints.h"

#include <new>

namespace sim::topology {

namespace {

class LevelControl : public ComObject<IAudioVolumeLevel> {
public:
    LevelControl(uint32_t endpoint, uint32_t generation) : endpoint_(endpoint), generation_(generation) {}

    HRESULT STDMETHODCALLTYPE GetChannelCount(UINT* channels) override {
        if (!channels) return E_POINTER;
        *channels = kEndpointChannels;
        return Alive(endpoint_, generation_);
    }
    HRESULT STDMETHODCALLTYPE GetLevelRange(UINT channel, float* minimum, float* maximum, float* step) override {
        if (!minimum || !maximum || !step) return E_POINTER;
        if (channel >= kEndpointChannels) return E_INVALIDARG;
        HRESULT hr = Alive(endpoint_, generation_);
        if (FAILED(hr)) return hr;
        EndpointValues v;
        if (!ReadEndpoint(endpoint_, v)) return E_FAIL;
        *minimum = v.range[channel].minimum;
        *maximum = v.range[channel].maximum;
        *step = v.range[channel].step;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLevel(UINT channel, float* level) override {
        if (!level) return E_POINTER;
        if (channel >= kEndpointChannels) return E_INVALIDARG;
        HRESULT hr = Alive(endpoint_, generation_);
        EndpointValues v;
        if (SUCCEEDED(hr) && !ReadEndpoint(endpoint_, v)) hr = E_FAIL;
        if (SUCCEEDED(hr)) *level = v.level[channel];
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetLevel(UINT channel, float level, LPCGUID context) override {
        if (channel >= kEndpointChannels) return E_INVALIDARG;
        HRESULT hr = Alive(endpoint_, generation_);
        return FAILED(hr) ? hr : SetEndpointLevel(endpoint_, channel, level, context, OutOfRange::Clamp);
    }
    HRESULT STDMETHODCALLTYPE SetLevelUniform(float level, LPCGUID context) override {
        HRESULT hr = Alive(endpoint_, generation_);
        return FAILED(hr) ? hr : SetEndpointLevel(endpoint_, ~0u, level, context, OutOfRange::Clamp);
    }
    HRESULT STDMETHODCALLTYPE SetLevelAllChannels(float* levels, ULONG channels, LPCGUID context) override {
        if (!levels) return E_POINTER;
        if (channels != kEndpointChannels) return E_INVALIDARG;
        HRESULT hr = Alive(endpoint_, generation_);
        for (UINT ch = 0; ch < kEndpointChannels && SUCCEEDED(hr); ++ch) {
            hr = SetEndpointLevel(endpoint_, ch, levels[ch], context, OutOfRange::Clamp);
        }
        return hr;
    }

private:
    uint32_t endpoint_;
    uint32_t generation_;
};

class MuteControl : public ComObject<IAudioMute> {
public:
    MuteControl(uint32_t endpoint, uint32_t generation) : endpoint_(endpoint), generation_(generation) {}

    HRESULT STDMETHODCALLTYPE SetMute(BOOL mute, LPCGUID context) override {
        HRESULT hr = Alive(endpoint_, generation_);
        return FAILED(hr) ? hr : SetEndpointMute(endpoint_, mute, context);
    }
    HRESULT STDMETHODCALLTYPE GetMute(BOOL* mute) override {
        if (!mute) return E_POINTER;
        HRESULT hr = Alive(endpoint_, generation_);
        EndpointValues v;
        if (SUCCEEDED(hr) && !ReadEndpoint(endpoint_, v)) hr = E_FAIL;
        if (SUCCEEDED(hr)) *mute = v.mute ? TRUE : FALSE;
        return hr;
    }

private:
    uint32_t endpoint_;
    uint32_t generation_;
};

class InputSelector : public ComObject<IAudioInputSelector> {
public:
    explicit InputSelector(uint32_t generation) : generation_(generation) {}

    HRESULT STDMETHODCALLTYPE GetSelection(UINT* id) override {
        if (!id) return E_POINTER;
        HRESULT hr = Alive(kDeviceLineIn, generation_);
        SharedState* state = State();
        if (SUCCEEDED(hr) && !state) hr = E_FAIL;
        if (FAILED(hr)) return hr;
        StateLock shared;
        *id = Endpoints(*state).muxSelection;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSelection(UINT id, LPCGUID) override {
        HRESULT hr = Alive(kDeviceLineIn, generation_);
        return FAILED(hr) ? hr : SetRecordSelection(id);
    }

private:
    uint32_t generation_;
};

class ControlInterface : public ComObject<IControlInterface> {
public:
    ControlInterface(const wchar_t* name, const IID& iid) : name_(name), iid_(iid) {}
    HRESULT STDMETHODCALLTYPE GetName(LPWSTR* name) override {
        if (!name) return E_POINTER;
        *name = TaskString(name_);
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetIID(GUID* iid) override {
        if (!iid) return E_POINTER;
        *iid = iid_;
        return S_OK;
    }

private:
    const wchar_t* name_;
    IID iid_;
};

}  // namespace

HRESULT CreateLevelControl(uint32_t endpoint, uint32_t generation, IAudioVolumeLevel** control) {
    return HandOut(new (std::nothrow) LevelControl(endpoint, generation), control);
}

HRESULT CreateMuteControl(uint32_t endpoint, uint32_t generation, IAudioMute** control) {
    return HandOut(new (std::nothrow) MuteControl(endpoint, generation), control);
}

HRESULT CreateInputSelector(uint32_t generation, IAudioInputSelector** control) {
    return HandOut(new (std::nothrow) InputSelector(generation), control);
}

HRESULT CreateControlInterface(const wchar_t* name, const IID& iid, IControlInterface** control) {
    return HandOut(new (std::nothrow) ControlInterface(name, iid), control);
}

}  // namespace sim::topology
