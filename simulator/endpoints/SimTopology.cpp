// IDeviceTopology, IPart, IConnector, IPartsList and the level, mute and
// input-selector controls of the virtual endpoints. Each endpoint has a
// topology of its own with one connector, connected to a connector of its
// adapter's topology; the adapter's parts lead, through subunits, to the
// streaming pins:
//   render:  stream -> mute -> volume -> DAC -> speaker connector
//   capture: line connector -> sum -> mute -> volume --+
//            S/PDIF connector -> sum -> mute ----------+-> mux -> ADC -> stream
// The chosen topology can turn the mux into a plain sum or make the render
// endpoint's connector claim the wrong data flow; extra endpoints share the
// path (and have the controls) of the endpoint they copy. This file holds the
// parts of the two adapters, their liveness and the topology objects; the
// parts' objects are in SimTopologyPart.cpp, the controls in SimTopologyControls.cpp.
#include "simulator/endpoints/TopologyParts.h"

#include "simulator/endpoints/EndpointObjects.h"
#include "simulator/endpoints/Endpoints.h"

#include "device/EndpointKeys.h"
#include "device/SupportedDevices.h"
#include "simulator/SimGuids.h"
#include "simulator/SimModel.h"

#include <cstdio>
#include <new>
#include <string>

namespace sim {

namespace topology {

namespace {

constexpr HRESULT kDeviceInvalidated = AUDCLNT_E_DEVICE_INVALIDATED;

constexpr GUID kNodeMicrophone = {0xDFF21BE1, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

constexpr PartDesc kDeviceParts[] = {
    {0x00010000, Connector, &kCategoryAudio, L"Playback", Control::None, 0, {kNone, kNone}, {1, kNone}, kNone, Software_IO, In},
    {0x00020000, Subunit, &kNodeMute, L"Mute", Control::Mute, kDeviceRender, {0, kNone}, {2, kNone}, kNone, Unknown_Connector, In},
    {0x00020001, Subunit, &kNodeVolume, L"Volume", Control::Level, kDeviceRender, {1, kNone}, {3, kNone}, kNone, Unknown_Connector, In},
    {0x00020002, Subunit, &kNodeDac, L"DAC", Control::None, 0, {2, kNone}, {4, kNone}, kNone, Unknown_Connector, In},
    {0x00010001, Connector, &kNodeSpeaker, L"Speakers", Control::None, 0, {3, kNone}, {kNone, kNone}, kDeviceRender, Physical_External, Out},
    {0x00010002, Connector, &kNodeLineConnector, L"Line In", Control::None, 0, {kNone, kNone}, {6, kNone}, kDeviceLineIn, Physical_External, In},
    {0x00020003, Subunit, &kNodeSum, L"Sum", Control::None, 0, {5, kNone}, {7, kNone}, kNone, Unknown_Connector, In},
    {0x00020004, Subunit, &kNodeMute, L"Line In Mute", Control::Mute, kDeviceLineIn, {6, kNone}, {8, kNone}, kNone, Unknown_Connector, In},
    {kLineInFeedId, Subunit, &kNodeVolume, L"Line In Volume", Control::Level, kDeviceLineIn, {7, kNone}, {12, kNone}, kNone, Unknown_Connector, In},
    {0x00010003, Connector, &kNodeSpdif, L"S/PDIF In", Control::None, 0, {kNone, kNone}, {10, kNone}, kDeviceSpdifIn, Physical_External, In},
    {0x00020006, Subunit, &kNodeSum, L"Sum", Control::None, 0, {9, kNone}, {11, kNone}, kNone, Unknown_Connector, In},
    {kSpdifInFeedId, Subunit, &kNodeMute, L"S/PDIF In Mute", Control::Mute, kDeviceSpdifIn, {10, kNone}, {12, kNone}, kNone, Unknown_Connector, In},
    {0x00020008, Subunit, &kNodeMux, L"Record Select", Control::Selector, 0, {8, 11}, {13, kNone}, kNone, Unknown_Connector, In},
    {0x00020009, Subunit, &kNodeAdc, L"ADC", Control::None, 0, {12, kNone}, {14, kNone}, kNone, Unknown_Connector, In},
    {0x00010004, Connector, &kCategoryAudio, L"Capture", Control::None, 0, {13, kNone}, {kNone, kNone}, kNone, Software_IO, Out},
};

constexpr PartDesc kForeignParts[] = {
    {0x00010000, Connector, &kCategoryAudio, L"Playback", Control::None, 0, {kNone, kNone}, {1, kNone}, kNone, Software_IO, In},
    {0x00020000, Subunit, &kNodeMute, L"Mute", Control::Mute, kForeignRender, {0, kNone}, {2, kNone}, kNone, Unknown_Connector, In},
    {0x00020001, Subunit, &kNodeVolume, L"Volume", Control::Level, kForeignRender, {1, kNone}, {3, kNone}, kNone, Unknown_Connector, In},
    {0x00020002, Subunit, &kNodeDac, L"DAC", Control::None, 0, {2, kNone}, {4, kNone}, kNone, Unknown_Connector, In},
    {0x00010001, Connector, &kNodeSpeaker, L"Speakers", Control::None, 0, {3, kNone}, {kNone, kNone}, kForeignRender, Physical_External, Out},
    {0x00010002, Connector, &kNodeMicrophone, L"Microphone", Control::None, 0, {kNone, kNone}, {6, kNone}, kForeignCapture, Physical_External, In},
    {0x00020003, Subunit, &kNodeSum, L"Sum", Control::None, 0, {5, kNone}, {7, kNone}, kNone, Unknown_Connector, In},
    {0x00020004, Subunit, &kNodeMute, L"Microphone Mute", Control::Mute, kForeignCapture, {6, kNone}, {8, kNone}, kNone, Unknown_Connector, In},
    {0x00020005, Subunit, &kNodeVolume, L"Microphone Volume", Control::Level, kForeignCapture, {7, kNone}, {9, kNone}, kNone, Unknown_Connector, In},
    {0x00020006, Subunit, &kNodeAdc, L"ADC", Control::None, 0, {8, kNone}, {10, kNone}, kNone, Unknown_Connector, In},
    {0x00010003, Connector, &kCategoryAudio, L"Capture", Control::None, 0, {9, kNone}, {kNone, kNone}, kNone, Software_IO, Out},
};

}  // namespace

const Adapter kAdapters[kAdapterCount] = {
    {kDeviceParts, sizeof(kDeviceParts) / sizeof(kDeviceParts[0])},
    {kForeignParts, sizeof(kForeignParts) / sizeof(kForeignParts[0])},
};

std::wstring AdapterDeviceId(uint32_t adapter) {
    if (adapter != kDeviceAdapter) {
        return L"{2}.\\\\?\\hdaudio#func_01&ven_10ec&dev_0887&subsys_10438445&rev_1003#4&1e3c2b5&0&0001#"
               L"{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\rearlineout";
    }
    SharedState* state = State();
    wchar_t text[160];
    swprintf(text, 160,
             L"{2}.\\\\?\\usb#vid_%04x&pid_%04x&mi_%02x#7&2a1f3c7&0&0001#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global",
             kVelmorVendorId, state ? ProductId(state->config) : kVelmorProductR6, kVelmorAudioInterface);
    return text;
}

HRESULT Alive(uint32_t endpoint, uint32_t generation) {
    return EndpointAlive(endpoint, generation) ? S_OK : kDeviceInvalidated;
}

uint32_t CurrentTopology() {
    SharedState* state = State();
    if (!state) return kTopologyNormal;
    StateLock shared;
    return Endpoints(*state).topology;
}

// The device's own parts die with an unplug; an endpoint's connector with its endpoint.
HRESULT PartAlive(const PartRef& ref, uint32_t generation) {
    if (ref.endpointConnector) return Alive(ref.endpoint, generation);
    if (ref.adapter != kDeviceAdapter) return S_OK;
    SharedState* state = State();
    if (!state) return kDeviceInvalidated;
    StateLock shared;
    return state->present && state->generation == generation ? S_OK : kDeviceInvalidated;
}

// The endpoint whose level or mute a control of this part holds: an extra
// endpoint has its own on the path it shares with its twin.
uint32_t ControlEndpoint(const PartRef& ref) {
    uint32_t endpoint = ref.Desc().endpoint;
    const EndpointDesc& from = Endpoint(ref.endpoint);
    return from.twin != ref.endpoint && from.twin == endpoint ? ref.endpoint : endpoint;
}

bool IsMuxTurnedToSum(const PartDesc& d) {
    return d.control == Control::Selector && CurrentTopology() == kTopologyNoMux;
}

namespace {

class Topology : public ComObject<IDeviceTopology> {
public:
    Topology(bool endpointTopology, uint32_t id, uint32_t generation)
        : endpointTopology_(endpointTopology), id_(id), generation_(generation) {}

