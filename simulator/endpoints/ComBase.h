// Reference counting for the virtual device's COM objects, with a count of
// those alive in the process (a leak shows as a count that grows).
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace sim {

void CountObjectAlive();
void CountObjectGone();

// One COM object with the interface I first; QueryInterface answers
// IUnknown and I, and Extra() may answer more.
template <typename I>
class ComObject : public I {
public:
    ComObject() { CountObjectAlive(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(I))) {
            *object = static_cast<I*>(this);
        } else {
            *object = Extra(iid);
        }
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }

protected:
    virtual ~ComObject() { CountObjectGone(); }
    virtual void* Extra(REFIID) { return nullptr; }

private:
    LONG refs_ = 1;
};

// Hands a new object (reference count 1) to an out pointer.
template <typename I, typename T>
HRESULT HandOut(T* object, I** out) {
    if (!out) {
        if (object) object->Release();
        return E_POINTER;
    }
    *out = object;
    return object ? S_OK : E_OUTOFMEMORY;
}

// A copy of a wide string in task memory, as COM callers free it.
LPWSTR TaskString(const wchar_t* text);

}  // namespace sim
