#include "runner/utils.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(WideToUtf8Test, ConvertsOrGivesEmpty) {
  struct Case {
    const char* name;
    const wchar_t* text;
    std::string want;
  };
  const wchar_t lone_high[] = {L'a', 0xD834, L'b', 0};
  const wchar_t lone_low[] = {0xDD1E, 0};
  const wchar_t clef[] = {0xD834, 0xDD1E, 0};  // U+1D11E, four bytes in UTF-8
  const Case cases[] = {
      {"null", nullptr, ""},
      {"empty", L"", ""},
      {"ascii", L"--profile=dev", "--profile=dev"},
      {"two-byte", L"caf\u00e9", "caf\xC3\xA9"},
      {"three-byte", L"\u20ac5",
       "\xE2\x82\xAC"
       "5"},
      {"surrogate pair", clef, "\xF0\x9D\x84\x9E"},
      {"unpaired high surrogate", lone_high, ""},
      {"unpaired low surrogate", lone_low, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WideToUtf8(c.text), c.want) << c.name;
  }
}

}  // namespace
