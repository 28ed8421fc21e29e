// The one stand-in of the title-bar seam (runner/dwm_seam.h): records every
// DwmSetWindowAttribute while it lives and answers S_OK, as Wine does,
// without passing the call on.
//
// Example:
//   tw::runner::test::RecordingDwm dwm;  // installed for this scope
//   window.Create(...);
//   EXPECT_EQ(dwm.calls(), (std::vector<DwmAttributeCall>{{hwnd, 20, 1, 4}, ...}));
//
// One may live at a time, on the window thread.
#ifndef RUNNER_TESTING_RECORDING_DWM_H_
#define RUNNER_TESTING_RECORDING_DWM_H_

#include <windows.h>

#include <cstring>
#include <ostream>
#include <vector>

#include "runner/dwm_seam.h"
#include "testing/seam_stand_in.h"

namespace tw::runner::test {

// One call as the window made it. `value` holds the first four bytes the
// call pointed at (0 when it passed fewer or none); `size` is what it said.
struct DwmAttributeCall {
  HWND window;
  DWORD attribute;
  DWORD value;
  DWORD size;

  bool operator==(const DwmAttributeCall& other) const {
    return window == other.window && attribute == other.attribute && value == other.value &&
           size == other.size;
  }
};

inline std::ostream& operator<<(std::ostream& out, const DwmAttributeCall& call) {
  return out << "{window " << call.window << ", attribute " << call.attribute << ", value 0x"
             << std::hex << call.value << std::dec << ", size " << call.size << "}";
}

class RecordingDwm : public ::tw::test::SeamStandIn<RecordingDwm, DwmApi, &SetDwmApiForTesting> {
 public:
  RecordingDwm() : SeamStandIn(Table()) {}

  const std::vector<DwmAttributeCall>& calls() const { return calls_; }
  void Clear() { calls_.clear(); }

 private:
  static DwmApi Table() {
    DwmApi table;
    table.set_window_attribute = &Record;
    return table;
  }

  static HRESULT WINAPI Record(HWND window, DWORD attribute, LPCVOID value, DWORD size) noexcept {
    DWORD first = 0;
    if (value != nullptr && size >= sizeof(first)) std::memcpy(&first, value, sizeof(first));
    try {
      current().calls_.push_back({window, attribute, first, size});
    } catch (...) {
      // A call that cannot be recorded shows as a missing one.
    }
    return S_OK;
  }

  std::vector<DwmAttributeCall> calls_;
};

}  // namespace tw::runner::test

#endif  // RUNNER_TESTING_RECORDING_DWM_H_
