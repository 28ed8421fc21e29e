// Layout of an encrypted package, shared by the launcher's decryptor and the
// package tool.
//
// A package is the 8-byte header followed by zero or more chunk records,
// back to back, up to the exact end of the file:
//
//   header:  "VQEXE01" '\n'                                   (8 bytes)
//   record:  length L, unsigned 32-bit big-endian              (4 bytes)
//            AES-GCM nonce                                     (12 bytes)
//            AES-GCM tag                                       (16 bytes)
//            ciphertext                                        (L bytes)
//
// Every chunk is one complete AES-256-GCM message whose additional
// authenticated data is the header without its line feed. Records carry no
// index and the file has no trailer, so each chunk authenticates alone: see
// docs/packages.md for what that does and does not protect.
#ifndef SECURITY_PACKAGE_FORMAT_H_
#define SECURITY_PACKAGE_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace tw::security {

// "VQEXE01" and a line feed.
inline constexpr std::uint8_t kPackageHeader[] = {'V', 'Q', 'E', 'X', 'E', '0', '1', '\n'};
inline constexpr std::size_t kPackageHeaderSize = sizeof(kPackageHeader);

// The additional authenticated data of every chunk: the header without its
// line feed (7 bytes).
inline constexpr const std::uint8_t* kChunkAad = kPackageHeader;
inline constexpr std::size_t kChunkAadSize = kPackageHeaderSize - 1;

// Record header is length (4 bytes), nonce (12 bytes), tag (16 bytes).
inline constexpr std::size_t kLengthSize = 4;
inline constexpr std::size_t kNonceSize = 12;
inline constexpr std::size_t kTagSize = 16;
inline constexpr std::size_t kRecordHeaderSize = kLengthSize + kNonceSize + kTagSize;

// A chunk holds 1 to 1,048,576 bytes; the limit bounds every buffer before
// it is made.
inline constexpr std::uint32_t kMinChunkSize = 1;
inline constexpr std::uint32_t kMaxChunkSize = 1u << 20;

// AES-256 key (32 bytes).
inline constexpr std::size_t kKeySize = 32;

inline constexpr bool IsValidChunkLength(std::uint32_t length) {
  return length >= kMinChunkSize && length <= kMaxChunkSize;
}

// Big-endian length field, byte by byte.
inline constexpr std::uint32_t DecodeChunkLength(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

inline constexpr void EncodeChunkLength(std::uint32_t length, std::uint8_t* p) {
  p[0] = static_cast<std::uint8_t>(length >> 24);
  p[1] = static_cast<std::uint8_t>(length >> 16);
  p[2] = static_cast<std::uint8_t>(length >> 8);
  p[3] = static_cast<std::uint8_t>(length);
}

}  // namespace tw::security

#endif  // SECURITY_PACKAGE_FORMAT_H_
