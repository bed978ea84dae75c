// IMMDeviceEnumerator, IMMDeviceCollection, IMMDevice and IPropertyStore of
// the virtual endpoints.
#include "simulator/endpoints/ComBase.h"
#include "simulator/endpoints/EndpointEvents.h"
#include "simulator/endpoints/EndpointObjects.h"
#include "simulator/endpoints/Endpoints.h"

#include "device/EndpointKeys.h"

#include <objbase.h>
#include <propidl.h>

#include <cstring>
#include <new>
#include <string>

namespace sim {

namespace {

LONG g_alive = 0;

// Error of an endpoint that is no longer there.
constexpr HRESULT kDeviceInvalidated = AUDCLNT_E_DEVICE_INVALIDATED;

const PROPERTYKEY* const kStoreKeys[] = {&kKeyEndpointInstance, &kKeyDeviceFriendlyName, &kKeyDeviceDescription,
                                         &kKeyPhysicalSpeakers, &kKeyFullRangeSpeakers};

HRESULT StringValue(const std::wstring& text, PROPVARIANT* value) {
    value->pwszVal = TaskString(text.c_str());
    if (!value->pwszVal) return E_OUTOFMEMORY;
    value->vt = VT_LPWSTR;
    return S_OK;
}

// An endpoint's property store. Writes take format blobs only (the rest is
// the system's) and check nothing of the format, as on Windows. They take
// effect at once, or with the commit fault (the stricter reading of the
// documentation) only at Commit, after which the store is spent; a store
// released without Commit then changes nothing.
class PropertyStore : public ComObject<IPropertyStore> {
public:
    PropertyStore(uint32_t endpoint, bool writable, bool commitRequired)
        : endpoint_(endpoint), writable_(writable), commitRequired_(commitRequired) {}

    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
        if (!count) return E_POINTER;
        if (spent_) return E_FAIL;
        *count = static_cast<DWORD>(sizeof(kStoreKeys) / sizeof(kStoreKeys[0]) + kFormatKeyCount);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
        if (!key) return E_POINTER;
        if (spent_) return E_FAIL;
        const DWORD fixed = sizeof(kStoreKeys) / sizeof(kStoreKeys[0]);
        if (index < fixed) {
            *key = *kStoreKeys[index];
        } else if (index < fixed + kFormatKeyCount) {
            *key = FormatKey(index - fixed);
        } else {
            return E_INVALIDARG;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
        if (!value) return E_POINTER;
        PropVariantInit(value);
        if (spent_) return E_FAIL;
        SharedState* state = State();
        if (!state) return E_FAIL;
        const EndpointDesc& d = Endpoint(endpoint_);
        int format = FormatKeyIndex(key);
        if (format >= 0) {
            uint8_t blob[kFormatBlobBytes];
            if (staged_[format]) {
                std::memcpy(blob, stagedBlob_[format], sizeof(blob));  // this store's own write
            } else {
                StateLock shared;
                const EndpointValues& v = Endpoints(*state).endpoint[endpoint_];
                if (!v.formatHeld[format]) return S_OK;  // no value: VT_EMPTY
                std::memcpy(blob, v.format[format], sizeof(blob));
            }
            value->blob.pBlobData = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(blob)));
            if (!value->blob.pBlobData) return E_OUTOFMEMORY;
            std::memcpy(value->blob.pBlobData, blob, sizeof(blob));
            value->blob.cbSize = sizeof(blob);
            value->vt = VT_BLOB;
            return S_OK;
        }
        if (SameKey(key, kKeyEndpointInstance)) return StringValue(EndpointInstance(*state, endpoint_), value);
        if (SameKey(key, kKeyDeviceFriendlyName)) return StringValue(EndpointFriendlyName(*state, endpoint_), value);
        if (SameKey(key, kKeyDeviceDescription)) return StringValue(d.description, value);
        if (SameKey(key, kKeyPhysicalSpeakers) || SameKey(key, kKeyFullRangeSpeakers)) {
            value->vt = VT_UI4;
            value->ulVal = SameKey(key, kKeyPhysicalSpeakers) ? d.physicalSpeakers : d.fullRangeSpeakers;
        }
        return S_OK;
    }

