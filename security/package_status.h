// What a package operation answers, and how it reports its progress;
// shared by decryption, sealing and key files.
#ifndef SECURITY_PACKAGE_STATUS_H_
#define SECURITY_PACKAGE_STATUS_H_

#include <cstdint>
#include <functional>
#include <string>

namespace tw::security {

// The outcome of an operation: ok, or the failure's message.
struct PackageStatus {
  bool ok = false;
  std::string message;
};

// Called after each chunk with the package bytes consumed (or plain bytes
// sealed) so far and the input's size. May be empty.
using PackageProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

}  // namespace tw::security

#endif  // SECURITY_PACKAGE_STATUS_H_
