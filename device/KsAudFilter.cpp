#include "KsAudFilter.h"

#include "KsConstants.h"
#include "KsTrace.h"

#include <new>

namespace {

// Every pin of an audio filter is an audio pin.
CKsAudPin* FirstAccepting(CKsList<CKsPin>& pins, const WAVEFORMATEX* pwfx, ULONG flags) {
    for (auto* entry = pins.Head(); entry; entry = entry->next) {
        CKsAudPin* pin = static_cast<CKsAudPin*>(entry->item);
        if (pin->IsFormatSupported(pwfx, flags)) return pin;
    }
    return nullptr;
}

}  // namespace

CKsAudFilter::CKsAudFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* hr)
    : CKsFilter(pszSymbolicLink, pszFriendlyName, hr) {}

HRESULT CKsAudFilter::EnumeratePins() {
    TraceEnter("CKsAudFilter::EnumeratePins()");
    if (AlreadyEnumerated("CKsAudFilter::EnumeratePins")) return TraceLeave("CKsAudFilter::EnumeratePins", E_FAIL);
    ULONG pinCount = 0;
    if (FAILED(ReadPinCount(&pinCount))) {
        TraceMessage(1, "Failed to retrieve count of pins in audio filter");
        pinCount = 0;
    }

    bool outOfMemory = false;
    for (ULONG id = 0; id < pinCount && !outOfMemory; ++id) {
        ULONG communication = 0;
        if (FAILED(GetPinPropertySimple(id, kKsPropertyPinCommunication, &communication, sizeof(communication)))) {
            TraceMessage(1, "Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION");
            continue;
        }
        if (communication != KSPIN_COMMUNICATION_SINK && communication != KSPIN_COMMUNICATION_SOURCE &&
            communication != KSPIN_COMMUNICATION_BOTH) {
            TraceMessage(1, "Pin communication value doesn't make sense");
            continue;
        }
        ULONG dataFlow = 0;
        if (FAILED(GetPinPropertySimple(id, kKsPropertyPinDataFlow, &dataFlow, sizeof(dataFlow)))) {
            TraceMessage(1, "Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW");
            continue;
        }

        HRESULT pinHr = S_OK;
        CKsAudPin* pin;
        if (communication == KSPIN_COMMUNICATION_SINK && dataFlow == KSPIN_DATAFLOW_IN) {
            pin = new (std::nothrow) CKsAudRenPin(this, id, &pinHr);
        } else if (communication == KSPIN_COMMUNICATION_SINK && dataFlow == KSPIN_DATAFLOW_OUT) {
            pin = new (std::nothrow) CKsAudCapPin(this, id, &pinHr);
        } else {
            pin = new (std::nothrow) CKsAudPin(this, id, &pinHr);
        }
        if (!pin) {
            TraceMessage(1, "Failed to create audio pin");
            outOfMemory = true;
            break;
        }
        if (FAILED(pinHr)) {
            delete pin;
            continue;
        }
        if (FAILED(m_listPins.AddTail(pin))) {
            delete pin;
            TraceMessage(1, "Unable to allocate list entry to save pin in");
            outOfMemory = true;
        }
    }

    if (outOfMemory) {
        TraceMessage(1, "Ran out of memory enumerating pins - deleting all pins");
        DeletePins();
        return TraceLeave("CKsAudFilter::EnumeratePins", E_OUTOFMEMORY);
    }

    ClassifyPins();
    HRESULT hr = S_OK;
    if (NoStreamingPins()) {
        TraceMessage(1, "No valid pins found on the filter");
        hr = E_FAIL;
    }
    return TraceLeave("CKsAudFilter::EnumeratePins", hr);
}

CKsAudRenFilter::CKsAudRenFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* hr)
    : CKsAudFilter(pszSymbolicLink, pszFriendlyName, hr) {
    TraceEnter("CKsAudRenFilter::CKsAudRenFilter()");
    m_type = kKsFilterRender;
    TraceLeave("CKsAudRenFilter::CKsAudRenFilter()");
}

CKsAudPin* CKsAudRenFilter::FindViablePin(const WAVEFORMATEX* pwfx, ULONG flags) {
    TraceEnter("CKsAudRenFilter::FindViablePin()");
    CKsAudPin* pin = FirstAccepting(m_listRenderSinkPins, pwfx, flags);
    TraceLeave("CKsAudRenFilter::FindViablePin()");
    return pin;
}

CKsAudCapFilter::CKsAudCapFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* hr)
    : CKsAudFilter(pszSymbolicLink, pszFriendlyName, hr) {
    TraceEnter("CKsAudCapFilter::CKsAudCapFilter()");
    m_type = kKsFilterCapture;
    TraceLeave("CKsAudCapFilter::CKsAudCapFilter()");
}

CKsAudPin* CKsAudCapFilter::FindViablePin(const WAVEFORMATEX* pwfx, ULONG flags) {
    TraceEnter("CKsAudCapFilter::FindViablePin()");
    CKsAudPin* pin = FirstAccepting(m_listCaptureSinkPins, pwfx, flags);
    TraceLeave("CKsAudCapFilter::FindViablePin()");
    return pin;
}
