#include "FailingNew.h"

#include <cstdlib>
#include <new>

namespace {

thread_local long t_countdown = -1;
thread_local bool t_failed = false;

void* Allocate(std::size_t size) {
    if (t_countdown >= 0 && t_countdown-- == 0) {
        t_failed = true;
        throw std::bad_alloc();
    }
    void* block = std::malloc(size ? size : 1);
    if (!block) throw std::bad_alloc();
    return block;
}

}  // namespace

void FailNthAllocation(long n) {
    t_countdown = n;
    t_failed = false;
}

bool AllocationFailed() { return t_failed; }

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
