// The seam of the device identity's volume query.
//
// The serial of C: is whatever the machine has; a test cannot make it 0 or
// make the query fail, and both must still give an identity. Tests replace
// the call to produce them. The entry defaults to the platform call, and a
// null entry stands for it.
#ifndef SECURITY_VOLUME_SEAM_H_
#define SECURITY_VOLUME_SEAM_H_

#include <windows.h>

namespace tw::security {

struct VolumeApi {
  decltype(&::GetVolumeInformationW) get_volume_information = &::GetVolumeInformationW;
};

// The table in use; never holds a null entry.
const VolumeApi& CurrentVolumeApi();

// Installs `api` for every later query and returns the table it replaces.
// For tests only; not thread-safe: the callers are one-threaded.
VolumeApi SetVolumeApiForTesting(const VolumeApi& api);

}  // namespace tw::security

#endif  // SECURITY_VOLUME_SEAM_H_
