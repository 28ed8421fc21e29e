#include "runner/dwm_seam.h"

#include "util/seam.h"

namespace tw::runner {
namespace {

SeamTable<DwmApi, &DwmApi::set_window_attribute> g_seam;

}  // namespace

const DwmApi& CurrentDwmApi() { return g_seam.current(); }

DwmApi SetDwmApiForTesting(const DwmApi& api) { return g_seam.Install(api); }

}  // namespace tw::runner
