#include "discord/ipc_reply.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "discord/ipc_frame.h"

namespace tw::discord {
namespace {

TEST(IpcReplyTest, AnnouncedLengthIsReadOnlyFromOneToOneMebibyte) {
  struct Case {
    uint32_t length;
    std::optional<uint32_t> want;
  };
  const Case cases[] = {
      {0, std::nullopt},
      {1, 1u},
      {27, 27u},
      {1048575, 1048575u},
      {1048576, 1048576u},
      {1048577, std::nullopt},
      {0x01000000, std::nullopt},
      {0xFFFFFFFF, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    // Any opcode: it is never examined.
    const auto header = EncodeFrameHeader(0xA1B2C3D4, c.length);
    EXPECT_EQ(AnnouncedPayloadLength(header.data()), c.want);
  }
}

struct VerdictCase {
  const char* name;
  std::optional<std::string> reply;  // none: no whole frame arrived
  bool accepted;
};

TEST(IpcReplyTest, HandshakeIsAcceptedByTheQuotedReadyMarkerAlone) {
  const VerdictCase cases[] = {
      {"READY dispatch", "{\"cmd\":\"DISPATCH\",\"data\":{\"v\":1},\"evt\":\"READY\"}", true},
      {"marker alone", "\"READY\"", true},
      {"marker inside other text", "x\"READY\"\"ERROR\"\"code\"", true},
      {"without its quotation marks", "{\"evt\":READY}", false},
      {"in another word", "{\"evt\":\"NOT_READY\"}", false},
      {"other case", "{\"evt\":\"Ready\"}", false},
      {"nothing arrived", std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ReplyVerdict verdict = JudgeHandshakeReply(c.reply ? &*c.reply : nullptr);
    EXPECT_EQ(verdict.accepted, c.accepted);
    EXPECT_EQ(verdict.error, c.accepted ? "" : kReadyNotReceived);
  }
}

TEST(IpcReplyTest, CommandIsRefusedByTheErrorOrCodeMarkerWithTheWholeReply) {
  const VerdictCase cases[] = {
      {"accepted activity", "{\"cmd\":\"SET_ACTIVITY\",\"data\":{},\"evt\":null}", true},
      {"empty-looking reply", "{}", true},
      {"unquoted markers", "{\"evt\":ERROR,code:1}", true},
      {"other case", "{\"evt\":\"error\",\"Code\":1}", true},
      {"ERROR event", "{\"cmd\":\"SET_ACTIVITY\",\"evt\":\"ERROR\"}", false},
      {"code as a nested member", "{\"data\":{\"assets\":{\"code\":1}}}", false},
      {"both", "{\"evt\":\"ERROR\",\"data\":{\"code\":4000}}", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ReplyVerdict verdict = JudgeCommandReply(&*c.reply);
    EXPECT_EQ(verdict.accepted, c.accepted);
    EXPECT_EQ(verdict.error, c.accepted ? "" : kCommandRejected + *c.reply);
  }
  const ReplyVerdict missing = JudgeCommandReply(nullptr);
  EXPECT_FALSE(missing.accepted);
  EXPECT_EQ(missing.error, kCommandReplyNotReceived);
}

}  // namespace
}  // namespace tw::discord
