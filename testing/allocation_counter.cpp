#include "testing/allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {

// Per thread, so that a test counts its own work and nothing of a helper thread's.
thread_local unsigned long t_allocations = 0;

void* allocate(std::size_t size) {
  ++t_allocations;
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

namespace testing_support {

unsigned long allocationsOnThisThread() { return t_allocations; }

}  // namespace testing_support

// Every form that a replaced plain new would otherwise pair with the library's own delete
// is replaced, so that sanitizers see matching malloc and free.
void* operator new(std::size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
