// Opening bcrypt algorithm providers, with a seam for tests.
//
// A provider that will not open cannot be produced on a working system, so
// tests replace the open call to inject that failure. Nothing else of the
// platform is replaced: every other call goes to bcrypt directly.
#ifndef SECURITY_CRYPTO_PROVIDER_H_
#define SECURITY_CRYPTO_PROVIDER_H_

#include <windows.h>
#include <bcrypt.h>

namespace tw::security {

// Same shape as BCryptOpenAlgorithmProvider with implementation null and
// flags 0.
using OpenProviderFunction = NTSTATUS (*)(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algorithm_id);

// Opens the default implementation of `algorithm_id` (BCRYPT_AES_ALGORITHM,
// BCRYPT_SHA256_ALGORITHM) through the current open function. A negative
// status is a failure and leaves *algorithm null.
NTSTATUS OpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algorithm_id);

// Replaces the open function and returns the previous one; null restores the
// real call. For tests only; not thread-safe.
OpenProviderFunction SetOpenProviderForTesting(OpenProviderFunction function);

}  // namespace tw::security

#endif  // SECURITY_CRYPTO_PROVIDER_H_
