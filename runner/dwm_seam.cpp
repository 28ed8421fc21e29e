#include "runner/dwm_seam.h"

#include "util/seam.h"

namespace tw::runner {
namespace {

DwmApi g_api;

}  // namespace

const DwmApi& CurrentDwmApi() { return g_api; }

DwmApi SetDwmApiForTesting(const DwmApi& api) {
  const DwmApi previous = g_api;
  g_api.set_window_attribute = OrPlatform(api.set_window_attribute, DwmApi().set_window_attribute);
  return previous;
}

}  // namespace tw::runner
