// Building packages for the decryption tests: records sealed with bcrypt
// under deterministic nonces, and a call of "decryptPackage" on files of a
// scratch folder.
#ifndef SECURITY_PACKAGE_TEST_FIXTURE_H_
#define SECURITY_PACKAGE_TEST_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "security/package_writer.h"
#include "security/security_test_support.h"

namespace tw::security::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes TestKey(std::uint8_t first = 0) {
  Bytes key(32);
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(first + i);
  return key;
}

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Plain bytes of `size` from a simple generator, different per `seed`.
inline Bytes Pattern(std::size_t size, std::uint32_t seed) {
  Bytes out(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return out;
}

// The header written literally, so that a wrong constant in the code under
// test cannot hide behind the same constant here.
inline Bytes Header() { return Text("VQEXE01\n"); }

// One record per chunk, with nonces 1, 2, 3... so packages are reproducible.
inline Bytes SealRecords(const std::vector<Bytes>& chunks, const Bytes& key = TestKey()) {
  ChunkSealer sealer;
  std::string error;
  EXPECT_TRUE(sealer.Init(key.data(), key.size(), &error)) << error;
  Bytes records;
  std::uint8_t nonce[12] = {};
  for (const Bytes& chunk : chunks) {
    ++nonce[11];
    EXPECT_TRUE(sealer.Seal(chunk.data(), static_cast<std::uint32_t>(chunk.size()), nonce, &records));
  }
  return records;
}

inline Bytes SealPackage(const std::vector<Bytes>& chunks, const Bytes& key = TestKey()) {
  Bytes package = Header();
  const Bytes records = SealRecords(chunks, key);
  package.insert(package.end(), records.begin(), records.end());
  return package;
}

inline Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

inline flutter::EncodableMap DecryptArguments(const std::string& source,
                                              const std::string& destination, const Bytes& key) {
  flutter::EncodableMap map;
  map.emplace(flutter::EncodableValue("source"), flutter::EncodableValue(source));
  map.emplace(flutter::EncodableValue("destination"), flutter::EncodableValue(destination));
  map.emplace(flutter::EncodableValue("key"), flutter::EncodableValue(key));
  return map;
}

inline Answer DecryptFiles(const std::wstring& source, const std::wstring& destination,
                           const Bytes& key = TestKey()) {
  return Call("decryptPackage",
              flutter::EncodableValue(DecryptArguments(Utf8(source), Utf8(destination), key)));
}

}  // namespace tw::security::testing

#endif  // SECURITY_PACKAGE_TEST_FIXTURE_H_
