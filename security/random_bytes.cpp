#include "security/random_bytes.h"

#include <windows.h>
#include <bcrypt.h>

namespace tw::security {

bool RandomBytes(std::uint8_t* data, std::size_t size) {
  return ::BCryptGenRandom(/*hAlgorithm=*/nullptr, data, static_cast<ULONG>(size),
                           BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}

}  // namespace tw::security
