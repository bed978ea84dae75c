#include "KsFilter.h"

#include "DeviceApi.h"
#include "KsConstants.h"
#include "KsPin.h"
#include "KsTrace.h"

#include <cstring>
#include <new>

namespace {

// Copies at most size - 1 characters and always terminates.
void CopyName(char* target, size_t size, const char* source) {
    size_t length = strnlen(source, size - 1);
    std::memcpy(target, source, length);
    target[length] = '\0';
}

}  // namespace

CKsFilter::CKsFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* hr) {
    TraceEnter("CKsFilter::CKsFilter()");
    InternalInit();
    HRESULT result = S_OK;
    if (!pszSymbolicLink) {
        TraceMessage(1, "pszSymbolicLink cannot be NULL");
        result = E_INVALIDARG;
    } else if (!pszFriendlyName) {
        TraceMessage(1, "pszFriendlyName cannot be NULL");
        result = E_INVALIDARG;
    } else {
        CopyName(m_pszSymbolicLink, sizeof(m_pszSymbolicLink), pszSymbolicLink);
        CopyName(m_pszFriendlyName, sizeof(m_pszFriendlyName), pszFriendlyName);
    }
    if (hr) *hr = result;
    TraceLeave("CKsFilter::CKsFilter()");
}

CKsFilter::~CKsFilter() {
    TraceEnter("CKsFilter::~CKsFilter()");
    // Pins close their instances before the filter handle goes.
    CKsFilter::DestroyLists();
    SafeCloseHandle(m_handle);
    TraceLeave("CKsFilter::~CKsFilter()");
}

void CKsFilter::InternalInit() {
    TraceEnter("CKsFilter::InternalInit()");
    m_handle = INVALID_HANDLE_VALUE;
    m_type = kKsFilterPlain;
    std::memset(m_pszSymbolicLink, 0, sizeof(m_pszSymbolicLink));
    std::memset(m_pszFriendlyName, 0, sizeof(m_pszFriendlyName));
    TraceLeave("CKsFilter::InternalInit()");
}

