// The one rule every seam table of platform calls follows (a
// `<folder>/<name>_seam.h`): a null entry stands for the platform call, and
// installing a table returns the one it replaced.
//
// Example (the .cpp of a seam):
//   namespace {
//   tw::SeamTable<VolumeApi, &VolumeApi::get_volume_information> g_seam;
//   }  // namespace
//   const VolumeApi& CurrentVolumeApi() { return g_seam.current(); }
//   VolumeApi SetVolumeApiForTesting(const VolumeApi& api) { return g_seam.Install(api); }
#ifndef UTIL_SEAM_H_
#define UTIL_SEAM_H_

namespace tw {

// `installed`, or `platform` where `installed` is null.
template <typename Call>
constexpr Call OrPlatform(Call installed, Call platform) {
  return installed != nullptr ? installed : platform;
}

// The table of calls a seam uses. `Api` is a struct whose entries default to
// the platform calls; `Entries` names every one of them. Not thread-safe:
// tests install tables on the thread that uses them.
template <typename Api, auto... Entries>
class SeamTable {
 public:
  // The calls in use; no entry is ever null.
  const Api& current() const { return api_; }

  // Installs `api`, each null entry standing for the platform call, and
  // returns the table it replaces.
  Api Install(const Api& api) {
    const Api previous = api_;
    const Api platform{};
    ((api_.*Entries = OrPlatform(api.*Entries, platform.*Entries)), ...);
    return previous;
  }

 private:
  Api api_{};
};

}  // namespace tw

#endif  // UTIL_SEAM_H_
