#include "security/crypto_provider_seam.h"

#include "util/seam.h"

namespace tw::security {
namespace {

SeamTable<CryptoProviderApi, &CryptoProviderApi::open_algorithm_provider> g_seam;

}  // namespace

const CryptoProviderApi& CurrentCryptoProviderApi() { return g_seam.current(); }

CryptoProviderApi SetCryptoProviderApiForTesting(const CryptoProviderApi& api) {
  return g_seam.Install(api);
}

}  // namespace tw::security
