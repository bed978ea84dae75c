#include "ModuleState.h"

namespace {

HMODULE g_module = nullptr;
HANDLE g_heap = nullptr;
volatile LONG g_objects = 0;
volatile LONG g_locks = 0;

}  // namespace

HMODULE ModuleHandle() { return g_module; }
void SetModuleHandle(HMODULE module) { g_module = module; }

HMODULE PinModule() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&PinModule), &module)) {
        return nullptr;
    }
    return module;
}

HANDLE DriverHeap() {
    if (!g_heap) {
        HANDLE heap = HeapCreate(0, 0x10000, 0);
        if (heap && InterlockedCompareExchangePointer(&g_heap, heap, nullptr) != nullptr) HeapDestroy(heap);
    }
    return g_heap;
}

void DestroyDriverHeap() {
    HANDLE heap = InterlockedExchangePointer(&g_heap, nullptr);
    if (heap) HeapDestroy(heap);
}

void* DriverAlloc(size_t size) {
    HANDLE heap = DriverHeap();
    return heap ? HeapAlloc(heap, HEAP_ZERO_MEMORY, size ? size : 1) : nullptr;
}

void DriverFree(void* block) {
    if (block && g_heap) HeapFree(g_heap, 0, block);
}

void ObjectCreated() { InterlockedIncrement(&g_objects); }
void ObjectDestroyed() { InterlockedDecrement(&g_objects); }
long LiveObjects() { return g_objects; }
void LockModule(bool lock) { lock ? InterlockedIncrement(&g_locks) : InterlockedDecrement(&g_locks); }
bool CanUnload() { return g_locks <= 0 && g_objects <= 0; }
