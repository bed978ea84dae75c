#include "KsPin.h"

#include "DeviceApi.h"
#include "KsConstants.h"
#include "KsFilter.h"
#include "KsTrace.h"

#include <cstring>

namespace {

void FreeItem(KSMULTIPLE_ITEM*& item) {
    delete[] reinterpret_cast<BYTE*>(item);
    item = nullptr;
}

// Whole data ranges at the start of a reply: each one's FormatSize is the step
// to the next, and none may reach past the bytes the reply holds.
ULONG WholeDataRanges(const KSMULTIPLE_ITEM* item) {
    if (!item || item->Size < sizeof(KSMULTIPLE_ITEM)) return 0;
    const BYTE* next = reinterpret_cast<const BYTE*>(item + 1);
    DWORD left = item->Size - sizeof(KSMULTIPLE_ITEM);
    ULONG whole = 0;
    while (whole < item->Count && left >= sizeof(KSDATARANGE)) {
        ULONG size = reinterpret_cast<const KSDATARANGE*>(next)->FormatSize;
        if (size < sizeof(KSDATARANGE) || size > left) break;
        next += size;
        left -= size;
        ++whole;
    }
    return whole;
}

}  // namespace

CKsPin::CKsPin(CKsFilter* pFilter, ULONG pinId, HRESULT* hr) : m_nId(pinId), m_pFilter(pFilter) {
    TraceEnter("CKsPin::CKsPin()");
    m_handle = INVALID_HANDLE_VALUE;
    HRESULT result = pFilter ? Init() : E_INVALIDARG;
    if (hr) *hr = result;
    TraceLeave("CKsPin::CKsPin()");
}

CKsPin::~CKsPin() {
    TraceEnter("CKsPin::~CKsPin()");
    ClosePin();
    delete[] reinterpret_cast<BYTE*>(m_pksPinCreate);
    m_pksPinCreate = nullptr;
    FreeItem(m_pmiDataRanges);
    FreeItem(m_pmiMediums);
    FreeItem(m_pmiInterfaces);
    TraceLeave("CKsPin::~CKsPin()");
}

HRESULT CKsPin::ReadIdentifiers(ULONG propertyId, KSMULTIPLE_ITEM** buffer, ULONG* count, KSIDENTIFIER** first) {
    FreeItem(*buffer);
    *count = 0;
    *first = nullptr;
    KSMULTIPLE_ITEM* item = nullptr;
    HRESULT hr = m_pFilter->GetPinPropertyMulti(m_nId, propertyId, &item);
    if (FAILED(hr)) {
        FreeItem(item);
        return hr;
    }
    if (!item) return hr;
    *buffer = item;
    *first = reinterpret_cast<KSIDENTIFIER*>(item + 1);
    ULONG fit = MultiItemCapacity(item, sizeof(KSIDENTIFIER));
    // Keep the identifiers that are really there; a reply claiming more is faulty.
    *count = item->Count <= fit ? item->Count : fit;
    return item->Count <= fit ? hr : E_FAIL;
}

