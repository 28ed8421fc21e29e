// The seam of the token store: its Credential Manager calls go through this
// table.
//
// A working store never refuses a write, and a test cannot look at a record
// once CredFree has released it; tests replace these calls to produce the
// one and to inspect the other. Each entry defaults to the advapi32 call of
// the same name, and a null entry stands for it.
#ifndef SECURITY_CREDENTIAL_SEAM_H_
#define SECURITY_CREDENTIAL_SEAM_H_

#include <windows.h>
#include <wincred.h>

namespace tw::security {

struct CredentialApi {
  decltype(&::CredWriteW) cred_write = &::CredWriteW;
  decltype(&::CredReadW) cred_read = &::CredReadW;
  decltype(&::CredDeleteW) cred_delete = &::CredDeleteW;
  decltype(&::CredFree) cred_free = &::CredFree;
};

// The table in use; never holds a null entry.
const CredentialApi& CurrentCredentialApi();

// Installs `api` for every later call and returns the table it replaces.
// For tests only; not thread-safe: the callers are one-threaded.
CredentialApi SetCredentialApiForTesting(const CredentialApi& api);

}  // namespace tw::security

#endif  // SECURITY_CREDENTIAL_SEAM_H_
