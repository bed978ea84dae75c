#include "ClassFactory.h"

#include "ModuleState.h"

CAsioClsFactory::CAsioClsFactory(REFCLSID clsid) : CUnknown(nullptr), m_clsid(clsid) {}

HRESULT STDMETHODCALLTYPE CAsioClsFactory::QueryInterface(REFIID iid, void** object) {
    return Owner()->QueryInterface(iid, object);
}

ULONG STDMETHODCALLTYPE CAsioClsFactory::AddRef() { return Owner()->AddRef(); }

ULONG STDMETHODCALLTYPE CAsioClsFactory::Release() { return Owner()->Release(); }

HRESULT STDMETHODCALLTYPE CAsioClsFactory::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) return CUnknown::NonDelegatingQueryInterface(iid, object);
    if (IsEqualIID(iid, IID_IClassFactory)) return Give(static_cast<IClassFactory*>(this), object);
    *object = nullptr;
    return E_FAIL;
}

HRESULT STDMETHODCALLTYPE CAsioClsFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    return CreateDriverObject(outer, m_clsid, iid, object);
}

HRESULT STDMETHODCALLTYPE CAsioClsFactory::LockServer(BOOL lock) {
    LockModule(lock != FALSE);
    return S_OK;
}
