#include "security/token_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "security/package_format.h"

namespace tw::security {
namespace {

std::vector<std::uint8_t> Bytes(const SecureBuffer<std::uint8_t>& b) {
  return std::vector<std::uint8_t>(b.begin(), b.end());
}

// The result is copied out before the guard wipes the string.
std::string Narrow(const std::uint8_t* blob, std::size_t size) {
  std::string token = "previous content";
  WipeOnDestroy<std::string> guard(token);
  NarrowToken(blob, size, guard);
  std::string out(guard.get());
  return out;
}

std::string Hex(const std::uint8_t* data, std::size_t size) {
  std::string hex = "zz";
  WipeOnDestroy<std::string> guard(hex);
  LowerHex(data, size, guard);
  std::string out(guard.get());
  return out;
}

TEST(TokenCodecTest, WidensEachByteSignExtended) {
  struct Case {
    const char* name;
    std::string token;
    std::vector<std::uint8_t> blob;
  };
  const Case cases[] = {
      {"empty", "", {}},
      {"ascii", "Ab1", {'A', 0, 'b', 0, '1', 0}},
      {"utf8 e-acute", "\xC3\xA9", {0xC3, 0xFF, 0xA9, 0xFF}},
      {"boundary bytes",
       std::string("\x00\x7F\x80\xFF", 4),
       {0x00, 0x00, 0x7F, 0x00, 0x80, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Bytes(WidenToken(c.token)), c.blob) << c.name;
    EXPECT_EQ(Narrow(c.blob.data(), c.blob.size()), c.token) << c.name;
  }
}

TEST(TokenCodecTest, EveryByteValueSurvivesTheRoundTrip) {
  std::string token;
  for (int b = 0; b < 256; ++b) token.push_back(static_cast<char>(b));
  const auto blob = WidenToken(token);
  ASSERT_EQ(blob.size(), 512u);
  EXPECT_EQ(Narrow(blob.data(), blob.size()), token);
}

TEST(TokenCodecTest, NarrowingIgnoresAnOddLastByteAndReadsOnlyLowBytes) {
  const std::uint8_t blob[] = {'h', 0x00, 'i', 0x12, 'x'};
  EXPECT_EQ(Narrow(blob, sizeof blob), "hi");
  EXPECT_EQ(Narrow(blob, 1), "");
}

TEST(TokenCodecTest, LowerHex) {
  const std::uint8_t data[] = {0x00, 0x09, 0x0A, 0xF0, 0xFF, 0x5C};
  EXPECT_EQ(Hex(data, sizeof data), "00090af0ff5c");
  EXPECT_EQ(Hex(data, 0), "");
}

TEST(PackageFormatTest, LengthFieldIsBigEndian) {
  std::uint8_t field[4];
  EncodeChunkLength(0x00100000, field);
  EXPECT_EQ(field[0], 0x00);
  EXPECT_EQ(field[1], 0x10);
  EXPECT_EQ(field[2], 0x00);
  EXPECT_EQ(field[3], 0x00);
  const std::uint8_t other[] = {0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(DecodeChunkLength(other), 0x01020304u);
  EXPECT_FALSE(IsValidChunkLength(0));
  EXPECT_TRUE(IsValidChunkLength(1));
  EXPECT_TRUE(IsValidChunkLength(1048576));
  EXPECT_FALSE(IsValidChunkLength(1048577));
}

}  // namespace
}  // namespace tw::security
