// UTF-8 and UTF-16 conversion, portable (no <windows.h>), for every folder.
//
// The UTF-16 side is any string of 16-bit code units: std::u16string on
// every platform, std::wstring on Windows (where wchar_t is UTF-16). On a
// platform where wchar_t is wider, each wchar_t is still read as one UTF-16
// code unit, so a value above 0xFFFF is ill-formed.
//
// Two behaviours for ill-formed UTF-16 (an unpaired surrogate), chosen by
// the caller: the strict conversion fails, the lossy one writes U+FFFD in its
// place (what WideCharToMultiByte does without WC_ERR_INVALID_CHARS).
//
// Example:
//
//   std::wstring path;
//   if (!tw::Utf8ToUtf16(argument, &path)) return Error("Invalid file path");
//   std::string shown = tw::Utf16ToUtf8Lossy(path);
//   std::string argument = tw::WideToUtf8(argv[1]);  // "" when ill-formed
#ifndef UTIL_UTF_H_
#define UTIL_UTF_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tw {

// Appends the UTF-8 bytes of `cp`, which must be at most U+10FFFF. A
// surrogate value is written as its three bytes all the same (not well-formed
// UTF-8): for callers that pass on what an escape in their input spells.
inline void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

namespace utf_internal {

// UTF-16 to UTF-8; an unpaired surrogate fails (strict) or becomes U+FFFD.
template <typename Unit>
bool Utf16ToUtf8(std::basic_string_view<Unit> in, std::string* out, bool strict) {
  out->clear();
  out->reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    const auto unit = static_cast<std::uint32_t>(in[i]);
    char32_t cp = unit;
    if (unit > 0xFFFF) {
      cp = 0xFFFD;  // not a 16-bit code unit at all
      if (strict) return false;
    } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < in.size() &&
               static_cast<std::uint32_t>(in[i + 1]) >= 0xDC00 &&
               static_cast<std::uint32_t>(in[i + 1]) <= 0xDFFF) {
      cp = 0x10000 + ((unit - 0xD800) << 10) + (static_cast<std::uint32_t>(in[i + 1]) - 0xDC00);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      if (strict) return false;
      cp = 0xFFFD;
    }
    AppendUtf8(cp, out);
  }
  return true;
}

}  // namespace utf_internal

// Strict UTF-8 to UTF-16: rejects truncated and overlong sequences, stray
// continuation bytes, encoded surrogates and code points above U+10FFFF.
// Returns false (and leaves `out` unspecified) on any of them. `WideString`
// is std::u16string or, on Windows, std::wstring.
template <typename WideString>
bool Utf8ToUtf16(std::string_view in, WideString* out) {
  using Unit = typename WideString::value_type;
  out->clear();
  out->reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const auto lead = static_cast<std::uint8_t>(in[i]);
    char32_t cp;
    std::size_t extra;
    char32_t min;
    if (lead < 0x80) {
      out->push_back(static_cast<Unit>(lead));
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
      out->push_back(static_cast<Unit>(0xD800 + (cp >> 10)));
      out->push_back(static_cast<Unit>(0xDC00 + (cp & 0x3FF)));
    } else {
      out->push_back(static_cast<Unit>(cp));
    }
    i += 1 + extra;
  }
  return true;
}

