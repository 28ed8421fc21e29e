// Key files of the package tool: exactly the 32 raw bytes of an AES-256 key.
#ifndef SECURITY_KEY_FILE_H_
#define SECURITY_KEY_FILE_H_

#include <cstdint>
#include <string>

#include "security/package_status.h"
#include "util/secure_buffer.h"

namespace tw::security {

// Creates the key file `path` with 32 random bytes, never replacing an
// existing file. The file is readable and writable by the current user only
// (its DACL holds one entry, for the user's SID, set as it is created), and
// it is marked delete-on-close until its bytes are written and flushed, so
// that a failure or a killed process leaves no file behind. Messages: "The
// key file already exists", "Unable to create the key file", "Unable to
// write the key file", "Unable to generate a key".
PackageStatus CreateKeyFile(const std::wstring& path);

// Reads the key file `path` into `*key`. A file of any other size than 32
// bytes is refused with "Invalid AES key"; one that cannot be opened or read
// with "Unable to read the key file".
PackageStatus ReadKeyFile(const std::wstring& path, SecureBuffer<std::uint8_t>* key);

}  // namespace tw::security

#endif  // SECURITY_KEY_FILE_H_
