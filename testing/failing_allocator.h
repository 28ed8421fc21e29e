// Allocation failure on demand, for tests that show how code behaves when
// memory runs out at any one point.
//
// A program that links tw_failing_allocator has its global operator new
// and operator delete replaced (by malloc and free). Unarmed, nothing
// changes. Armed with n, the n-th allocation from then on raises
// std::bad_alloc, once; later ones succeed again.
//
// Example:
//   for (long n = 1;; ++n) {
//     tw::test::FailAllocation(n);
//     RunTheCall();
//     if (!tw::test::DisarmAllocationFailure()) break;  // the call needs fewer
//     ...check the outcome of a failure at the n-th allocation...
//   }
#ifndef TESTING_FAILING_ALLOCATOR_H_
#define TESTING_FAILING_ALLOCATOR_H_

namespace tw::test {

// Arms the failure of the `n`-th allocation from now on (n >= 1).
void FailAllocation(long n);

// Disarms; true when the armed allocation did fail.
bool DisarmAllocationFailure();

}  // namespace tw::test

#endif  // TESTING_FAILING_ALLOCATOR_H_
