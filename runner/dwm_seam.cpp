#include "runner/dwm_seam.h"

#include <utility>

namespace tw::runner {
namespace {

DwmApi g_dwm;

}  // namespace

DwmApi CurrentDwmApi() {
  DwmApi api = g_dwm;
  if (api.set_window_attribute == nullptr) api.set_window_attribute = DwmApi{}.set_window_attribute;
  return api;
}

DwmApi SetDwmForTesting(const DwmApi& api) { return std::exchange(g_dwm, api); }

}  // namespace tw::runner
