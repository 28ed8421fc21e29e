// The one stand-in of the volume seam (security/volume_seam.h): answers a
// chosen serial for every volume, or fails, and counts the queries.
//
// Example:
//   FakeVolume volume;          // installed for this scope
//   volume.Answer(0xDEADBEEF);  // or volume.Fail();
//
// One at a time: the query reaches the installed object through a static
// pointer, as the seam's entry is a plain function.
#ifndef SECURITY_TESTING_FAKE_VOLUME_H_
#define SECURITY_TESTING_FAKE_VOLUME_H_

#include <windows.h>

#include <string>

#include "security/volume_seam.h"
#include "testing/scoped_override.h"

namespace tw::security::test {

class FakeVolume {
 public:
  FakeVolume() : install_(Table()) { current_ = this; }
  ~FakeVolume() { current_ = nullptr; }
  FakeVolume(const FakeVolume&) = delete;
  FakeVolume& operator=(const FakeVolume&) = delete;

  // Later queries succeed with `serial`.
  void Answer(DWORD serial) {
    serial_ = serial;
    fail_ = false;
  }
  // Later queries fail (ERROR_NOT_READY, as for an empty drive), after
  // writing a nonzero serial, so that a caller that ignores the failure
  // shows it.
  void Fail() { fail_ = true; }

  int queries() const { return queries_; }
  // The root path of the last query.
  const std::wstring& last_root() const { return last_root_; }

 private:
  static VolumeApi Table() {
    VolumeApi table;
    table.get_volume_information = &Query;
    return table;
  }

  static BOOL WINAPI Query(LPCWSTR root, LPWSTR, DWORD, LPDWORD serial, LPDWORD, LPDWORD, LPWSTR,
                           DWORD) {
    FakeVolume& self = *current_;
    ++self.queries_;
    self.last_root_ = root != nullptr ? root : L"";
    if (self.fail_) {
      if (serial != nullptr) *serial = 0x5EED;
      ::SetLastError(ERROR_NOT_READY);
      return FALSE;
    }
    if (serial != nullptr) *serial = self.serial_;
    return TRUE;
  }

  static inline FakeVolume* current_ = nullptr;

  DWORD serial_ = 0;
  bool fail_ = false;
  int queries_ = 0;
  std::wstring last_root_;
  ::tw::test::ScopedOverride<VolumeApi, &SetVolumeApiForTesting> install_;
};

}  // namespace tw::security::test

#endif  // SECURITY_TESTING_FAKE_VOLUME_H_