    HRESULT STDMETHODCALLTYPE GetConnectorCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = Count(Connector);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnector(UINT index, IConnector** connector) override {
        if (!connector) return E_POINTER;
        *connector = nullptr;
        IPart* part = nullptr;
        HRESULT hr = Nth(Connector, index, &part);
        if (FAILED(hr)) return hr;
        hr = part->QueryInterface(__uuidof(IConnector), reinterpret_cast<void**>(connector));
        part->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetSubunitCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = Count(Subunit);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSubunit(UINT, ISubUnit** subunit) override {
        if (!subunit) return E_POINTER;
        *subunit = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPartById(UINT id, IPart** part) override {
        if (!part) return E_POINTER;
        *part = nullptr;
        if (endpointTopology_) {
            if (id != kEndpointConnectorId || NoConnector()) return E_INVALIDARG;
            return CreatePart({true, id_, 0, 0}, generation_, part);
        }
        const Adapter& a = kAdapters[id_];
        for (uint32_t i = 0; i < a.count; ++i) {
            if (a.parts[i].localId == id) return CreatePart({false, 0, id_, i}, generation_, part);
        }
        return E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceId(LPWSTR* id) override {
        if (!id) return E_POINTER;
        *id = TaskString(endpointTopology_ ? Endpoint(id_).id : AdapterDeviceId(id_).c_str());
        return *id ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetSignalPath(IPart*, IPart*, BOOL, IPartsList** parts) override {
        if (!parts) return E_POINTER;
        *parts = nullptr;
        return E_NOTIMPL;
    }

private:
    // The connector fault leaves the device's endpoints without theirs.
    bool NoConnector() const {
        if (!Endpoint(id_).ours) return false;
        SharedState* state = State();
        if (!state) return true;
        StateLock shared;
        return Endpoints(*state).noConnector != 0;
    }

    UINT Count(PartType type) const {
        if (endpointTopology_) return type == Connector && !NoConnector() ? 1 : 0;
        UINT count = 0;
        const Adapter& a = kAdapters[id_];
        for (uint32_t i = 0; i < a.count; ++i) count += a.parts[i].type == type ? 1 : 0;
        return count;
    }

    HRESULT Nth(PartType type, UINT index, IPart** part) const {
        if (endpointTopology_) {
            if (type != Connector || index != 0 || NoConnector()) return E_INVALIDARG;
            return CreatePart({true, id_, 0, 0}, generation_, part);
        }
        const Adapter& a = kAdapters[id_];
        for (uint32_t i = 0; i < a.count; ++i) {
            if (a.parts[i].type == type && index-- == 0) return CreatePart({false, 0, id_, i}, generation_, part);
        }
        return E_INVALIDARG;
    }

    bool endpointTopology_;
    uint32_t id_;               // endpoint or adapter
    uint32_t generation_;
};

}  // namespace

HRESULT CreateTopology(bool endpointTopology, uint32_t id, uint32_t generation, IDeviceTopology** topology) {
    return HandOut(new (std::nothrow) Topology(endpointTopology, id, generation), topology);
}

}  // namespace topology

uint32_t EndpointGeneration() {
    SharedState* state = State();
    return state ? state->generation : 0;
}

bool EndpointAlive(uint32_t endpoint, uint32_t generation) {
    SharedState* state = State();
    if (!state) return false;
    StateLock shared;
    if (!EndpointActive(*state, endpoint)) return false;
    return !Endpoint(endpoint).ours || state->generation == generation;
}

HRESULT CreateDeviceTopology(uint32_t endpoint, IDeviceTopology** topology) {
    if (!topology) return E_POINTER;
    *topology = nullptr;
    if (endpoint >= kEndpointCount) return E_INVALIDARG;
    return topology::CreateTopology(true, endpoint, EndpointGeneration(), topology);
}

}  // namespace sim
