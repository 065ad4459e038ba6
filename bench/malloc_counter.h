#pragma once
// Counts the heap allocations of a benchmark program. Every heap allocation of the process
// passes through malloc (operator new included), so interposing the glibc entry points
// counts them all. Include it in exactly one file of the program.

#include <cstddef>

static unsigned long g_allocations = 0;
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* malloc(size_t n) {
  ++g_allocations;
  return __libc_malloc(n);
}
void* calloc(size_t count, size_t n) {
  ++g_allocations;
  return __libc_calloc(count, n);
}
void* realloc(void* p, size_t n) {
  ++g_allocations;
  return __libc_realloc(p, n);
}
void free(void* p) { __libc_free(p); }
}
