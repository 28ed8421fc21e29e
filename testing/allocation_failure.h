// Makes one allocation of the test program fail, to show what code does
// when memory runs out at exactly that point.
//
// A test program that links tw_allocation_failure gets its replaceable
// global operator new from here (the array and nothrow forms forward to it).
// Unarmed it is malloc, as the library's operator delete expects. While a
// FailAllocation armed with `nth` lives, the nth allocation from its
// construction on throws std::bad_alloc, once. Only this program's own
// allocations count: a DLL with its own runtime (the development engine)
// allocates elsewhere. One may live at a time; not thread-safe.
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
#ifndef TESTING_ALLOCATION_FAILURE_H_
#define TESTING_ALLOCATION_FAILURE_H_

namespace tw::test {

class FailAllocation {
 public:
  explicit FailAllocation(long nth);
  ~FailAllocation();
  FailAllocation(const FailAllocation&) = delete;
  FailAllocation& operator=(const FailAllocation&) = delete;

  // Whether the nth allocation came, and so failed.
  bool failed() const;
};

}  // namespace tw::test

#endif  // TESTING_ALLOCATION_FAILURE_H_
