// Replaces the allocation functions of the benchmark executable with counting forwarders to the
// C library's own (glibc's __libc_* entry points), so that calls from the library under test,
// from the C++ runtime and from the C library itself are all seen.
#include "alloc_counter.h"

#include <cstddef>
#include <new>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace {
uint64_t allocations = 0;  // the benchmarks run on one thread
}  // namespace

namespace bench {
uint64_t AllocationCount() { return allocations; }
}  // namespace bench

extern "C" {

void* malloc(size_t size) {
    ++allocations;
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    ++allocations;
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) {
    ++allocations;
    return __libc_realloc(pointer, size);
}

void free(void* pointer) { __libc_free(pointer); }

}  // extern "C"

void* operator new(size_t size) {
    ++allocations;
    if (void* p = __libc_malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    ++allocations;
    return __libc_malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void* operator new(size_t size, std::align_val_t alignment) {
    ++allocations;
    if (void* p = __libc_memalign(static_cast<size_t>(alignment), size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size, std::align_val_t alignment) {
    return operator new(size, alignment);
}
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, size_t) noexcept { __libc_free(p); }
void operator delete(void* p, std::align_val_t) noexcept { __libc_free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { __libc_free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { __libc_free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { __libc_free(p); }
