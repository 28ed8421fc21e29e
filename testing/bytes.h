// Byte buffers of the tests: the one `Bytes` type and the conversions the
// tests of several folders share. Portable.
#ifndef TESTING_BYTES_H_
#define TESTING_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tw::test {

using Bytes = std::vector<std::uint8_t>;

// The characters of `s` as bytes.
inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// `size` bytes from a simple generator, different per `seed`.
inline Bytes Pattern(std::size_t size, std::uint32_t seed) {
  Bytes out(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return out;
}

// The parts one after the other.
inline Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace tw::test

#endif  // TESTING_BYTES_H_
