// The one stand-in of the credential seam (security/credential_seam.h): it
// records what CredWriteW was handed (a copy of the blob, and where the
// store kept it), can refuse writes, and looks at every record handed back
// to CredFree to see whether its blob was wiped. Everything else goes to the
// platform.
//
// Example:
//   RecordingCredentialApi credentials;   // installed for this scope
//   credentials.RefuseWrites();
//   ... writeToken ...
//   EXPECT_EQ(credentials.events(), (std::vector<std::string>{"write"}));
//
#ifndef SECURITY_TESTING_RECORDING_CREDENTIAL_API_H_
#define SECURITY_TESTING_RECORDING_CREDENTIAL_API_H_

#include <windows.h>
#include <wincred.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "security/credential_seam.h"
#include "testing/seam_stand_in.h"

namespace tw::security::test {

class RecordingCredentialApi : public ::tw::test::SeamStandIn<RecordingCredentialApi, CredentialApi,
                                                              &SetCredentialApiForTesting> {
 public:
  RecordingCredentialApi() : SeamStandIn(Table()) {}

  // Later writes fail with ERROR_NO_SUCH_LOGON_SESSION and store nothing.
  void RefuseWrites() { accept_writes_ = false; }

  // What happened, in order: "write", "free wiped" or "free NOT wiped", and
  // whatever the test adds.
  const std::vector<std::string>& events() const { return events_; }
  void AddEvent(std::string event) { events_.push_back(std::move(event)); }

  // The blob as CredWriteW got it.
  const std::vector<std::uint8_t>& written_blob() const { return written_blob_; }
  // Whether the memory the store handed to CredWriteW is all zero now; it
  // must still be allocated.
  bool WrittenMemoryIsWiped() const {
    return std::all_of(blob_memory_, blob_memory_ + blob_size_,
                       [](std::uint8_t b) { return b == 0; });
  }

 private:
  static CredentialApi Table() {
    CredentialApi table;
    table.cred_write = &Write;
    table.cred_free = &Free;
    return table;
  }

  static BOOL WINAPI Write(PCREDENTIALW credential, DWORD flags) {
    RecordingCredentialApi& self = current();
    self.events_.push_back("write");
    self.blob_memory_ = credential->CredentialBlob;
    self.blob_size_ = credential->CredentialBlobSize;
    self.written_blob_.assign(credential->CredentialBlob,
                              credential->CredentialBlob + credential->CredentialBlobSize);
    if (!self.accept_writes_) {
      ::SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
      return FALSE;
    }
    return ::CredWriteW(credential, flags);
  }

  // Looks at the record before it goes back to the platform.
  static VOID WINAPI Free(PVOID buffer) {
    const auto* credential = static_cast<const CREDENTIALW*>(buffer);
    const std::uint8_t* blob = credential->CredentialBlob;
    const bool wiped = std::all_of(blob, blob + credential->CredentialBlobSize,
                                   [](std::uint8_t b) { return b == 0; });
    current().events_.push_back(wiped ? "free wiped" : "free NOT wiped");
    ::CredFree(buffer);
  }

  bool accept_writes_ = true;
  std::vector<std::string> events_;
  std::vector<std::uint8_t> written_blob_;
  const std::uint8_t* blob_memory_ = nullptr;
  std::size_t blob_size_ = 0;
};

}  // namespace tw::security::test

#endif  // SECURITY_TESTING_RECORDING_CREDENTIAL_API_H_
