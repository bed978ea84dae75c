// The class factory hosts get from DllGetClassObject. It makes driver
// objects under whatever class identity it was asked for, so the driver
// answers to the CLSID it was registered with without knowing it in advance.
#pragma once

#include "Unknown.h"

class CAsioClsFactory : public IClassFactory, public CUnknown {
public:
    explicit CAsioClsFactory(REFCLSID clsid);

    // IUnknown: forwarded to the owner unknown.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;

    using CUnknown::operator new;
    using CUnknown::operator delete;

private:
    CLSID m_clsid;
};

// Makes a driver object under a class identity: construction, device
// discovery, then the query for iid. Provided by the driver object.
HRESULT CreateDriverObject(IUnknown* outer, REFCLSID clsid, REFIID iid, void** object);
