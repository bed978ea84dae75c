// Reference counting shared by the factory and the driver object, with the
// aggregation arrangement COM allows: the IUnknown slots of each object
// forward to an owner unknown, which is the object's own non-delegating one
// unless another object aggregates it.
#pragma once

#include <windows.h>
#include <unknwn.h>

struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

class CUnknown : public INonDelegatingUnknown {
public:
    explicit CUnknown(IUnknown* outer);
    virtual ~CUnknown();
    CUnknown(const CUnknown&) = delete;
    CUnknown& operator=(const CUnknown&) = delete;

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    IUnknown* Owner() const { return m_owner; }

    // Objects of the driver live in the driver's heap, zero-filled.
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;

protected:
    // Hands out an interface pointer after an AddRef through it.
    static HRESULT Give(IUnknown* interfacePointer, void** object);

private:
    volatile LONG m_references = 0;
    IUnknown* m_owner;
};
