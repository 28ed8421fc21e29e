#include "security/volume_seam.h"

#include "util/seam.h"

namespace tw::security {
namespace {

VolumeApi g_api;

}  // namespace

const VolumeApi& CurrentVolumeApi() { return g_api; }

VolumeApi SetVolumeApiForTesting(const VolumeApi& api) {
  const VolumeApi previous = g_api;
  g_api.get_volume_information =
      OrPlatform(api.get_volume_information, VolumeApi().get_volume_information);
  return previous;
}

}  // namespace tw::security
