#include "security/volume_seam.h"

#include "util/seam.h"

namespace tw::security {
namespace {

SeamTable<VolumeApi, &VolumeApi::get_volume_information> g_seam;

}  // namespace

const VolumeApi& CurrentVolumeApi() { return g_seam.current(); }

VolumeApi SetVolumeApiForTesting(const VolumeApi& api) { return g_seam.Install(api); }

}  // namespace tw::security