HRESULT CKsPin::Init() {
    TraceEnter("CKsPin::Init()");
    HRESULT result = S_OK;
    const int id = static_cast<int>(m_nId);

    if (FAILED(m_pFilter->GetPinPropertySimple(m_nId, kKsPropertyPinCommunication, &m_communication,
                                               sizeof(m_communication)))) {
        TraceMessage(3, "Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION on PinID: %d", id);
        result = S_FALSE;
    }
    if (FAILED(ReadIdentifiers(kKsPropertyPinInterfaces, &m_pmiInterfaces, &m_cInterfaces, &m_pInterfaces))) {
        TraceMessage(3, "Failed to retrieve pin property KSPROPETY_PIN_INTERFACES on PinID: %d", id);
        result = S_FALSE;
    }
    if (FAILED(ReadIdentifiers(kKsPropertyPinMediums, &m_pmiMediums, &m_cMediums, &m_pMediums))) {
        TraceMessage(3, "Failed to retrieve pin property KSPROPERTY_PIN_MEDIUMS on PinID: %d", id);
        result = S_FALSE;
    }

    FreeItem(m_pmiDataRanges);
    m_cDataRanges = 0;
    m_pDataRanges = nullptr;
    HRESULT hr = m_pFilter->GetPinPropertyMulti(m_nId, kKsPropertyPinDataRanges, &m_pmiDataRanges);
    if (SUCCEEDED(hr) && m_pmiDataRanges) {
        m_pDataRanges = reinterpret_cast<KSDATARANGE*>(m_pmiDataRanges + 1);
        // Only ranges that lie whole inside the reply are ever walked.
        m_cDataRanges = WholeDataRanges(m_pmiDataRanges);
        if (m_cDataRanges != m_pmiDataRanges->Count) hr = E_FAIL;
    } else if (FAILED(hr)) {
        FreeItem(m_pmiDataRanges);
    }
    if (FAILED(hr)) {
        TraceMessage(3, "Failed to retrieve pin property KSPROPERTY_PIN_DATARANGES on PinID: %d", id);
        result = S_FALSE;
    }

    if (FAILED(m_pFilter->GetPinPropertySimple(m_nId, kKsPropertyPinDataFlow, &m_dataFlow, sizeof(m_dataFlow)))) {
        TraceMessage(3, "Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW on PinID: %d", id);
        result = S_FALSE;
    }
    if (FAILED(m_pFilter->GetPinPropertySimple(m_nId, kKsPropertyPinCInstances, &m_cInstances,
                                               sizeof(m_cInstances)))) {
        TraceMessage(3, "Failed to retrieve pin property KSPROPERTY_PIN_CINSTANCES on PinID: %d", id);
        result = S_FALSE;
    }
    if (FAILED(m_pFilter->GetPinPropertySimple(m_nId, kKsPropertyPinGlobalCInstances, &m_cInstancesGlobal,
                                               sizeof(m_cInstancesGlobal)))) {
        TraceMessage(3, "Failed to retrieve pin property KSPROPERTY_PIN_GLOBALCINSTANCES on PinID: %d", id);
        result = S_FALSE;
    }
    if (FAILED(m_pFilter->GetPinPropertySimple(m_nId, kKsPropertyPinCategory, &m_guidCategory,
                                               sizeof(m_guidCategory)))) {
        TraceMessage(3, "Failed to retrieve pin property KSPROPERTY_PIN_CATEGORY on PinID: %d", id);
        result = S_FALSE;
    }
    // The last byte stays the terminator whatever the reply holds.
    if (FAILED(m_pFilter->GetPinPropertySimple(m_nId, kKsPropertyPinName, m_szPinName, sizeof(m_szPinName) - 1))) {
        TraceMessage(3, "Failed to retrieve pin property KSPROPERTY_PIN_NAME on PinID: %d", id);
        result = S_FALSE;
    }
    m_szPinName[sizeof(m_szPinName) - 1] = '\0';

    return TraceLeave("CKsPin::Init", result);
}

DWORD CKsPin::DataRangeBytes() const {
    if (!m_pmiDataRanges || m_pmiDataRanges->Size < sizeof(KSMULTIPLE_ITEM)) return 0;
    return m_pmiDataRanges->Size - sizeof(KSMULTIPLE_ITEM);
}

