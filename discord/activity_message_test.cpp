#include "discord/activity_message.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tw::discord {
namespace {

using ::testing::HasSubstr;

struct EscapeCase {
  const char* name;
  std::string in;
  std::string want;
};

TEST(EscapeJsonStringTest, EscapesExactlyQuoteBackslashAndControlBytes) {
  const EscapeCase cases[] = {
      {"empty", "", ""},
      {"plain", "Tidewarden Launcher", "Tidewarden Launcher"},
      {"quote backslash newline", "a\"\\\nb", "a\\\"\\\\\\nb"},
      {"named controls", "\b\f\n\r\t", "\\b\\f\\n\\r\\t"},
      {"nul", std::string("x\0y", 3), "x\\u0000y"},
      {"other controls lower-case hex", "\x01\x1b\x1f", "\\u0001\\u001b\\u001f"},
      {"solidus and DEL unchanged", "/\x7f", "/\x7f"},
      {"utf-8 unchanged", "caf\xc3\xa9 \xf0\x9f\x8e\xae", "caf\xc3\xa9 \xf0\x9f\x8e\xae"},
      {"lone high bytes unchanged", "\x80\xff", "\x80\xff"},
      {"space is not a control", " ", " "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EscapeJsonString(c.in), c.want) << c.name;
  }
}

TEST(EscapeJsonStringTest, EveryByteBelow0x20BecomesSixOrTwoCharacters) {
  for (int b = 0; b < 0x20; ++b) {
    const std::string out = EscapeJsonString(std::string(1, static_cast<char>(b)));
    const bool named = b == 0x08 || b == 0x09 || b == 0x0A || b == 0x0C || b == 0x0D;
    ASSERT_EQ(out.size(), named ? 2u : 6u) << "byte " << b;
    EXPECT_EQ(out[0], '\\') << "byte " << b;
    if (!named) {
      char want[7];
      std::snprintf(want, sizeof want, "\\u%04x", static_cast<unsigned>(b));
      EXPECT_EQ(out, want) << "byte " << b;
    }
  }
}

TEST(BuildSetActivityMessageTest, ExactBytesForFixedPidAndTime) {
  const std::string want =
      "{\"cmd\":\"SET_ACTIVITY\",\"args\":{\"pid\":4242,\"activity\":{"
      "\"name\":\"Tidewarden Launcher\",\"type\":0,\"status_display_type\":0,"
      "\"details\":\"In the \\\"Hub\\\"\",\"state\":\"\","
      "\"timestamps\":{\"start\":1700000000},"
      "\"assets\":{\"large_image\":\"tidewarden\",\"large_text\":\"a\\\\b\"},"
      "\"party\":{\"id\":\"tidewarden-launcher\",\"size\":[1,1]},"
      "\"instance\":true,"
      "\"buttons\":[{\"label\":\"Open Website\",\"url\":\"https://tidewarden.example.com/\"},"
      "{\"label\":\"Join Discord\",\"url\":\"https://community.example.com/tidewarden\"}]"
      "}},\"nonce\":\"1700000000-4242\"}";
  EXPECT_EQ(BuildSetActivityMessage("In the \"Hub\"", "", "tidewarden", "a\\b", 4242, 1700000000),
            want);
}

TEST(BuildSetActivityMessageTest, ExtremeNumbersAsPlainDigits) {
  const std::string message = BuildSetActivityMessage("d", "s", "i", "t", UINT32_MAX, INT64_C(-1));
  EXPECT_THAT(message, HasSubstr("\"pid\":4294967295,"));
  EXPECT_THAT(message, HasSubstr("\"start\":-1}"));
  EXPECT_THAT(message, HasSubstr("\"nonce\":\"-1-4294967295\"}"));
}

TEST(BuildSetActivityMessageTest, ButtonUrlsNeedNoEscaping) {
  for (const char* url : {kProductWebsiteUrl, kCommunityInviteUrl}) {
    EXPECT_EQ(EscapeJsonString(url), url);
    EXPECT_EQ(std::string(url).rfind("https://", 0), 0u) << url;
  }
}

// The public builder stamps this process and the current second; start and
// the nonce's first half are the same reading.
TEST(BuildSetActivityMessageTest, LiveBuildUsesThisProcessAndNow) {
  using std::chrono::system_clock;
  const auto now_seconds = [] {
    return std::chrono::floor<std::chrono::seconds>(system_clock::now().time_since_epoch()).count();
  };
#ifdef _WIN32
  const uint32_t pid = ::GetCurrentProcessId();
#else
  const uint32_t pid = static_cast<uint32_t>(::getpid());
#endif
  const int64_t before = now_seconds();
  const std::string message = BuildSetActivityMessage("d", "s", "i", "t");
  const int64_t after = now_seconds();

  const std::string start_key = "\"start\":";
  const auto start_at = message.find(start_key);
  ASSERT_NE(start_at, std::string::npos);
  const int64_t start = std::stoll(message.substr(start_at + start_key.size()));
  EXPECT_GE(start, before);
  EXPECT_LE(start, after);
  EXPECT_EQ(message, BuildSetActivityMessage("d", "s", "i", "t", pid, start));
}

}  // namespace
}  // namespace tw::discord
