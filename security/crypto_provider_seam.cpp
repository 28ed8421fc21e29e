#include "security/crypto_provider_seam.h"

#include "util/seam.h"

namespace tw::security {
namespace {

CryptoProviderApi g_api;

}  // namespace

const CryptoProviderApi& CurrentCryptoProviderApi() { return g_api; }

CryptoProviderApi SetCryptoProviderApiForTesting(const CryptoProviderApi& api) {
  const CryptoProviderApi previous = g_api;
  g_api.open_algorithm_provider =
      OrPlatform(api.open_algorithm_provider, CryptoProviderApi().open_algorithm_provider);
  return previous;
}

}  // namespace tw::security
