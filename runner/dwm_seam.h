// The seam of the top-level window's Desktop Window Manager calls.
//
// Wine answers S_OK to the title-bar attributes and keeps none of them, so
// the only way a test can see the dark title bar being set is to watch the
// calls themselves. The product never installs anything here.
//
// Thread: the window thread; install only while no window is being created
// or handles WM_DWMCOLORIZATIONCOLORCHANGED on another thread.
#ifndef RUNNER_DWM_SEAM_H_
#define RUNNER_DWM_SEAM_H_

#include <windows.h>
#include <dwmapi.h>

namespace tw::runner {

// A null entry stands for the platform call.
struct DwmApi {
  decltype(&::DwmSetWindowAttribute) set_window_attribute = &::DwmSetWindowAttribute;
};

// The installed table with every null entry replaced by the platform call.
DwmApi CurrentDwmApi();

// Installs `api` and returns the table it replaced. For tests only, through
// tw::test::ScopedOverride.
DwmApi SetDwmForTesting(const DwmApi& api);

}  // namespace tw::runner

#endif  // RUNNER_DWM_SEAM_H_
