// One AES-256-GCM key of the package format: the bcrypt provider in GCM
// mode and the key made from 32 bytes, opening and sealing one chunk at a
// time. Every chunk is one complete GCM message under its own 12-byte nonce,
// with a 16-byte tag and the format's additional data (kChunkAad).
//
// Owns its provider and key handle; both are released by Reset() or the
// destructor. The key bytes are not kept: bcrypt holds its own key object.
//
// Example:
//   AesGcmKey aes;
//   if (aes.Init(key) != AesGcmKey::Status::kOk) ...
//   if (!aes.Open(nonce, tag, ciphertext, length, plain)) ...  // not authentic
#ifndef SECURITY_AES_GCM_H_
#define SECURITY_AES_GCM_H_

#include <cstdint>

#include "util/win_handles.h"

namespace tw::security {

class AesGcmKey {
 public:
  enum class Status {
    kOk,
    kUnavailable,  // the AES provider does not open
    kSetupFailed,  // GCM mode or the key cannot be set up
  };

  // Opens the provider (through the provider seam), sets GCM mode and makes
  // the key from the kKeySize bytes at `key`. On failure nothing is held.
  Status Init(const std::uint8_t* key);

  // Authenticates and decrypts `length` bytes of `ciphertext` into `plain`
  // (`length` bytes of room). False when the tag does not match or the
  // platform writes another length; `plain` then holds nothing to use.
  bool Open(const std::uint8_t* nonce, const std::uint8_t* tag, const std::uint8_t* ciphertext,
            std::uint32_t length, std::uint8_t* plain) const;

  // Encrypts `length` bytes of `plain` into `ciphertext` and writes the tag
  // (kTagSize bytes) to `tag`. Any length the platform takes; the format's
  // bounds are the caller's to check.
  bool Seal(const std::uint8_t* nonce, const std::uint8_t* plain, std::uint32_t length,
            std::uint8_t* ciphertext, std::uint8_t* tag) const;

  // Destroys the key, then closes the provider.
  void Reset();

  explicit operator bool() const { return static_cast<bool>(key_); }

 private:
  UniqueAlgorithm aes_;
  UniqueCryptKey key_;
};

}  // namespace tw::security

#endif  // SECURITY_AES_GCM_H_
