// Audio filters: only pins able to stream audio are kept; the render and
// capture flavours find a pin for a wave format.
#pragma once

#include "KsAudPin.h"
#include "KsFilter.h"

class CKsAudFilter : public CKsFilter {
public:
    CKsAudFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* hr);
    ~CKsAudFilter() override = default;

    // Render pins (sink, in), capture pins (sink, out) and other audio pins;
    // pins that cannot stream audio are left out.
    HRESULT EnumeratePins() override;
};

class CKsAudRenFilter : public CKsAudFilter {
public:
    CKsAudRenFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* hr);
    // The first render-sink pin that accepts the format, or null.
    CKsAudPin* FindViablePin(const WAVEFORMATEX* pwfx, ULONG flags);
};

class CKsAudCapFilter : public CKsAudFilter {
public:
    CKsAudCapFilter(const char* pszSymbolicLink, const char* pszFriendlyName, HRESULT* hr);
    // The first capture-sink pin that accepts the format, or null.
    CKsAudPin* FindViablePin(const WAVEFORMATEX* pwfx, ULONG flags);
};
