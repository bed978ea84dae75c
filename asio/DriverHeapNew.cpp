// Inside the driver DLL every allocation (filters, pins, list entries,
// buffers) comes from the driver's private heap, zero-filled.
#include "ModuleState.h"

#include <new>

void* operator new(size_t size) {
    void* block = DriverAlloc(size);
    if (!block) throw std::bad_alloc();
    return block;
}

void* operator new[](size_t size) {
    void* block = DriverAlloc(size);
    if (!block) throw std::bad_alloc();
    return block;
}

void* operator new(size_t size, const std::nothrow_t&) noexcept { return DriverAlloc(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return DriverAlloc(size); }
void operator delete(void* block) noexcept { DriverFree(block); }
void operator delete[](void* block) noexcept { DriverFree(block); }
void operator delete(void* block, size_t) noexcept { DriverFree(block); }
void operator delete[](void* block, size_t) noexcept { DriverFree(block); }
