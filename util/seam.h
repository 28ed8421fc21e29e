// The one rule every seam table of platform calls follows (a
// `<folder>/<name>_seam.h`): a null entry stands for the platform call.
#ifndef UTIL_SEAM_H_
#define UTIL_SEAM_H_

namespace tw {

// `installed`, or `platform` where `installed` is null.
template <typename Call>
constexpr Call OrPlatform(Call installed, Call platform) {
  return installed != nullptr ? installed : platform;
}

}  // namespace tw

#endif  // UTIL_SEAM_H_
