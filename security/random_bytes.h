// Random bytes from the system's preferred generator, for nonces, keys and
// temporary names.
#ifndef SECURITY_RANDOM_BYTES_H_
#define SECURITY_RANDOM_BYTES_H_

#include <cstddef>
#include <cstdint>

namespace tw::security {

// Fills `size` bytes at `data`; false when the generator fails.
bool RandomBytes(std::uint8_t* data, std::size_t size);

}  // namespace tw::security

#endif  // SECURITY_RANDOM_BYTES_H_
