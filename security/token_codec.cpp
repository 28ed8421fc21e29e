#include "security/token_codec.h"

#include "util/hex.h"

namespace tw::security {

SecureBuffer<std::uint8_t> WidenToken(std::string_view token) {
  SecureBuffer<std::uint8_t> blob(token.size() * 2);
  for (std::size_t i = 0; i < token.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(token[i]);
    blob[2 * i] = byte;
    blob[2 * i + 1] = (byte & 0x80) ? 0xFF : 0x00;
  }
  return blob;
}

void NarrowToken(const std::uint8_t* blob, std::size_t size, WipeOnDestroy<std::string>& token) {
  const std::size_t units = size / 2;
  token.Clear();
  token.Reserve(units);
  for (std::size_t i = 0; i < units; ++i) token.PushBack(static_cast<char>(blob[2 * i]));
}

void LowerHex(const std::uint8_t* data, std::size_t size, WipeOnDestroy<std::string>& hex) {
  hex.Clear();
  hex.Reserve(size * 2);
  ForEachLowerHexDigit(data, size, [&hex](char c) { hex.PushBack(c); });
}

}  // namespace tw::security
