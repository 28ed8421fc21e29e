#include "security/token_codec.h"

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
  static constexpr char kDigits[] = "0123456789abcdef";
  hex.Clear();
  hex.Reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    hex.PushBack(kDigits[data[i] >> 4]);
    hex.PushBack(kDigits[data[i] & 0x0F]);
  }
}

bool Utf8ToUtf16(std::string_view in, std::u16string* out) {
  out->clear();
  out->reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const auto lead = static_cast<std::uint8_t>(in[i]);
    char32_t cp;
    std::size_t extra;
    char32_t min;
    if (lead < 0x80) {
      out->push_back(static_cast<char16_t>(lead));
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      cp = lead & 0x1F, extra = 1, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      cp = lead & 0x0F, extra = 2, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      cp = lead & 0x07, extra = 3, min = 0x10000;
    } else {
      return false;  // continuation byte, C0/C1 overlong lead, or F5..FF
    }
    if (in.size() - i - 1 < extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto cont = static_cast<std::uint8_t>(in[i + k]);
      if ((cont & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cont & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(cp));
    }
    i += 1 + extra;
  }
  return true;
}

}  // namespace tw::security
