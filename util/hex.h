// Lower-case hexadecimal, portable, for every folder: two digits per byte,
// high nibble first.
//
// Example:
//
//   std::string text = tw::ToLowerHex(bytes);               // "00ff5c"
//   std::optional<std::vector<std::uint8_t>> back = tw::ParseHex(text);
#ifndef UTIL_HEX_H_
#define UTIL_HEX_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tw {

// The lower-case digit of the low four bits of `nibble`.
constexpr char LowerHexDigit(unsigned nibble) { return "0123456789abcdef"[nibble & 0x0F]; }

// The upper-case digit of the low four bits of `nibble`.
constexpr char UpperHexDigit(unsigned nibble) {
  const char digit = LowerHexDigit(nibble);
  return digit >= 'a' ? static_cast<char>(digit - 'a' + 'A') : digit;
}

// The value of the hexadecimal digit `c` (either case), or -1 when `c` is not
// one.
constexpr int HexDigitValue(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

// Calls `push(char)` with the two digits of every byte of [data, data + size),
// so that any string type (wide, or one that wipes itself) can take them.
template <typename Push>
void ForEachLowerHexDigit(const std::uint8_t* data, std::size_t size, Push&& push) {
  for (std::size_t i = 0; i < size; ++i) {
    push(LowerHexDigit(data[i] >> 4));
    push(LowerHexDigit(data[i]));
  }
}

inline std::string ToLowerHex(const std::uint8_t* data, std::size_t size) {
  std::string hex;
  hex.reserve(size * 2);
  ForEachLowerHexDigit(data, size, [&hex](char c) { hex.push_back(c); });
  return hex;
}

inline std::string ToLowerHex(std::string_view bytes) {
  return ToLowerHex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// The bytes of `hex` (either case, narrow or wide characters); nullopt when
// its length is odd or a character is not a hexadecimal digit.
template <typename Char>
std::optional<std::vector<std::uint8_t>> ParseHex(std::basic_string_view<Char> hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigitValue(static_cast<char32_t>(hex[i]));
    const int low = HexDigitValue(static_cast<char32_t>(hex[i + 1]));
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return bytes;
}
inline std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view hex) {
  return ParseHex<char>(hex);
}
inline std::optional<std::vector<std::uint8_t>> ParseHex(std::wstring_view hex) {
  return ParseHex<wchar_t>(hex);
}

}  // namespace tw

#endif  // UTIL_HEX_H_
