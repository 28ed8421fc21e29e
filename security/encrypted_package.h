// Decryption of encrypted package files (layout in security/package_format.h,
// read by security/package_reader.h); the channel method "decryptPackage"
// that calls it is in security/security_channel_handler.h.
//
// The package is streamed one chunk at a time: at most one chunk of
// ciphertext and one of plaintext (1 MiB each) are in memory. Plain bytes go
// to a temporary file in the destination's folder (see ReplacementFile),
// which no other process can open and which is marked delete-on-close while
// it is written; it replaces the destination only once every chunk has
// authenticated and every byte has been written and flushed. On any failure,
// and when the process is killed, the destination is exactly as it was
// before the call and no temporary file is left behind.
#ifndef SECURITY_ENCRYPTED_PACKAGE_H_
#define SECURITY_ENCRYPTED_PACKAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "security/package_status.h"

namespace tw::security {

// Two of the messages below that callers give for their own checks too.
inline constexpr char kInvalidKeyMessage[] = "Invalid AES key";
inline constexpr char kOutOfMemoryMessage[] = "Out of memory";

// Decrypts the package at `source` into `destination` with the 32-byte
// `key`. Failure messages, in the order they are checked:
//   "Invalid AES key"                 key not 32 bytes; no file touched
//   "Invalid encrypted package"       source missing, not a disk file (a pipe,
//                                     a console, a device: answered before
//                                     any read), short, a bad header, or a
//                                     header that cannot be read
//   "AES unavailable"                 the AES provider does not open
//   "AES key setup failed"            GCM mode or key cannot be set up
//   "Unable to create the destination file"
//   "Package authentication failed"   any record cut short or unreadable, a
//                                     length out of range, a tag that does
//                                     not match
//   "Unable to write the destination file"    a write or the flush failed
//   "Unable to replace the destination file"  the final rename failed
//   "Out of memory"                   a buffer could not be allocated
// `destination` may name `source`: the package is replaced by its plain file
// only on success. Raises std::bad_alloc only when not even the status's own
// text can be allocated.
PackageStatus DecryptPackageFile(const std::wstring& source, const std::wstring& destination,
                                 const std::uint8_t* key, std::size_t key_size,
                                 const PackageProgress& progress = {});

}  // namespace tw::security

#endif  // SECURITY_ENCRYPTED_PACKAGE_H_