HRESULT CKsPin::Instantiate(BOOL looped) {
    TraceEnter("CKsPin::Instantiate()");
    if (!m_pksPinCreate) return TraceLeave("CKsPin::Instantiate", S_OK);
    // A second instance replaces the first, which is stopped and closed.
    ClosePin();

    if (m_pLinkPin) m_pksPinCreate->PinToHandle = m_pLinkPin->Handle();
    m_looped = looped;
    m_pksPinCreate->Interface.Id = looped ? kKsInterfaceStandardLoopedStreaming : kKsInterfaceStandardStreaming;

    HANDLE pin = INVALID_HANDLE_VALUE;
    DWORD result =
        DeviceApi().KsCreatePin(m_pFilter->Handle(), m_pksPinCreate, GENERIC_READ | GENERIC_WRITE, &pin);
    HRESULT hr;
    if (result == 0) {
        hr = S_OK;
        m_handle = pin;
    } else if (static_cast<LONG>(result) > 0) {
        hr = static_cast<HRESULT>(0x80070000u | (result & 0xFFFF));
    } else {
        hr = static_cast<HRESULT>(result);
    }
    if (FAILED(hr)) TraceMessage(1, "Failed to instantiate pin. hr=0x%08x", static_cast<unsigned>(hr));
    return TraceLeave("CKsPin::Instantiate", hr);
}

HRESULT CKsPin::SetState(KSSTATE state) {
    TraceEnter("CKsPin::SetState()");
    KSSTATE value = state;
    HRESULT hr = SetPropertySimple(kKsPropSetIdConnection, kKsPropertyConnectionState, &value, sizeof(value));
    if (SUCCEEDED(hr)) {
        m_state = state;
    } else {
        TraceMessage(1, "Failed to Set Pin State");
    }
    return TraceLeave("CKsPin::SetState", hr);
}

#ifndef VELMOR_PANEL_BUILD
HRESULT CKsPin::Reset() {
    TraceEnter("CKsPin::Reset()");
    ULONG begin = KSRESET_BEGIN;
    HRESULT hr = SyncIoctl(m_handle, kIoctlKsResetState, &begin, sizeof(begin), nullptr, 0, nullptr);
    if (FAILED(hr)) TraceMessage(1, "IOCTL_KS_RESET_STATE failed");
    ULONG end = KSRESET_END;
    hr = SyncIoctl(m_handle, kIoctlKsResetState, &end, sizeof(end), nullptr, 0, nullptr);
    if (FAILED(hr)) TraceMessage(1, "IOCTL_KS_RESET_STATE failed");
    return TraceLeave("CKsPin::Reset", hr);
}

HRESULT CKsPin::WriteData(KSSTREAM_HEADER* header, OVERLAPPED* overlapped) {
    TraceEnter("CKsPin::WriteData()");
    if (!header || !overlapped) return TraceLeave("CKsPin::WriteData", E_INVALIDARG);
    DWORD returned = 0;
    HRESULT hr = S_OK;
    if (!DeviceApi().DeviceIoControl(m_handle, kIoctlKsWriteStream, nullptr, 0, header, header->Size, &returned,
                                     overlapped)) {
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            TraceMessage(1, "CKsPin::WriteData's DeviceIoControl Failed!  Error=0x%#08x", static_cast<unsigned>(error));
            hr = E_FAIL;
        }
    }
    return TraceLeave("CKsPin::WriteData", hr);
}

HRESULT CKsPin::ReadData(KSSTREAM_HEADER* header, OVERLAPPED* overlapped) {
    TraceEnter("CKsPin::ReadData()");
    if (!header || !overlapped) return TraceLeave("CKsPin::ReadData", E_INVALIDARG);
    DWORD returned = 0;
    HRESULT hr = S_OK;
    if (!DeviceApi().DeviceIoControl(m_handle, kIoctlKsReadStream, nullptr, 0, header, header->Size, &returned,
                                     overlapped)) {
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            TraceMessage(1, "DeviceIoControl Failed!  Error=0x%08x", static_cast<unsigned>(error));
            hr = E_FAIL;
        }
    }
    return TraceLeave("CKsPin::ReadData", hr);
}
#endif

void CKsPin::ClosePin() {
    TraceEnter("CKsPin::ClosePin()");
    if (IsValidHandle(m_handle)) {
        SetState(KSSTATE_STOP);
        SafeCloseHandle(m_handle);
    }
    TraceLeave("CKsPin::ClosePin()");
}
