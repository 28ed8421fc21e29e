#include "util/utf.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace tw {
namespace {

TEST(Utf8ToUtf16Test, AcceptsWellFormedText) {
  struct Case {
    const char* name;
    std::string in;
    std::u16string want;
  };
  const Case cases[] = {
      {"empty", "", u""},
      {"ascii path", "C:\\pkg\\a.bin", u"C:\\pkg\\a.bin"},
      {"two-byte", "\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
      {"three-byte", "\xE6\x96\x87\xEF\xBF\xBF", u"\u6587\uFFFF"},
      {"four-byte edge", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"},
      {"last before surrogates", "\xED\x9F\xBF", u"\uD7FF"},
  };
  for (const Case& c : cases) {
    std::u16string out;
    ASSERT_TRUE(Utf8ToUtf16(c.in, &out)) << c.name;
    EXPECT_EQ(out, c.want) << c.name;
    EXPECT_EQ(Utf8ToUtf16Lossy<std::u16string>(c.in), c.want) << c.name;
    // And back: well-formed text survives the round trip in both directions.
    std::string back;
    ASSERT_TRUE(Utf16ToUtf8(out, &back)) << c.name;
    EXPECT_EQ(back, c.in) << c.name;
  }
}

TEST(Utf8ToUtf16Test, IllFormedTextFailsStrictlyAndBecomesReplacementsLossily) {
  struct Case {
    const char* name;
    std::string in;
    std::u16string lossy;  // one U+FFFD (R) per ill-formed part
  };
  constexpr char16_t R = 0xFFFD;
  const Case cases[] = {
      {"stray continuation", "a\x80", {u'a', R}},
      {"truncated two-byte", "\xC3", {R}},
      {"truncated four-byte", "\xF0\x90\x80", {R}},
      {"truncated, then text", "\xE6\x96z", {R, u'z'}},
      {"bad continuation", "\xE6\x41\x87", {R, u'A', R}},
      {"overlong slash C0", "\xC0\xAF", {R, R}},
      // A second byte out of its lead's range ends a part of two bytes.
      {"overlong three-byte", "\xE0\x80\xAF", {R, R}},
      {"overlong four-byte", "\xF0\x8F\xBF\xBF", {R, R, R}},
      {"encoded high surrogate", "\xED\xA0\x80", {R, R}},
      {"encoded low surrogate", "\xED\xBF\xBF", {R, R}},
      {"above U+10FFFF", "\xF4\x90\x80\x80", {R, R, R}},
      {"overlong, then text",
       "\xE0\x9F"
       "a",
       {R, u'a'}},
      {"F5 lead", "\xF5\x80\x80\x80", {R, R, R, R}},
      {"FF byte", "abc\xFF", {u'a', u'b', u'c', R}},
      {"broken start between pairs", "\xC3\xA9\xF0\x9D\x84\xC3\xA9", {0xE9, R, 0xE9}},
  };
  for (const Case& c : cases) {
    std::u16string out;
    EXPECT_FALSE(Utf8ToUtf16(c.in, &out)) << c.name;
    EXPECT_EQ(Utf8ToUtf16Lossy<std::u16string>(c.in), c.lossy) << c.name;
#ifdef _WIN32
    // The same replacements as the system's own conversion.
    const int n = ::MultiByteToWideChar(CP_UTF8, /*dwFlags=*/0, c.in.data(),
                                        static_cast<int>(c.in.size()), nullptr, 0);
    std::wstring system(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, /*dwFlags=*/0, c.in.data(), static_cast<int>(c.in.size()),
                          system.data(), n);
    EXPECT_EQ(Utf8ToUtf16Lossy(c.in), system) << c.name;
#endif
  }
}

TEST(Utf16ToUtf8Test, UnpairedSurrogatesFailStrictlyAndBecomeReplacementsLossily) {
  struct Case {
    const char* name;
    std::u16string in;
    const char* lossy;
  };
  const Case cases[] = {
      {"lone high surrogate", std::u16string{u'a', 0xD834, u'b'},
       "a\xEF\xBF\xBD"
       "b"},
      {"lone low surrogate", std::u16string{0xDD1E}, "\xEF\xBF\xBD"},
      {"high surrogate at the end", std::u16string{u'x', 0xD834}, "x\xEF\xBF\xBD"},
      {"reversed pair", std::u16string{0xDD1E, 0xD834}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"two highs, then a low", std::u16string{0xD834, 0xD834, 0xDD1E},
       "\xEF\xBF\xBD\xF0\x9D\x84\x9E"},
  };
  for (const Case& c : cases) {
    std::string strict = "left over";
    EXPECT_FALSE(Utf16ToUtf8(c.in, &strict)) << c.name;
    EXPECT_EQ(Utf16ToUtf8Lossy(c.in), c.lossy) << c.name;
  }
}

TEST(Utf16ToUtf8Test, WellFormedTextIsTheSameBothWays) {
  const std::u16string clef_between = u"a\U0001D11Eb\u00e9\u20ac";
  std::string strict;
  ASSERT_TRUE(Utf16ToUtf8(clef_between, &strict));
  EXPECT_EQ(strict,
            "a\xF0\x9D\x84\x9E"
            "b\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(Utf16ToUtf8Lossy(clef_between), strict);
  EXPECT_EQ(Utf16ToUtf8Lossy(std::u16string_view()), "");
}

TEST(AppendUtf8Test, WritesEachLengthAndSurrogateValuesAsTheyAre) {
  struct Case {
    char32_t cp;
    std::string want;
  };
  const Case cases[] = {
      {0x00, std::string(1, '\0')},
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0xD834, "\xED\xA0\xB4"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
  };
  for (const Case& c : cases) {
    std::string out = "x";
    AppendUtf8(c.cp, &out);
    EXPECT_EQ(out, "x" + c.want) << static_cast<unsigned>(c.cp);
  }
}

TEST(WideToUtf8Test, ReadsWcharTextInThePlatformsWideEncoding) {
  EXPECT_EQ(WideToUtf8Lossy(L""), "");
  EXPECT_EQ(WideToUtf8Lossy(L"C:\\pkg\\\u00e9\u20ac"), "C:\\pkg\\\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(WideToUtf8Lossy(L"a\U0001D11Eb"),
            "a\xF0\x9D\x84\x9E"
            "b");
  const std::wstring lone_surrogate{L'x', static_cast<wchar_t>(0xD834)};
  EXPECT_EQ(WideToUtf8Lossy(lone_surrogate), "x\xEF\xBF\xBD");
  if constexpr (sizeof(wchar_t) == 4) {
    const std::wstring too_high{static_cast<wchar_t>(0x110000), L'y'};
    EXPECT_EQ(WideToUtf8Lossy(too_high),
              "\xEF\xBF\xBD"
              "y");
    // UTF-32: two surrogate values are two ill-formed units, not a pair.
    const std::wstring pair{static_cast<wchar_t>(0xD834), static_cast<wchar_t>(0xDD1E)};
    EXPECT_EQ(WideToUtf8Lossy(pair), "\xEF\xBF\xBD\xEF\xBF\xBD");
  }
}

#ifdef _WIN32
// The system's strict conversion: a size query over the terminated text,
// then the conversion; empty whenever either fails.
std::string SystemWideToUtf8(const wchar_t* text) {
  if (text == nullptr) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, /*cchWideChar=*/-1,
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<size_t>(size - 1), '\0');
  if (::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text,
                            static_cast<int>(std::wcslen(text)), out.data(), size - 1, nullptr,
                            nullptr) == 0) {
    return std::string();
  }
  return out;
}
#endif

TEST(WideToUtf8Test, ConvertsOrGivesEmpty) {
  struct Case {
    const char* name;
    const wchar_t* text;
    std::string want;
  };
  const wchar_t lone_high[] = {L'a', 0xD834, L'b', 0};
  const wchar_t lone_low[] = {0xDD1E, 0};
  // A surrogate pair on Windows, one unit where wchar_t has 32 bits.
  const wchar_t* clef = L"\U0001D11E";  // four bytes in UTF-8
  const Case cases[] = {
      {"null", nullptr, ""},
      {"empty", L"", ""},
      {"ascii", L"--profile=dev", "--profile=dev"},
      {"two-byte", L"caf\u00e9", "caf\xC3\xA9"},
      {"three-byte", L"\u20ac5",
       "\xE2\x82\xAC"
       "5"},
      {"surrogate pair", clef, "\xF0\x9D\x84\x9E"},
      {"noncharacter", L"\uFFFF", "\xEF\xBF\xBF"},
      {"unpaired high surrogate", lone_high, ""},
      {"unpaired low surrogate", lone_low, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WideToUtf8(c.text), c.want) << c.name;
#ifdef _WIN32
    EXPECT_EQ(WideToUtf8(c.text), SystemWideToUtf8(c.text)) << c.name;
#endif
  }
  if constexpr (sizeof(wchar_t) == 4) {
    // UTF-32: two surrogate values are two ill-formed units, not a pair.
    const wchar_t pair[] = {static_cast<wchar_t>(0xD834), static_cast<wchar_t>(0xDD1E), 0};
    const wchar_t too_high[] = {L'y', static_cast<wchar_t>(0x110000), 0};
    EXPECT_EQ(WideToUtf8(pair), "");
    EXPECT_EQ(WideToUtf8(too_high), "");
  }
}

}  // namespace
}  // namespace tw
