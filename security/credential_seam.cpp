#include "security/credential_seam.h"

#include "util/seam.h"

namespace tw::security {
namespace {

CredentialApi g_api;

}  // namespace

const CredentialApi& CurrentCredentialApi() { return g_api; }

CredentialApi SetCredentialApiForTesting(const CredentialApi& api) {
  const CredentialApi previous = g_api;
  const CredentialApi platform;
  g_api.cred_write = OrPlatform(api.cred_write, platform.cred_write);
  g_api.cred_read = OrPlatform(api.cred_read, platform.cred_read);
  g_api.cred_delete = OrPlatform(api.cred_delete, platform.cred_delete);
  g_api.cred_free = OrPlatform(api.cred_free, platform.cred_free);
  return previous;
}

}  // namespace tw::security
