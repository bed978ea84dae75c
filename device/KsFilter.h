// A kernel-streaming filter: its handle, its pins sorted by role and its
// topology nodes.
#pragma once

#include "KsIrpTarget.h"
#include "KsList.h"
#include "KsNode.h"

#include <windows.h>
#include <ks.h>

class CKsPin;

enum KsFilterType : ULONG {
    kKsFilterPlain = 0,
    kKsFilterRender = 1,
    kKsFilterCapture = 2,
};

// Symbolic links and friendly names hold 259 characters and a terminator;
// longer ones are cut.
constexpr size_t kKsNameSize = 260;

class CKsFilter : public CKsIrpTarget {
public:
    // E_INVALIDARG in *hr when either string is null.
    CKsFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* hr);
    virtual ~CKsFilter();
    CKsFilter(const CKsFilter&) = delete;
    CKsFilter& operator=(const CKsFilter&) = delete;

    // Opens the filter by its symbolic link (closing a handle it already has).
    virtual HRESULT Instantiate();
    virtual HRESULT EnumerateNodes();
    // One pin per pin id, then sorted into the role lists. Refused (E_FAIL)
    // while the filter holds pins: DestroyLists first.
    virtual HRESULT EnumeratePins();
    // Empties every list, freeing the nodes and pins the filter owns.
    virtual HRESULT DestroyLists();

    HRESULT ClassifyPins();

    // KSP_PIN GET requests on the filter handle. The multi form hands the
    // caller a buffer to free with delete[] (null for an empty reply).
    HRESULT GetPinPropertySimple(ULONG pinId, ULONG propertyId, void* buffer, DWORD size);
    HRESULT GetPinPropertyMulti(ULONG pinId, ULONG propertyId, KSMULTIPLE_ITEM** item);

    CKsList<CKsNode>& Nodes() { return m_listNodes; }
    CKsList<CKsPin>& Pins() { return m_listPins; }
    CKsList<CKsPin>& RenderSinkPins() { return m_listRenderSinkPins; }
    CKsList<CKsPin>& CaptureSourcePins() { return m_listCaptureSourcePins; }
    CKsList<CKsPin>& CaptureSinkPins() { return m_listCaptureSinkPins; }
    CKsList<CKsPin>& RenderSourcePins() { return m_listRenderSourcePins; }
    CKsList<CKsPin>& NoCommPins() { return m_listNoCommPins; }

    ULONG Type() const { return m_type; }
    const char* SymbolicLink() const { return m_pszSymbolicLink; }
    const char* FriendlyName() const { return m_pszFriendlyName; }

protected:
    void InternalInit();
    // The number of pin ids; a count beyond kKsMaxPinCount is a faulty reply.
    HRESULT ReadPinCount(ULONG* count);
    // True (with a trace) when an earlier enumeration left pins.
    bool AlreadyEnumerated(const char* operation) const;
    // No list of the five roles holds a pin.
    bool NoClassifiedPins() const;
    bool NoStreamingPins() const;
    // Empties the role lists, then deletes every pin.
    void DeletePins();

    CKsList<CKsNode> m_listNodes;
    CKsList<CKsPin> m_listPins;  // owned, in pin-id order
    CKsList<CKsPin> m_listRenderSinkPins;
    CKsList<CKsPin> m_listCaptureSourcePins;
    CKsList<CKsPin> m_listCaptureSinkPins;
    CKsList<CKsPin> m_listRenderSourcePins;
    CKsList<CKsPin> m_listNoCommPins;
    ULONG m_type = kKsFilterPlain;
    char m_pszSymbolicLink[kKsNameSize];
    char m_pszFriendlyName[kKsNameSize];
};
