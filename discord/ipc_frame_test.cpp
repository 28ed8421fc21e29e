#include "discord/ipc_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tw::discord {
namespace {

std::string Bytes(std::vector<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

TEST(IpcFrameTest, HeaderIsLittleEndianOpcodeThenLength) {
  struct Case {
    uint32_t opcode;
    uint32_t length;
    std::string want;
  };
  const Case cases[] = {
      {0, 27, Bytes({0, 0, 0, 0, 27, 0, 0, 0})},
      {1, 0x100000, Bytes({1, 0, 0, 0, 0x00, 0x00, 0x10, 0x00})},
      {2, 0x01020304, Bytes({2, 0, 0, 0, 0x04, 0x03, 0x02, 0x01})},
      {0xA1B2C3D4, 0xFFFFFFFF, Bytes({0xD4, 0xC3, 0xB2, 0xA1, 0xFF, 0xFF, 0xFF, 0xFF})},
  };
  for (const auto& c : cases) {
    const auto header = EncodeFrameHeader(c.opcode, c.length);
    EXPECT_EQ(std::string(header.begin(), header.end()), c.want) << c.opcode;
    const auto decoded = DecodeFrameHeader(reinterpret_cast<const uint8_t*>(c.want.data()));
    EXPECT_EQ(decoded.opcode, c.opcode);
    EXPECT_EQ(decoded.length, c.length);
  }
}

TEST(IpcFrameTest, FrameIsHeaderFollowedByPayload) {
  const std::string payload = "{\"v\":1}";
  EXPECT_EQ(EncodeFrame(1, payload), Bytes({1, 0, 0, 0, 7, 0, 0, 0}) + payload);
  EXPECT_EQ(EncodeFrame(0, ""), Bytes({0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(IpcFrameTest, HandshakePayloadEscapesTheClientId) {
  EXPECT_EQ(BuildHandshakePayload("1234567890"), "{\"v\":1,\"client_id\":\"1234567890\"}");
  EXPECT_EQ(BuildHandshakePayload(""), "{\"v\":1,\"client_id\":\"\"}");
  EXPECT_EQ(BuildHandshakePayload("a\"b\n"), "{\"v\":1,\"client_id\":\"a\\\"b\\n\"}");
}

}  // namespace
}  // namespace tw::discord
