#include "util/utf.h"

#include <gtest/gtest.h>

#include <string>

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
    // And back: well-formed text survives the round trip in both directions.
    std::string back;
    ASSERT_TRUE(Utf16ToUtf8(out, &back)) << c.name;
    EXPECT_EQ(back, c.in) << c.name;
  }
}

TEST(Utf8ToUtf16Test, RejectsIllFormedText) {
  struct Case {
    const char* name;
    std::string in;
  };
  const Case cases[] = {
      {"stray continuation", "a\x80"},
      {"truncated two-byte", "\xC3"},
      {"truncated four-byte", "\xF0\x90\x80"},
      {"bad continuation", "\xE6\x41\x87"},
      {"overlong slash C0", "\xC0\xAF"},
      {"overlong three-byte", "\xE0\x80\xAF"},
      {"overlong four-byte", "\xF0\x8F\xBF\xBF"},
      {"encoded high surrogate", "\xED\xA0\x80"},
      {"encoded low surrogate", "\xED\xBF\xBF"},
      {"above U+10FFFF", "\xF4\x90\x80\x80"},
      {"F5 lead", "\xF5\x80\x80\x80"},
      {"FF byte", "abc\xFF"},
  };
  for (const Case& c : cases) {
    std::u16string out;
    EXPECT_FALSE(Utf8ToUtf16(c.in, &out)) << c.name;
  }
}

TEST(Utf16ToUtf8Test, UnpairedSurrogatesFailStrictlyAndBecomeReplacementsLossily) {
  struct Case {
    const char* name;
    std::u16string in;
    const char* lossy;
  };
  const Case cases[] = {
      {"lone high surrogate", std::u16string{u'a', 0xD834, u'b'}, "a\xEF\xBF\xBD" "b"},
      {"lone low surrogate", std::u16string{0xDD1E}, "\xEF\xBF\xBD"},
      {"high surrogate at the end", std::u16string{u'x', 0xD834}, "x\xEF\xBF\xBD"},
      {"reversed pair", std::u16string{0xDD1E, 0xD834}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"two highs, then a low", std::u16string{0xD834, 0xD834, 0xDD1E}, "\xEF\xBF\xBD\xF0\x9D\x84\x9E"},
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
  EXPECT_EQ(strict, "a\xF0\x9D\x84\x9E" "b\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(Utf16ToUtf8Lossy(clef_between), strict);
  EXPECT_EQ(Utf16ToUtf8Lossy(std::u16string_view()), "");
}

}  // namespace
}  // namespace tw
