// SPDX-License-Identifier: GPL-3.0-or-later
#include "alloccount.h"

#include <atomic>
#include <cstddef>

// glibc's own entry points; the definitions below take the public names for
// the whole process, shared libraries included.
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *ptr, size_t size);
void __libc_free(void *ptr);
}

namespace {
std::atomic<long long> allocations{0};
}

extern "C" {

void *malloc(size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

void *calloc(size_t count, size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}

void *realloc(void *ptr, size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(ptr, size);
}

void free(void *ptr)
{
    __libc_free(ptr);
}

} // extern "C"

namespace quelmar::bench {

long long allocationCount()
{
    return allocations.load(std::memory_order_relaxed);
}

} // namespace quelmar::bench
