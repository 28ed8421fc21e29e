// Package bytes written by hand for the tests of the reader and the
// decryptor: the header and the length field spelled out literally, so that
// a wrong constant in the code under test cannot hide behind the same
// constant here. Portable.
#ifndef SECURITY_TESTING_PACKAGE_BYTES_H_
#define SECURITY_TESTING_PACKAGE_BYTES_H_

#include <cstdint>

#include "testing/bytes.h"

namespace tw::security::test {

using ::tw::test::Bytes;
using ::tw::test::Concat;
using ::tw::test::Pattern;
using ::tw::test::Text;

inline Bytes Header() { return Text("VQEXE01\n"); }

// A record's length field: big-endian.
inline Bytes LengthField(std::uint32_t length) {
  return {static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
          static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
}

// A record whose nonce, tag and ciphertext are patterns: whole for the
// reader, which has no key, though no key would open it.
inline Bytes UnsealedRecord(std::uint32_t length, std::uint32_t seed) {
  return Concat({LengthField(length), Pattern(28, seed), Pattern(length, seed + 1)});
}

}  // namespace tw::security::test

#endif  // SECURITY_TESTING_PACKAGE_BYTES_H_
