// The C library's allocator under the names a program that replaces malloc and operator new for
// the whole process forwards to: glibc's own entry points, or the sanitizer's when one is built
// in, so that it still checks every block. ALLOCATOR marks the replacing functions: the sanitizer
// calls the allocator while it starts, before its shadow memory is there.
#pragma once

#include <cstddef>

extern "C" {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define REAL(f) __interceptor_##f
#else
#define REAL(f) __libc_##f
#endif
void* REAL(malloc)(size_t size);
void* REAL(calloc)(size_t count, size_t size);
void* REAL(realloc)(void* p, size_t size);
void REAL(free)(void* p);
}

#define ALLOCATOR __attribute__((no_sanitize("address", "thread")))
