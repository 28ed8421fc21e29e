// Makes one allocation of the test program fail, to show what code does
// when memory runs out at exactly that point.
//
// A test program that links tw_allocation_failure has its global operator
// new and operator delete replaced by malloc and free (every non-aligned
// form, so that no block is released by another allocator than the one that
// made it, which the address sanitizer would report). Unarmed, nothing
// changes. Armed with `nth`, the nth allocation from then on throws
// std::bad_alloc, once; later ones succeed again. Only this program's own
// allocations count: a DLL with its own runtime (the development engine)
// allocates elsewhere. Not thread-safe: tests arm it on one thread.
//
// Example: fail every allocation point of a constructor in turn.
//
//   for (long nth = 1;; ++nth) {
//     bool failed = false;
//     {
//       tw::test::FailAllocation fail(nth);
//       try { Widget widget; } catch (const std::bad_alloc&) {}
//       failed = fail.failed();
//     }
//     ... check that nothing the constructor made is left ...
//     if (!failed) break;  // fewer than nth allocations: all points covered
//   }
//
// Where arming and disarming happen in different callbacks, use the two
// functions instead of the scope.
#ifndef TESTING_ALLOCATION_FAILURE_H_
#define TESTING_ALLOCATION_FAILURE_H_

namespace tw::test {

// Arms the failure of the `nth` allocation from now on (nth >= 1), replacing
// an earlier arming.
void ArmAllocationFailure(long nth);

// Disarms; true when the armed allocation came, and so failed.
bool DisarmAllocationFailure();

// Armed for the scope of the object.
class FailAllocation {
 public:
  explicit FailAllocation(long nth) { ArmAllocationFailure(nth); }
  ~FailAllocation() { DisarmAllocationFailure(); }
  FailAllocation(const FailAllocation&) = delete;
  FailAllocation& operator=(const FailAllocation&) = delete;

  // Whether the nth allocation has come, and so failed.
  bool failed() const;
};

}  // namespace tw::test

#endif  // TESTING_ALLOCATION_FAILURE_H_
