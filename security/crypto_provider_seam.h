// The seam of the bcrypt providers: every algorithm provider the security
// services use (AES for packages, SHA-256 for the device identity) is
// opened through this table.
//
// A provider that will not open, or one that opens as another algorithm,
// cannot be produced on a working system; tests replace the call to produce
// both. Every other bcrypt call goes to the platform directly. The entry
// defaults to the platform call, and a null entry stands for it.
#ifndef SECURITY_CRYPTO_PROVIDER_SEAM_H_
#define SECURITY_CRYPTO_PROVIDER_SEAM_H_

#include <windows.h>
#include <bcrypt.h>

namespace tw::security {

struct CryptoProviderApi {
  decltype(&::BCryptOpenAlgorithmProvider) open_algorithm_provider = &::BCryptOpenAlgorithmProvider;
};

// The table in use; never holds a null entry.
const CryptoProviderApi& CurrentCryptoProviderApi();

// Installs `api` for every later open and returns the table it replaces.
// For tests only; not thread-safe: the callers are one-threaded.
CryptoProviderApi SetCryptoProviderApiForTesting(const CryptoProviderApi& api);

}  // namespace tw::security

#endif  // SECURITY_CRYPTO_PROVIDER_SEAM_H_