HRESULT CKsFilter::Instantiate() {
    TraceEnter("CKsFilter::Instantiate()");
    HRESULT hr = S_OK;
    SafeCloseHandle(m_handle);
    m_handle = DeviceApi().CreateFileA(m_pszSymbolicLink, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (!IsValidHandle(m_handle)) {
        TraceMessage(1, "CKsFilter::Instantiate: CreateFile failed for device %s.  ErrorCode = 0x%08x",
                     m_pszSymbolicLink, static_cast<unsigned>(GetLastError()));
        hr = E_FAIL;
    }
    return TraceLeave("CKsFilter::Instantiate", hr);
}

HRESULT CKsFilter::EnumerateNodes() {
    TraceEnter("CKsFilter::EnumerateNodes()");
    m_listNodes.DeleteAll();

    KSMULTIPLE_ITEM* reply = nullptr;
    HRESULT hr = GetPropertyMulti(kKsPropSetIdTopology, kKsPropertyTopologyNodes, &reply);
    if (FAILED(hr)) {
        TraceMessage(4, "Failed to get property KSPROPSETID_Topology.KSPROPERTY_TOPOLOGY_NODES");
        return TraceLeave("CKsFilter::EnumerateNodes", hr);
    }
    if (!reply) return TraceLeave("CKsFilter::EnumerateNodes", S_OK);

    // Only the node types the reply really holds are read; a reply that
    // claims more than it carries fails the count check below.
    const GUID* types = reinterpret_cast<const GUID*>(reply + 1);
    ULONG available = MultiItemCapacity(reply, sizeof(GUID));
    ULONG readable = reply->Count < available ? reply->Count : available;
    for (ULONG i = 0; i < readable; ++i) {
        CKsNode* node = new (std::nothrow) CKsNode;
        if (!node) continue;
        node->nodeId = i;
        std::memcpy(node->tag, "NONE", sizeof(node->tag));
        std::memcpy(&node->nodeType, &types[i], sizeof(GUID));
        if (FAILED(m_listNodes.AddTail(node))) {
            delete node;
            hr = E_OUTOFMEMORY;
        }
    }
    if (m_listNodes.Count() != reply->Count) {
        m_listNodes.DeleteAll();
        hr = E_FAIL;
    }
    delete[] reinterpret_cast<BYTE*>(reply);
    return TraceLeave("CKsFilter::EnumerateNodes", hr);
}

HRESULT CKsFilter::EnumeratePins() {
    TraceEnter("CKsFilter::EnumeratePins()");
    if (AlreadyEnumerated("CKsFilter::EnumeratePins")) return TraceLeave("CKsFilter::EnumeratePins", E_FAIL);
    ULONG pinCount = 0;
    HRESULT hr = ReadPinCount(&pinCount);
    if (FAILED(hr)) pinCount = 0;

    for (ULONG id = 0; id < pinCount; ++id) {
        HRESULT pinHr = S_OK;
        CKsPin* pin = new (std::nothrow) CKsPin(this, id, &pinHr);
        if (!pin) {
            TraceMessage(1, "Failed to create pin");
            continue;
        }
        if (FAILED(pinHr)) {
            TraceMessage(1, "Failed to construct pin");
            delete pin;
            continue;
        }
        if (FAILED(m_listPins.AddTail(pin))) {
            TraceMessage(1, "Failed to add pin to list");
            delete pin;
        }
    }

    hr = ClassifyPins();
    if (NoClassifiedPins()) {
        TraceMessage(1, "Filter is not viable. It has no pins.");
        hr = E_FAIL;
    }
    return TraceLeave("CKsFilter::EnumeratePins", hr);
}

HRESULT CKsFilter::ReadPinCount(ULONG* count) {
    *count = 0;
    ULONG reported = 0;
    HRESULT hr = GetPinPropertySimple(0, kKsPropertyPinCTypes, &reported, sizeof(reported));
    if (FAILED(hr)) return hr;
    if (reported > kKsMaxPinCount) {
        TraceMessage(1, "CKsFilter: pin count %lu refused", reported);
        return E_FAIL;
    }
    *count = reported;
    return hr;
}

bool CKsFilter::AlreadyEnumerated(const char* operation) const {
    if (m_listPins.IsEmpty()) return false;
    TraceMessage(1, "%s: pins already enumerated", operation);
    return true;
}

HRESULT CKsFilter::ClassifyPins() {
    TraceEnter("CKsFilter::ClassifyPins()");
    HRESULT hr = S_OK;
    for (auto* entry = m_listPins.Head(); entry && SUCCEEDED(hr); entry = entry->next) {
        CKsPin* pin = entry->item;
        bool render = pin->GetDataFlow() == KSPIN_DATAFLOW_IN;
        CKsList<CKsPin>& sinks = render ? m_listRenderSinkPins : m_listCaptureSinkPins;
        CKsList<CKsPin>& sources = render ? m_listRenderSourcePins : m_listCaptureSourcePins;
        switch (pin->GetCommunication()) {
        case KSPIN_COMMUNICATION_NONE:
            hr = m_listNoCommPins.AddTail(pin);
            break;
        case KSPIN_COMMUNICATION_SINK:
            hr = sinks.AddTail(pin);
            break;
        case KSPIN_COMMUNICATION_SOURCE:
            hr = sources.AddTail(pin);
            break;
        case KSPIN_COMMUNICATION_BOTH:
            hr = sinks.AddTail(pin);
            if (SUCCEEDED(hr)) hr = sources.AddTail(pin);
            break;
        default:
            TraceMessage(5, "Pin communication type not recognized");
            break;
        }
    }
    return TraceLeave("CKsFilter::ClassifyPins", hr);
}

HRESULT CKsFilter::DestroyLists() {
    TraceEnter("CKsFilter::DestroyLists()");
    m_listNodes.DeleteAll();
    DeletePins();
    return TraceLeave("CKsFilter::DestroyLists", S_OK);
}

void CKsFilter::DeletePins() {
    // The role lists only borrow pins: drop their entries before the pins go.
    m_listRenderSinkPins.RemoveAll();
    m_listCaptureSourcePins.RemoveAll();
    m_listCaptureSinkPins.RemoveAll();
    m_listRenderSourcePins.RemoveAll();
    m_listNoCommPins.RemoveAll();
    m_listPins.DeleteAll();
}

HRESULT CKsFilter::GetPinPropertySimple(ULONG pinId, ULONG propertyId, void* buffer, DWORD size) {
    TraceEnter("CKsFilter::GetPinPropertySimple()");
    KSP_PIN request = {};
    request.Property.Set = kKsPropSetIdPin;
    request.Property.Id = propertyId;
    request.Property.Flags = kKsPropertyTypeGet;
    request.PinId = pinId;
    request.Reserved = 0;
    HRESULT hr = SyncIoctl(m_handle, kIoctlKsProperty, &request, sizeof(request), buffer, size, nullptr);
    return TraceLeave("CKsFilter::GetPinPropertySimple", hr);
}

HRESULT CKsFilter::GetPinPropertyMulti(ULONG pinId, ULONG propertyId, KSMULTIPLE_ITEM** item) {
    TraceEnter("CKsFilter::GetPinPropertyMulti()");
    KSP_PIN request = {};
    request.Property.Set = kKsPropSetIdPin;
    request.Property.Id = propertyId;
    request.Property.Flags = kKsPropertyTypeGet;
    request.PinId = pinId;
    request.Reserved = 0;
    HRESULT hr = RequestMultiItem(m_handle, &request, sizeof(request), item);
    return TraceLeave("CKsFilter::GetPinPropertyMulti", hr);
}

bool CKsFilter::NoStreamingPins() const {
    return m_listRenderSinkPins.IsEmpty() && m_listCaptureSourcePins.IsEmpty() && m_listCaptureSinkPins.IsEmpty() &&
           m_listRenderSourcePins.IsEmpty();
}

bool CKsFilter::NoClassifiedPins() const { return NoStreamingPins() && m_listNoCommPins.IsEmpty(); }
