// Making encrypted packages: the counterpart of security/package_reader.h and
// security/encrypted_package.h, used by the package tool, the tests and the
// benchmark. Never linked into the launcher, which only reads packages.
#ifndef SECURITY_PACKAGE_WRITER_H_
#define SECURITY_PACKAGE_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "security/aes_gcm.h"
#include "security/package_format.h"
#include "security/package_status.h"

namespace tw::security {

// AES-256-GCM sealing of single chunks into records.
class ChunkSealer {
 public:
  // False (with the reason in `*error`) when the key is not 32 bytes or AES
  // cannot be set up: "Invalid AES key", "AES unavailable", "AES key setup
  // failed".
  bool Init(const std::uint8_t* key, std::size_t key_size, std::string* error);

  // Appends the record of one chunk, 1 to 1,048,576 plain bytes, sealed
  // under `nonce` (12 bytes). False when the length is out of range or the
  // platform refuses; `*record` is then as it was.
  bool Seal(const std::uint8_t* plain, std::uint32_t length, const std::uint8_t* nonce,
            std::vector<std::uint8_t>* record);

 private:
  AesGcmKey aes_;
};

// Seals the file `plain` into the package `package` in chunks of
// `chunk_size` bytes (the last may be shorter), each under a fresh random
// nonce. The package is written beside its final name and moved into place
// only when complete; on failure an existing file at `package` is untouched.
PackageStatus SealPackageFile(const std::wstring& plain, const std::wstring& package,
                              const std::uint8_t* key, std::size_t key_size,
                              std::uint32_t chunk_size, const PackageProgress& progress = {});

}  // namespace tw::security

#endif  // SECURITY_PACKAGE_WRITER_H_
