// One pin of a filter: its properties, its connection request, its state and,
// in the driver, its data requests.
#pragma once

#include "KsIrpTarget.h"

#include <windows.h>
#include <ks.h>

class CKsFilter;

enum KsPinType : ULONG {
    kKsPinPlain = 0,
    kKsPinRender = 1,
    kKsPinCapture = 2,
};

constexpr size_t kKsPinNameSize = 260;

class CKsPin : public CKsIrpTarget {
public:
    // Reads the pin's properties; *hr is S_FALSE when some could not be read.
    CKsPin(CKsFilter* pFilter, ULONG pinId, HRESULT* hr);
    virtual ~CKsPin();
    CKsPin(const CKsPin&) = delete;
    CKsPin& operator=(const CKsPin&) = delete;

    // Creates the pin instance from the connection request (nothing to do
    // for a pin without one); an instance it already has is closed first.
    virtual HRESULT Instantiate(BOOL looped);
    // One step; the caller walks STOP, ACQUIRE, PAUSE, RUN and back.
    virtual HRESULT SetState(KSSTATE state);

    HRESULT Init();
#ifndef VELMOR_PANEL_BUILD
    HRESULT Reset();
    // Queue one stream request; completion signals the OVERLAPPED's event.
    HRESULT WriteData(KSSTREAM_HEADER* header, OVERLAPPED* overlapped);
    HRESULT ReadData(KSSTREAM_HEADER* header, OVERLAPPED* overlapped);
#endif
    // Stops and closes the instance, if there is one.
    void ClosePin();

    KSPIN_COMMUNICATION GetCommunication() const { return m_communication; }
    KSPIN_DATAFLOW GetDataFlow() const { return m_dataFlow; }

    ULONG PinId() const { return m_nId; }
    CKsFilter* Filter() const { return m_pFilter; }
    ULONG Type() const { return m_type; }
    KSSTATE State() const { return m_state; }
    BOOL Looped() const { return m_looped; }
    const GUID& Category() const { return m_guidCategory; }
    const KSPIN_CINSTANCES& CInstances() const { return m_cInstances; }
    const KSPIN_CINSTANCES& GlobalCInstances() const { return m_cInstancesGlobal; }
    // The reply's raw bytes (the platform answers with a wide string).
    const char* Name() const { return m_szPinName; }

    ULONG InterfaceCount() const { return m_cInterfaces; }
    const KSIDENTIFIER* Interfaces() const { return m_pInterfaces; }
    ULONG MediumCount() const { return m_cMediums; }
    const KSIDENTIFIER* Mediums() const { return m_pMediums; }
    ULONG DataRangeCount() const { return m_cDataRanges; }
    const KSDATARANGE* DataRanges() const { return m_pDataRanges; }
    // The bytes the data ranges may occupy, from the first one on.
    DWORD DataRangeBytes() const;

    // The connection request as Instantiate will send it (null for a plain pin).
    const KSPIN_CONNECT* ConnectRequest() const { return m_pksPinCreate; }
    DWORD ConnectRequestSize() const { return m_cbPinCreateSize; }

    void SetLinkPin(CKsPin* link) { m_pLinkPin = link; }

protected:
    KSPIN_CONNECT* m_pksPinCreate = nullptr;  // KSPIN_CONNECT, then the data format
    DWORD m_cbPinCreateSize = 0;
    ULONG m_nId;
    CKsFilter* m_pFilter;
    GUID m_guidCategory = {};
    ULONG m_cInterfaces = 0;
    KSIDENTIFIER* m_pInterfaces = nullptr;
    ULONG m_cMediums = 0;
    KSIDENTIFIER* m_pMediums = nullptr;
    ULONG m_cDataRanges = 0;
    KSDATARANGE* m_pDataRanges = nullptr;
    KSPIN_DATAFLOW m_dataFlow = static_cast<KSPIN_DATAFLOW>(0);
    KSPIN_COMMUNICATION m_communication = KSPIN_COMMUNICATION_NONE;
    KSPIN_CINSTANCES m_cInstances = {};
    KSPIN_CINSTANCES m_cInstancesGlobal = {};
    KSMULTIPLE_ITEM* m_pmiDataRanges = nullptr;
    KSMULTIPLE_ITEM* m_pmiMediums = nullptr;
    KSMULTIPLE_ITEM* m_pmiInterfaces = nullptr;
    ULONG m_type = kKsPinPlain;
    KSSTATE m_state = KSSTATE_STOP;
    char m_szPinName[kKsPinNameSize] = {};
    BOOL m_looped = FALSE;
    CKsPin* m_pLinkPin = nullptr;

private:
    // Reads a list of identifiers; a reply whose items do not fit counts as unreadable.
    HRESULT ReadIdentifiers(ULONG propertyId, KSMULTIPLE_ITEM** buffer, ULONG* count, KSIDENTIFIER** first);
};
