// The seam of the top-level window's Desktop Window Manager calls.
//
// Wine answers S_OK to the title-bar attributes and keeps none of them, so
// the only way a test can see the dark title bar being set is to watch the
// calls themselves. The product never installs anything here. The entry
// defaults to the platform call, and a null entry stands for it.
//
// Thread: the window thread; install only while no window is being created
// or handles WM_DWMCOLORIZATIONCOLORCHANGED on another thread.
#ifndef RUNNER_DWM_SEAM_H_
#define RUNNER_DWM_SEAM_H_

#include <windows.h>
#include <dwmapi.h>

namespace tw::runner {

struct DwmApi {
  decltype(&::DwmSetWindowAttribute) set_window_attribute = &::DwmSetWindowAttribute;
};

// The table in use; never holds a null entry.
const DwmApi& CurrentDwmApi();

// Installs `api` for every later call and returns the table it replaces.
// For tests only; not thread-safe: the callers are one-threaded.
DwmApi SetDwmApiForTesting(const DwmApi& api);

}  // namespace tw::runner

#endif  // RUNNER_DWM_SEAM_H_
