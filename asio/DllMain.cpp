// Entry points of VelmorR5R6ASIO.dll.
#include "ClassFactory.h"
#include "ModuleState.h"
#include "Registration.h"

#include <new>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        SetModuleHandle(instance);
        DriverHeap();
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // At process exit other threads may still hold blocks: leave the heap to the system then.
        DestroyDriverHeap();
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    auto* factory = new CAsioClsFactory(clsid);
    if (!factory) return E_FAIL;
    factory->NonDelegatingAddRef();
    HRESULT hr = factory->NonDelegatingQueryInterface(iid, object);
    factory->NonDelegatingRelease();
    return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return CanUnload() ? S_OK : S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    char path[MAX_PATH] = "";
    DWORD length = GetModuleFileNameA(ModuleHandle(), path, sizeof(path));
    if (length == 0 || length >= sizeof(path)) return E_FAIL;
    return RegisterDriver(path);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return UnregisterDriver(); }
