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
// path (and have the controls) of the endpoint they copy.
#include "simulator/endpoints/ComBase.h"
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

namespace {

constexpr HRESULT kDeviceInvalidated = AUDCLNT_E_DEVICE_INVALIDATED;
constexpr UINT kEndpointConnectorId = 0x00010000;
constexpr uint32_t kAdapterCount = 2;
constexpr uint32_t kDeviceAdapter = 0;
constexpr int kNone = -1;

constexpr GUID kNodeSum = {0xDA441A60, 0xC556, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
constexpr GUID kNodeMicrophone = {0xDFF21BE1, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

enum class Control { None, Level, Mute, Selector };

struct PartDesc {
    UINT localId;
    PartType type;
    const GUID* subtype;
    const wchar_t* name;
    Control control;
    uint32_t endpoint;           // whose level or mute the control holds
    int in[2];                   // parts feeding this one
    int out[2];                  // parts this one feeds
    int endpointLink;            // bridge connector: the endpoint connected to it
    ConnectorType connectorType;
    DataFlow flow;
};

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

struct Adapter {
    const PartDesc* parts;
    uint32_t count;
};

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

// A part of an adapter's topology, or an endpoint's own connector.
struct PartRef {
    bool endpointConnector;
    uint32_t endpoint;           // endpoint connector: its endpoint; adapter part: the endpoint it was reached from
    uint32_t adapter;
    uint32_t index;

    const PartDesc& Desc() const { return kAdapters[adapter].parts[index]; }
};

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

HRESULT CreatePart(const PartRef& ref, uint32_t generation, IPart** part);
HRESULT CreateTopology(bool endpointTopology, uint32_t id, uint32_t generation, IDeviceTopology** topology);

class PartsList : public ComObject<IPartsList> {
public:
    PartsList(const PartRef& from, const int* parts, uint32_t generation) : from_(from), generation_(generation) {
        for (int i = 0; i < 2; ++i) {
            if (parts[i] != kNone) parts_[count_++] = parts[i];
        }
    }
    UINT Count() const { return count_; }

    HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = count_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPart(UINT index, IPart** part) override {
        if (!part) return E_POINTER;
        *part = nullptr;
        if (index >= count_) return E_INVALIDARG;
        PartRef ref = from_;
        ref.index = static_cast<uint32_t>(parts_[index]);
        return CreatePart(ref, generation_, part);
    }

private:
    PartRef from_;
    uint32_t generation_;
    int parts_[2] = {};
    UINT count_ = 0;
};

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

class Part : public ComObject<IPart> {
public:
    Part(const PartRef& ref, uint32_t generation) : ref_(ref), generation_(generation), connector_(this) {}

    bool IsConnector() const { return ref_.endpointConnector || ref_.Desc().type == Connector; }

    HRESULT STDMETHODCALLTYPE GetName(LPWSTR* name) override {
        if (!name) return E_POINTER;
        *name = TaskString(ref_.endpointConnector ? Endpoint(ref_.endpoint).description : ref_.Desc().name);
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetLocalId(UINT* id) override {
        if (!id) return E_POINTER;
        *id = LocalId();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetGlobalId(LPWSTR* id) override {
        if (!id) return E_POINTER;
        *id = TaskString(GlobalId(ref_).c_str());
        return *id ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetPartType(PartType* type) override {
        if (!type) return E_POINTER;
        *type = IsConnector() ? Connector : Subunit;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSubType(GUID* subtype) override {
        if (!subtype) return E_POINTER;
        if (ref_.endpointConnector) {
            *subtype = GUID_NULL;
        } else {
            *subtype = IsMuxTurnedToSum(ref_.Desc()) ? kNodeSum : *ref_.Desc().subtype;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetControlInterfaceCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = ControlIid() ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetControlInterface(UINT index, IControlInterface** control) override {
        if (!control) return E_POINTER;
        *control = nullptr;
        const IID* iid = ControlIid();
        if (!iid || index != 0) return E_INVALIDARG;
        return HandOut(new (std::nothrow) ControlInterface(ref_.Desc().name, *iid), control);
    }
    HRESULT STDMETHODCALLTYPE EnumPartsIncoming(IPartsList** parts) override { return Parts(true, parts); }
    HRESULT STDMETHODCALLTYPE EnumPartsOutgoing(IPartsList** parts) override { return Parts(false, parts); }
    HRESULT STDMETHODCALLTYPE GetTopologyObjects(IDeviceTopology** topology) override {
        if (!topology) return E_POINTER;
        *topology = nullptr;
        return ref_.endpointConnector ? CreateTopology(true, ref_.endpoint, generation_, topology)
                                      : CreateTopology(false, ref_.adapter, generation_, topology);
    }
    HRESULT STDMETHODCALLTYPE Activate(DWORD, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        const IID* control = ControlIid();
        if (!control || !IsEqualIID(iid, *control)) return E_NOINTERFACE;
        HRESULT hr = PartAlive(ref_, generation_);
        if (FAILED(hr)) return hr;
        const PartDesc& d = ref_.Desc();
        switch (d.control) {
            case Control::Level:
                return HandOut(new (std::nothrow) LevelControl(ControlEndpoint(ref_), generation_),
                               reinterpret_cast<IAudioVolumeLevel**>(object));
            case Control::Mute:
                return HandOut(new (std::nothrow) MuteControl(ControlEndpoint(ref_), generation_),
                               reinterpret_cast<IAudioMute**>(object));
            case Control::Selector:
                return HandOut(new (std::nothrow) InputSelector(generation_),
                               reinterpret_cast<IAudioInputSelector**>(object));
            case Control::None:
                break;
        }
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE RegisterControlChangeCallback(REFGUID, IControlChangeNotify*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnregisterControlChangeCallback(IControlChangeNotify*) override { return E_NOTIMPL; }

private:
    void* Extra(REFIID iid) override {
        return IsConnector() && IsEqualIID(iid, __uuidof(IConnector)) ? static_cast<IConnector*>(&connector_) : nullptr;
    }

    UINT LocalId() const { return ref_.endpointConnector ? kEndpointConnectorId : ref_.Desc().localId; }

    static std::wstring GlobalId(const PartRef& ref) {
        std::wstring device = ref.endpointConnector ? Endpoint(ref.endpoint).id : AdapterDeviceId(ref.adapter);
        wchar_t id[16];
        swprintf(id, 16, L"/%08x", ref.endpointConnector ? kEndpointConnectorId : ref.Desc().localId);
        return device + id;
    }

    // The control this part carries, as things stand (the level fault takes the device's away).
    const IID* ControlIid() const {
        if (ref_.endpointConnector) return nullptr;
        const PartDesc& d = ref_.Desc();
        switch (d.control) {
            case Control::Level: {
                if (ref_.adapter == kDeviceAdapter) {
                    SharedState* state = State();
                    if (!state) return nullptr;
                    StateLock shared;
                    if (Endpoints(*state).noLevelControl) return nullptr;
                }
                return &__uuidof(IAudioVolumeLevel);
            }
            case Control::Mute:
                return &__uuidof(IAudioMute);
            case Control::Selector:
                return IsMuxTurnedToSum(d) ? nullptr : &__uuidof(IAudioInputSelector);
            case Control::None:
                break;
        }
        return nullptr;
    }

    HRESULT Parts(bool incoming, IPartsList** parts) {
        if (!parts) return E_POINTER;
        *parts = nullptr;
        if (ref_.endpointConnector) return E_NOTFOUND;  // nothing else in an endpoint's own topology
        auto* list = new (std::nothrow) PartsList(ref_, incoming ? ref_.Desc().in : ref_.Desc().out, generation_);
        if (!list) return E_OUTOFMEMORY;
        if (list->Count() == 0) {
            list->Release();
            return E_NOTFOUND;
        }
        *parts = list;
        return S_OK;
    }

    // The part at the other end of a connection: the adapter's bridge
    // connector for an endpoint's connector and the other way round.
    bool Peer(PartRef& peer) const {
        if (ref_.endpointConnector) {
            const EndpointDesc& e = Endpoint(ref_.endpoint);
            peer = {false, ref_.endpoint, e.adapter, e.connectorPart};
            return true;
        }
        int link = ref_.Desc().endpointLink;
        if (link == kNone) return false;
        peer = {true, static_cast<uint32_t>(link), 0, 0};
        return true;
    }

    struct ConnectorFace : IConnector {
        explicit ConnectorFace(Part* part) : owner_(part) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
            return owner_->QueryInterface(iid, object);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }
        HRESULT STDMETHODCALLTYPE GetType(ConnectorType* type) override {
            if (!type) return E_POINTER;
            *type = owner_->ref_.endpointConnector ? Physical_Internal : owner_->ref_.Desc().connectorType;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE GetDataFlow(DataFlow* flow) override {
            if (!flow) return E_POINTER;
            const PartRef& r = owner_->ref_;
            if (!r.endpointConnector) {
                *flow = r.Desc().flow;
                return S_OK;
            }
            const EndpointDesc& e = Endpoint(r.endpoint);
            const bool wrong = e.ours && e.flow == eRender && CurrentTopology() == kTopologyWrongFlow;
            *flow = (e.flow == eRender) != wrong ? In : Out;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE ConnectTo(IConnector*) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE Disconnect() override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE IsConnected(BOOL* connected) override {
            if (!connected) return E_POINTER;
            PartRef peer;
            *connected = owner_->Peer(peer) ? TRUE : FALSE;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE GetConnectedTo(IConnector** to) override {
            if (!to) return E_POINTER;
            *to = nullptr;
            PartRef peer;
            if (!owner_->Peer(peer)) return E_NOTFOUND;
            HRESULT hr = PartAlive(owner_->ref_, owner_->generation_);
            if (FAILED(hr)) return hr;
            IPart* part = nullptr;
            hr = CreatePart(peer, owner_->generation_, &part);
            if (FAILED(hr)) return hr;
            hr = part->QueryInterface(__uuidof(IConnector), reinterpret_cast<void**>(to));
            part->Release();
            return hr;
        }
        HRESULT STDMETHODCALLTYPE GetConnectorIdConnectedTo(LPWSTR* id) override {
            if (!id) return E_POINTER;
            *id = nullptr;
            PartRef peer;
            if (!owner_->Peer(peer)) return E_NOTFOUND;
            *id = TaskString(GlobalId(peer).c_str());
            return *id ? S_OK : E_OUTOFMEMORY;
        }
        HRESULT STDMETHODCALLTYPE GetDeviceIdConnectedTo(LPWSTR* id) override {
            if (!id) return E_POINTER;
            *id = nullptr;
            PartRef peer;
            if (!owner_->Peer(peer)) return E_NOTFOUND;
            *id = TaskString(peer.endpointConnector ? Endpoint(peer.endpoint).id : AdapterDeviceId(peer.adapter).c_str());
            return *id ? S_OK : E_OUTOFMEMORY;
        }
        Part* owner_;
    };

    PartRef ref_;
    uint32_t generation_;
    ConnectorFace connector_;
};

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

HRESULT CreatePart(const PartRef& ref, uint32_t generation, IPart** part) {
    return HandOut(new (std::nothrow) Part(ref, generation), part);
}

HRESULT CreateTopology(bool endpointTopology, uint32_t id, uint32_t generation, IDeviceTopology** topology) {
    return HandOut(new (std::nothrow) Topology(endpointTopology, id, generation), topology);
}

}  // namespace

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
    return CreateTopology(true, endpoint, EndpointGeneration(), topology);
}

}  // namespace sim
