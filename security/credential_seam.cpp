#include "security/credential_seam.h"

#include "util/seam.h"

namespace tw::security {
namespace {

SeamTable<CredentialApi, &CredentialApi::cred_write, &CredentialApi::cred_read,
          &CredentialApi::cred_delete, &CredentialApi::cred_free>
    g_seam;

}  // namespace

const CredentialApi& CurrentCredentialApi() { return g_seam.current(); }

CredentialApi SetCredentialApiForTesting(const CredentialApi& api) { return g_seam.Install(api); }

}  // namespace tw::security
