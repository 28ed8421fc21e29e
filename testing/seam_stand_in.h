// What every stand-in of a seam table shares: for its lifetime it installs
// its table of calls through ScopedOverride, and the calls, which are plain
// functions, reach the stand-in through current(). One stand-in of a kind at
// a time.
//
// Example:
//   class FakeVolume : public tw::test::SeamStandIn<FakeVolume, VolumeApi,
//                                                    &SetVolumeApiForTesting> {
//    public:
//     FakeVolume() : SeamStandIn(Table()) {}
//    private:
//     static VolumeApi Table();  // entries calling current()
//   };
#ifndef TESTING_SEAM_STAND_IN_H_
#define TESTING_SEAM_STAND_IN_H_

#include "testing/scoped_override.h"

namespace tw::test {

template <typename Derived, typename Table, auto Install>
class SeamStandIn {
 public:
  SeamStandIn(const SeamStandIn&) = delete;
  SeamStandIn& operator=(const SeamStandIn&) = delete;

 protected:
  explicit SeamStandIn(const Table& table) : install_(table) {
    current_ = static_cast<Derived*>(this);
  }
  ~SeamStandIn() { current_ = nullptr; }

  // The installed stand-in; only its calls use it, while it is installed.
  static Derived& current() { return *current_; }

 private:
  static inline Derived* current_ = nullptr;
  ScopedOverride<Table, Install> install_;
};

}  // namespace tw::test

#endif  // TESTING_SEAM_STAND_IN_H_
