#include "testing/allocation_failure.h"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

// Tests run on one thread; the counter is only touched between arming and
// disarming.
long g_allocations_until_failure = 0;
bool g_failed = false;

void* Allocate(std::size_t size) {
  if (g_allocations_until_failure > 0 && --g_allocations_until_failure == 0) {
    g_failed = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}

}  // namespace

namespace tw::test {

void ArmAllocationFailure(long nth) {
  g_failed = false;
  g_allocations_until_failure = nth;
}

bool DisarmAllocationFailure() {
  g_allocations_until_failure = 0;
  return g_failed;
}

bool FailAllocation::failed() const { return g_failed; }

}  // namespace tw::test

// Every form that pairs with malloc and free is replaced, so that no block
// is released by a different allocator than the one that made it (which
// the address sanitizer reports).
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