    // S_OK, INPLACE_S_TRUNCATED for a blob longer than the key holds, or
    // STG_E_ACCESSDENIED: whether the device plays the format is the audio
    // client's question, not the store's.
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override {
        if (spent_) return E_FAIL;
        if (!writable_) return STG_E_ACCESSDENIED;
        ++writes_;
        int format = FormatKeyIndex(key);
        if (format < 0) return STG_E_ACCESSDENIED;
        if (value.vt != VT_BLOB || !value.blob.pBlobData || value.blob.cbSize == 0) return E_INVALIDARG;
        SharedState* state = State();
        if (!state) return E_FAIL;
        uint8_t blob[kFormatBlobBytes] = {};
        const ULONG bytes = value.blob.cbSize < kFormatBlobBytes ? value.blob.cbSize : kFormatBlobBytes;
        std::memcpy(blob, value.blob.pBlobData, bytes);
        const HRESULT done = value.blob.cbSize > kFormatBlobBytes ? INPLACE_S_TRUNCATED : S_OK;
        StateLock shared;
        EndpointsState& e = Endpoints(*state);
        if (e.failPropertyWrite && writes_ == e.failPropertyWrite) return E_FAIL;
        if (commitRequired_) {
            std::memcpy(stagedBlob_[format], blob, sizeof(blob));
            staged_[format] = true;
            return done;
        }
        Store(e, static_cast<uint32_t>(format), blob);
        return done;
    }

    HRESULT STDMETHODCALLTYPE Commit() override {
        if (spent_) return E_FAIL;
        if (!writable_) return STG_E_ACCESSDENIED;
        if (!commitRequired_) return S_OK;
        SharedState* state = State();
        if (!state) return E_FAIL;
        {
            StateLock shared;
            EndpointsState& e = Endpoints(*state);
            for (uint32_t k = 0; k < kFormatKeyCount; ++k) {
                if (staged_[k]) Store(e, k, stagedBlob_[k]);
            }
        }
        spent_ = true;
        return S_OK;
    }

private:
    // One value into the shared state; a changed one is told to the notification clients.
    void Store(EndpointsState& e, uint32_t key, const uint8_t* blob) {
        EndpointValues& v = e.endpoint[endpoint_];
        const bool changed = !v.formatHeld[key] || std::memcmp(v.format[key], blob, kFormatBlobBytes) != 0;
        std::memcpy(v.format[key], blob, kFormatBlobBytes);
        v.formatHeld[key] = 1;
        ++v.formatWrites[key];
        if (changed) NotePropertyChange(e, endpoint_, key);
    }

    uint32_t endpoint_;
    bool writable_;
    bool commitRequired_;
    bool spent_ = false;         // committed under the commit fault: nothing more succeeds
    uint32_t writes_ = 0;        // SetValue calls through this store, for the write fault
    bool staged_[kFormatKeyCount] = {};
    uint8_t stagedBlob_[kFormatKeyCount][kFormatBlobBytes] = {};
};

class Device : public ComObject<IMMDevice> {
public:
    explicit Device(uint32_t endpoint) : endpoint_(endpoint), endpointFace_(this) {}

    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        SharedState* state = State();
        if (!state) return E_FAIL;
        bool active;
        {
            StateLock shared;
            active = EndpointActive(*state, endpoint_);
        }
        if (!active) return kDeviceInvalidated;
        if (IsEqualIID(iid, __uuidof(IDeviceTopology))) {
            return CreateDeviceTopology(endpoint_, reinterpret_cast<IDeviceTopology**>(object));
        }
        if (IsEqualIID(iid, __uuidof(IAudioEndpointVolume))) {
            return CreateEndpointVolume(endpoint_, reinterpret_cast<IAudioEndpointVolume**>(object));
        }
        if (IsEqualIID(iid, __uuidof(IAudioClient))) {
            return CreateAudioClient(endpoint_, reinterpret_cast<IAudioClient**>(object));
        }
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** store) override {
        if (!store) return E_POINTER;
        *store = nullptr;
        bool write = (access & (STGM_WRITE | STGM_READWRITE)) != 0;
        if (access & ~static_cast<DWORD>(STGM_WRITE | STGM_READWRITE)) return E_INVALIDARG;
        SharedState* state = State();
        if (!state) return E_FAIL;
        bool commitRequired;
        {
            StateLock shared;
            // As for a program that is not elevated.
            if (write && Endpoints(*state).refusePropertyWrite) return E_ACCESSDENIED;
            commitRequired = Endpoints(*state).commitRequired != 0;
        }
        return HandOut(new (std::nothrow) PropertyStore(endpoint_, write, commitRequired), store);
    }

    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
        if (!id) return E_POINTER;
        *id = TaskString(Endpoint(endpoint_).id);
        return *id ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE GetState(DWORD* deviceState) override {
        if (!deviceState) return E_POINTER;
        SharedState* state = State();
        if (!state) return E_FAIL;
        StateLock shared;
        *deviceState = EndpointDeviceState(*state, endpoint_);
        return S_OK;
    }

