// Lists the audio filters present on the machine: every interface of the
// first device class that is also enabled in each further class.
#pragma once

#include "KsAudFilter.h"
#include "KsList.h"

#include <windows.h>

class CKsEnumFilters {
public:
    explicit CKsEnumFilters(HRESULT* hr);  // always S_OK
    virtual ~CKsEnumFilters();
    CKsEnumFilters(const CKsEnumFilters&) = delete;
    CKsEnumFilters& operator=(const CKsEnumFilters&) = delete;

    // Opens a render filter on each interface found, with its pins; E_FAIL
    // when none could be opened.
    HRESULT EnumFilters(const GUID* classes, ULONG count);
    virtual HRESULT DestroyLists();

    CKsList<CKsFilter>& Filters() { return m_listFilters; }

private:
    CKsList<CKsFilter> m_listFilters;  // owned
};