// UTF-8 to UTF-16 where each ill-formed part becomes one U+FFFD, as
// MultiByteToWideChar does without MB_ERR_INVALID_CHARS (on the Wine this
// project runs on): a byte that cannot start a sequence is one part; so is a
// start of a sequence that breaks off at a byte that is not a continuation
// byte; a second byte that makes the sequence overlong, a surrogate or above
// U+10FFFF ends a part of two bytes. For text that is only shown or passed
// on. `WideString` is std::u16string or, on Windows, std::wstring.
template <typename WideString = std::wstring>
WideString Utf8ToUtf16Lossy(std::string_view in) {
  using Unit = typename WideString::value_type;
  WideString out;
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const auto lead = static_cast<std::uint8_t>(in[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<Unit>(lead));
      ++i;
      continue;
    }
    std::size_t extra;
    char32_t cp;
    // The range of the second byte, which rules out overlong forms,
    // surrogates and code points above U+10FFFF.
    std::uint8_t low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2, cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3, cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      out.push_back(static_cast<Unit>(0xFFFD));
      ++i;
      continue;
    }
    std::size_t k = 1;  // bytes of the sequence taken
    bool broken = false;
    for (; k <= extra; ++k) {
      const auto cont = i + k < in.size() ? static_cast<std::uint8_t>(in[i + k]) : 0;
      if ((cont & 0xC0) != 0x80) {
        broken = true;
        break;
      }
      if (k == 1 && (cont < low || cont > high)) {
        broken = true;
        ++k;  // the second byte belongs to the ill-formed part
        break;
      }
      cp = (cp << 6) | (cont & 0x3F);
    }
    if (broken) {
      out.push_back(static_cast<Unit>(0xFFFD));
    } else if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<Unit>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<Unit>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<Unit>(cp));
    }
    i += k;
  }
  return out;
}

// Strict UTF-16 to UTF-8: false (and `out` unspecified) on an unpaired
// surrogate.
inline bool Utf16ToUtf8(std::u16string_view in, std::string* out) {
  return utf_internal::Utf16ToUtf8(in, out, /*strict=*/true);
}
inline bool Utf16ToUtf8(std::wstring_view in, std::string* out) {
  return utf_internal::Utf16ToUtf8(in, out, /*strict=*/true);
}

// UTF-16 to UTF-8 where an unpaired surrogate becomes U+FFFD: for text that
// is only shown or compared (test output, paths written into scripts).
inline std::string Utf16ToUtf8Lossy(std::u16string_view in) {
  std::string out;
  utf_internal::Utf16ToUtf8(in, &out, /*strict=*/false);
  return out;
}
inline std::string Utf16ToUtf8Lossy(std::wstring_view in) {
  std::string out;
  utf_internal::Utf16ToUtf8(in, &out, /*strict=*/false);
  return out;
}

// wchar_t text in the platform's own wide encoding to UTF-8, anything
// ill-formed becoming U+FFFD: UTF-16 on Windows (as Utf16ToUtf8Lossy), UTF-32
// where wchar_t has 32 bits (so a code point above U+FFFF is one wchar_t, and a
// surrogate or a value above U+10FFFF is ill-formed). For text the platform
// hands over as wchar_t: paths, window texts.
inline std::string WideToUtf8Lossy(std::wstring_view in) {
  if constexpr (sizeof(wchar_t) == 2) {
    return Utf16ToUtf8Lossy(in);
  } else {
    std::string out;
    out.reserve(in.size());
    for (const wchar_t unit : in) {
      const auto cp = static_cast<std::uint32_t>(unit);
      AppendUtf8((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF ? 0xFFFD : cp, &out);
    }
    return out;
  }
}

// Null-terminated wchar_t text (may be null) in the platform's wide encoding
// to UTF-8, strictly: null text, empty text and ill-formed text (an unpaired
// surrogate in UTF-16; a surrogate value or one above U+10FFFF in UTF-32) all
// give the empty string. On Windows this is what WideCharToMultiByte with
// WC_ERR_INVALID_CHARS gives. For text that must not be passed on with a
// replacement character in it, such as command-line arguments.
inline std::string WideToUtf8(const wchar_t* text) {
  std::string out;
  if (text == nullptr) return out;
  const std::wstring_view in(text);
  if constexpr (sizeof(wchar_t) == 2) {
    if (!Utf16ToUtf8(in, &out)) out.clear();
  } else {
    out.reserve(in.size());
    for (const wchar_t unit : in) {
      const auto cp = static_cast<std::uint32_t>(unit);
      if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return std::string();
      AppendUtf8(cp, &out);
    }
  }
  return out;
}

}  // namespace tw

#endif  // UTIL_UTF_H_
