// The one stand-in of the volume seam (security/volume_seam.h): answers a
// chosen serial for every volume, or fails, and counts the queries.
//
// Example:
//   FakeVolume volume;          // installed for this scope
//   volume.Answer(0xDEADBEEF);  // or volume.Fail();
//
#ifndef SECURITY_TESTING_FAKE_VOLUME_H_
#define SECURITY_TESTING_FAKE_VOLUME_H_

#include <windows.h>

#include <string>

#include "security/volume_seam.h"
#include "testing/seam_stand_in.h"

namespace tw::security::test {

class FakeVolume : public ::tw::test::SeamStandIn<FakeVolume, VolumeApi, &SetVolumeApiForTesting> {
 public:
  FakeVolume() : SeamStandIn(Table()) {}

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
    FakeVolume& self = current();
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

  DWORD serial_ = 0;
  bool fail_ = false;
  int queries_ = 0;
  std::wstring last_root_;
};

}  // namespace tw::security::test

#endif  // SECURITY_TESTING_FAKE_VOLUME_H_
