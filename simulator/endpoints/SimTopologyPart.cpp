// The parts of the virtual device's topologies as COM objects: IPart, the
// IConnector face of a connector and the IPartsList of its neighbours.
#include "simulator/endpoints/TopologyParts.h"

#include "simulator/endpoints/Endpoints.h"

#include <cstdio>
#include <new>
#include <string>

namespace sim::topology {

namespace {

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

class PartObject : public ComObject<IPart> {
public:
    PartObject(const PartRef& ref, uint32_t generation) : ref_(ref), generation_(generation), connector_(this) {}

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
        return CreateControlInterface(ref_.Desc().name, *iid, control);
    }
    HRESULT STDMETHODCALLTYPE EnumPartsIncoming(IPartsList** parts) override { return Neighbours(true, parts); }
    HRESULT STDMETHODCALLTYPE EnumPartsOutgoing(IPartsList** parts) override { return Neighbours(false, parts); }
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
                return CreateLevelControl(ControlEndpoint(ref_), generation_,
                                          reinterpret_cast<IAudioVolumeLevel**>(object));
            case Control::Mute:
                return CreateMuteControl(ControlEndpoint(ref_), generation_, reinterpret_cast<IAudioMute**>(object));
            case Control::Selector:
                return CreateInputSelector(generation_, reinterpret_cast<IAudioInputSelector**>(object));
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

    HRESULT Neighbours(bool incoming, IPartsList** parts) {
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
        explicit ConnectorFace(PartObject* part) : owner_(part) {}
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
        PartObject* owner_;
    };

    PartRef ref_;
    uint32_t generation_;
    ConnectorFace connector_;
};

}  // namespace

HRESULT CreatePart(const PartRef& ref, uint32_t generation, IPart** part) {
    return HandOut(new (std::nothrow) PartObject(ref, generation), part);
}

}  // namespace sim::topology
