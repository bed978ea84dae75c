#include "Unknown.h"

#include "ModuleState.h"

CUnknown::CUnknown(IUnknown* outer)
    : m_owner(outer ? outer : reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this))) {
    ObjectCreated();
}

CUnknown::~CUnknown() { ObjectDestroyed(); }

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
        // The non-delegating unknown stands in for IUnknown: same three slots.
        return Give(reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this)), object);
    }
    *object = nullptr;
    return E_INVALIDARG;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_references)); }

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease() {
    LONG count = InterlockedDecrement(&m_references);
    if (count == 0) {
        m_references = 1;  // a destructor that AddRefs and Releases must not come back here
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count);
}

HRESULT CUnknown::Give(IUnknown* interfacePointer, void** object) {
    interfacePointer->AddRef();
    *object = interfacePointer;
    return S_OK;
}

void* CUnknown::operator new(size_t size) noexcept { return DriverAlloc(size); }
void CUnknown::operator delete(void* block) noexcept { DriverFree(block); }
