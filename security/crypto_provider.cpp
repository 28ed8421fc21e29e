#include "security/crypto_provider.h"

namespace tw::security {
namespace {

NTSTATUS OpenReal(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algorithm_id) {
  return ::BCryptOpenAlgorithmProvider(algorithm, algorithm_id, /*pszImplementation=*/nullptr,
                                       /*dwFlags=*/0);
}

OpenProviderFunction g_open = &OpenReal;

}  // namespace

NTSTATUS OpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algorithm_id) {
  *algorithm = nullptr;
  const NTSTATUS status = g_open(algorithm, algorithm_id);
  if (status < 0) *algorithm = nullptr;
  return status;
}

OpenProviderFunction SetOpenProviderForTesting(OpenProviderFunction function) {
  OpenProviderFunction previous = g_open;
  g_open = function != nullptr ? function : &OpenReal;
  return previous;
}

}  // namespace tw::security
