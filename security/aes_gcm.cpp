#include "security/aes_gcm.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "security/crypto_provider.h"
#include "security/package_format.h"

namespace tw::security {
namespace {

// The one mode record of a chunk. bcrypt takes the buffers as mutable; it
// writes only the tag, and only when sealing, so copies of the nonce and the
// additional data are handed over instead of casting constness away.
struct ChunkMode {
  ChunkMode(const std::uint8_t* nonce_bytes, std::uint8_t* tag) {
    std::memcpy(nonce, nonce_bytes, kNonceSize);
    std::memcpy(aad, kChunkAad, kChunkAadSize);
    // Each chunk is one complete GCM message: no chaining, no MAC context,
    // no running counts, no flags.
    BCRYPT_INIT_AUTH_MODE_INFO(info);
    info.pbNonce = nonce;
    info.cbNonce = kNonceSize;
    info.pbAuthData = aad;
    info.cbAuthData = kChunkAadSize;
    info.pbTag = tag;
    info.cbTag = kTagSize;
  }

  std::uint8_t nonce[kNonceSize];
  std::uint8_t aad[kChunkAadSize];
  BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
};

}  // namespace

AesGcmKey::Status AesGcmKey::Init(const std::uint8_t* key) {
  Reset();
  if (OpenAlgorithmProvider(aes_.put(), BCRYPT_AES_ALGORITHM) < 0) return Status::kUnavailable;
  if (::BCryptSetProperty(aes_.get(), BCRYPT_CHAINING_MODE,
                          reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_GCM)),
                          sizeof(BCRYPT_CHAIN_MODE_GCM), /*dwFlags=*/0) < 0 ||
      ::BCryptGenerateSymmetricKey(aes_.get(), key_.put(), /*pbKeyObject=*/nullptr,
                                   /*cbKeyObject=*/0, const_cast<std::uint8_t*>(key), kKeySize,
                                   /*dwFlags=*/0) < 0) {
    Reset();
    return Status::kSetupFailed;
  }
  return Status::kOk;
}

bool AesGcmKey::Open(const std::uint8_t* nonce, const std::uint8_t* tag,
                     const std::uint8_t* ciphertext, std::uint32_t length,
                     std::uint8_t* plain) const {
  std::uint8_t tag_copy[kTagSize];
  std::memcpy(tag_copy, tag, kTagSize);
  ChunkMode mode(nonce, tag_copy);
  ULONG written = 0;
  return ::BCryptDecrypt(key_.get(), const_cast<std::uint8_t*>(ciphertext), length, &mode.info,
                         /*pbIV=*/nullptr, /*cbIV=*/0, plain, length, &written,
                         /*dwFlags=*/0) >= 0 &&
         written == length;
}

bool AesGcmKey::Seal(const std::uint8_t* nonce, const std::uint8_t* plain, std::uint32_t length,
                     std::uint8_t* ciphertext, std::uint8_t* tag) const {
  ChunkMode mode(nonce, tag);
  ULONG written = 0;
  return ::BCryptEncrypt(key_.get(), const_cast<std::uint8_t*>(plain), length, &mode.info,
                         /*pbIV=*/nullptr, /*cbIV=*/0, ciphertext, length, &written,
                         /*dwFlags=*/0) >= 0 &&
         written == length;
}

void AesGcmKey::Reset() {
  key_.reset();
  aes_.reset();
}

}  // namespace tw::security