private:
    void* Extra(REFIID iid) override {
        return IsEqualIID(iid, __uuidof(IMMEndpoint)) ? static_cast<IMMEndpoint*>(&endpointFace_) : nullptr;
    }

    // IMMEndpoint tells the direction.
    struct EndpointFace : IMMEndpoint {
        explicit EndpointFace(Device* device) : owner_(device) {}
        Device* owner() const { return owner_; }
        Device* owner_;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
            return owner()->QueryInterface(iid, object);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return owner()->AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return owner()->Release(); }
        HRESULT STDMETHODCALLTYPE GetDataFlow(EDataFlow* flow) override {
            if (!flow) return E_POINTER;
            *flow = Endpoint(owner()->endpoint_).flow;
            return S_OK;
        }
    };

    uint32_t endpoint_;
    EndpointFace endpointFace_;
};

class Collection : public ComObject<IMMDeviceCollection> {
public:
    HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = count_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override {
        if (!device) return E_POINTER;
        *device = nullptr;
        if (index >= count_) return E_INVALIDARG;
        return HandOut(new (std::nothrow) Device(endpoints_[index]), device);
    }

    void Add(uint32_t endpoint) { endpoints_[count_++] = endpoint; }

private:
    uint32_t endpoints_[kEndpointCount] = {};
    UINT count_ = 0;
};

class Enumerator : public ComObject<IMMDeviceEnumerator> {
public:
    ~Enumerator() override {
        // A client that forgot to unregister must not be called through a dead enumerator's promise.
        for (IMMNotificationClient* client : clients_) {
            if (client) UnregisterEndpointClient(client);
        }
    }

    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD mask, IMMDeviceCollection** devices) override {
        if (!devices) return E_POINTER;
        *devices = nullptr;
        if (flow != eRender && flow != eCapture && flow != eAll) return E_INVALIDARG;
        if (mask == 0 || (mask & ~static_cast<DWORD>(DEVICE_STATEMASK_ALL))) return E_INVALIDARG;
        SharedState* state = State();
        if (!state) return E_FAIL;
        auto* collection = new (std::nothrow) Collection;
        if (!collection) return E_OUTOFMEMORY;
        {
            StateLock shared;
            for (uint32_t i = 0; i < kEndpointCount; ++i) {
                if (flow != eAll && Endpoint(i).flow != flow) continue;
                if (EndpointListed(*state, i) && (EndpointDeviceState(*state, i) & mask)) collection->Add(i);
            }
        }
        *devices = collection;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** device) override {
        if (!device) return E_POINTER;
        *device = nullptr;
        if ((flow != eRender && flow != eCapture) || role < eConsole || role > eCommunications) return E_INVALIDARG;
        // The other vendor's device is the default: it is always there.
        return HandOut(new (std::nothrow) Device(flow == eRender ? kForeignRender : kForeignCapture), device);
    }

    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** device) override {
        if (!device) return E_POINTER;
        *device = nullptr;
        int endpoint = FindEndpoint(id);
        SharedState* state = State();
        if (!state) return E_FAIL;
        {
            StateLock shared;
            if (endpoint < 0 || !EndpointListed(*state, static_cast<uint32_t>(endpoint))) return E_NOTFOUND;
        }
        return HandOut(new (std::nothrow) Device(static_cast<uint32_t>(endpoint)), device);
    }

    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient* client) override {
        if (!client) return E_POINTER;
        HRESULT hr = RegisterEndpointClient(client);
        if (SUCCEEDED(hr)) Remember(client, true);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override {
        if (!client) return E_POINTER;
        HRESULT hr = UnregisterEndpointClient(client);
        if (SUCCEEDED(hr)) Remember(client, false);
        return hr;
    }

private:
    void Remember(IMMNotificationClient* client, bool add) {
        for (IMMNotificationClient*& slot : clients_) {
            if (add ? slot == nullptr : slot == client) {
                slot = add ? client : nullptr;
                return;
            }
        }
    }

    IMMNotificationClient* clients_[8] = {};
};

}  // namespace

void CountObjectAlive() { InterlockedIncrement(&g_alive); }
void CountObjectGone() { InterlockedDecrement(&g_alive); }
LONG LiveEndpointObjects() { return InterlockedCompareExchange(&g_alive, 0, 0); }

LPWSTR TaskString(const wchar_t* text) {
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy) std::memcpy(copy, text, bytes);
    return copy;
}

HRESULT CreateDeviceEnumerator(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    // CoCreateInstance needs COM on the calling thread (its own apartment or the process's multithreaded one).
    APTTYPE apartment;
    APTTYPEQUALIFIER qualifier;
    if (FAILED(CoGetApartmentType(&apartment, &qualifier))) return CO_E_NOTINITIALIZED;
    auto* enumerator = new (std::nothrow) Enumerator;
    if (!enumerator) return E_OUTOFMEMORY;
    HRESULT hr = enumerator->QueryInterface(iid, object);
    enumerator->Release();
    return hr;
}

}  // namespace sim
