#include "util/hex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tw {
namespace {

TEST(HexTest, EncodesLowerCaseHighNibbleFirstAndParsesBack) {
  const std::vector<std::uint8_t> bytes = {0x00, 0x09, 0x0A, 0xF0, 0xFF, 0x5C};
  const std::string hex = ToLowerHex(bytes.data(), bytes.size());
  EXPECT_EQ(hex, "00090af0ff5c");
  EXPECT_EQ(ToLowerHex(std::string_view("\x01\xab", 2)), "01ab");
  EXPECT_EQ(ToLowerHex(nullptr, 0), "");
  EXPECT_EQ(ParseHex(hex), bytes);
  EXPECT_EQ(ParseHex(std::wstring_view(L"00090AF0fF5c")), bytes);
}

TEST(HexTest, ParseRejectsOddLengthAndNonDigits) {
  const char* const cases[] = {"0", "abc", "0g", "g0", " 0", "0x", "-1"};
  for (const char* hex : cases) EXPECT_FALSE(ParseHex(std::string_view(hex))) << hex;
  EXPECT_EQ(ParseHex(std::string_view("")), std::vector<std::uint8_t>());
}

TEST(HexTest, DigitsAndTheirValues) {
  const std::string lower = "0123456789abcdef";
  const std::string upper = "0123456789ABCDEF";
  for (unsigned n = 0; n < 16; ++n) {
    EXPECT_EQ(LowerHexDigit(n), lower[n]);
    EXPECT_EQ(UpperHexDigit(n), upper[n]);
    EXPECT_EQ(UpperHexDigit(n + 0x10), upper[n]) << "only the low four bits count";
    EXPECT_EQ(HexDigitValue(lower[n]), static_cast<int>(n));
    EXPECT_EQ(HexDigitValue(upper[n]), static_cast<int>(n));
  }
  const char32_t not_digits[] = {
      U'\0', U'/', U':', U'@', U'G', U'`', U'g', U' ', static_cast<char32_t>(0xFF), U'\uFF10'};
  for (const char32_t c : not_digits) EXPECT_EQ(HexDigitValue(c), -1) << static_cast<unsigned>(c);
}

}  // namespace
}  // namespace tw
