#include "security/crypto_provider.h"

#include "security/crypto_provider_seam.h"

namespace tw::security {

NTSTATUS OpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algorithm_id) {
  *algorithm = nullptr;
  const NTSTATUS status = CurrentCryptoProviderApi().open_algorithm_provider(
      algorithm, algorithm_id, /*pszImplementation=*/nullptr, /*dwFlags=*/0);
  if (status < 0) *algorithm = nullptr;
  return status;
}

}  // namespace tw::security
