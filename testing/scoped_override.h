// Installs a replacement through a product seam for one scope, and puts back
// what was installed before at the end of it. `Install` is the seam's setter:
// it takes the replacement and returns what it replaced.
//
// Example:
//   using DwmOverride = tw::test::ScopedOverride<DwmApi, &SetDwmApiForTesting>;
//   DwmOverride fail(DwmApi{&FailToSet});  // the real call is back after the scope
#ifndef TESTING_SCOPED_OVERRIDE_H_
#define TESTING_SCOPED_OVERRIDE_H_

namespace tw::test {

template <typename Value, auto Install>
class ScopedOverride {
 public:
  explicit ScopedOverride(const Value& replacement) : previous_(Install(replacement)) {}
  ~ScopedOverride() { Install(previous_); }
  ScopedOverride(const ScopedOverride&) = delete;
  ScopedOverride& operator=(const ScopedOverride&) = delete;

 private:
  Value previous_;
};

}  // namespace tw::test

#endif  // TESTING_SCOPED_OVERRIDE_H_
