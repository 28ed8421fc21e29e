// Decryption of encrypted packages (layout in security/package_format.h).
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
#include <functional>
#include <string>

#include "channels/encodable_value.h"
#include "channels/method_call.h"

namespace tw::security {

// The outcome of a decryption: ok, or the failure's message.
struct PackageStatus {
  bool ok = false;
  std::string message;
};

// Called after each chunk with the package bytes consumed so far and the
// package's size. May be empty.
using PackageProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

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

// "decryptPackage": `arguments` is a map with "source" and "destination"
// (UTF-8 strings) and "key" (32 bytes). Answers true, "invalid",
// "Missing arguments" when the arguments are not a map, or "decrypt_failed"
// with a message: those of DecryptPackageFile, "invalid map<K, T> key" for a
// missing entry, "bad variant access" for an entry of the wrong type, and
// "Invalid file path" for a path that is not well-formed UTF-8 or holds a
// NUL character. Running out of memory anywhere in the call answers
// "decrypt_failed", "Out of memory"; nothing is raised to the caller.
void DecryptPackage(const flutter::EncodableValue* arguments, flutter::MethodResult<>& result);

}  // namespace tw::security

#endif  // SECURITY_ENCRYPTED_PACKAGE_H_
