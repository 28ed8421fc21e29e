#include "testing/allocation_failure.h"

#include <cstdlib>
#include <new>

namespace {

// Allocations still to go until the failing one; 0 when unarmed.
long g_allocations_until_failure = 0;
bool g_failed = false;

}  // namespace

void* operator new(std::size_t size) {
  if (g_allocations_until_failure > 0 && --g_allocations_until_failure == 0) {
    g_failed = true;
    throw std::bad_alloc();
  }
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  throw std::bad_alloc();
}

namespace tw::test {

FailAllocation::FailAllocation(long nth) {
  g_failed = false;
  g_allocations_until_failure = nth;
}

FailAllocation::~FailAllocation() { g_allocations_until_failure = 0; }

bool FailAllocation::failed() const { return g_failed; }

}  // namespace tw::test
