// Opening bcrypt algorithm providers through the provider seam
// (security/crypto_provider_seam.h).
#ifndef SECURITY_CRYPTO_PROVIDER_H_
#define SECURITY_CRYPTO_PROVIDER_H_

#include <windows.h>
#include <bcrypt.h>

namespace tw::security {

// Opens the default implementation of `algorithm_id` (BCRYPT_AES_ALGORITHM,
// BCRYPT_SHA256_ALGORITHM) with flags 0. A negative status is a failure and
// leaves *algorithm null, whatever the call wrote there.
NTSTATUS OpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algorithm_id);

}  // namespace tw::security

#endif  // SECURITY_CRYPTO_PROVIDER_H_
