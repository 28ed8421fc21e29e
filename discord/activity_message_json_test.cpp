// Reads built messages back with an independent JSON parser: whatever the
// caller's values hold, the command must stay valid JSON with the expected
// members in order, and each value must come back byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "discord/activity_message.h"
#include "discord/ipc_frame.h"

namespace tw::discord {
namespace {

using Json = nlohmann::ordered_json;

std::vector<std::string> Keys(const Json& object) {
  std::vector<std::string> keys;
  for (auto it = object.begin(); it != object.end(); ++it) keys.push_back(it.key());
  return keys;
}

std::string AllControlBytes() {
  std::string s;
  for (int b = 0; b < 0x20; ++b) s.push_back(static_cast<char>(b));
  return s;
}

struct ValueCase {
  const char* name;
  std::string value;
};

const std::vector<ValueCase>& Values() {
  static const std::vector<ValueCase> cases = {
      {"empty", ""},
      {"quotes", "say \"hi\" \"\""},
      {"backslashes", "C:\\Games\\\\x\\"},
      {"every control byte", AllControlBytes()},
      {"control bytes amid text", std::string("a\0b\x1f"
                                              "c\x7f",
                                              6)},
      {"DEL", "\x7f"},
      {"two-byte utf-8", "caf\xc3\xa9"},
      {"three-byte utf-8", "\xe6\xbd\xae\xe6\xb1\x90"},
      {"four-byte utf-8", "\xf0\x9f\x8e\xae play"},
      {"json lookalike", "\"},\"x\":{\"y\":\"z"},
      {"solidus and unicode escape text", "</script> \\u0041"},
  };
  return cases;
}

TEST(ActivityMessageJsonTest, ValidJsonWithMembersInOrderAndValuesBack) {
  for (const auto& c : Values()) {
    SCOPED_TRACE(c.name);
    // Each value in every caller-supplied slot, beside different neighbours.
    const std::string details = c.value;
    const std::string state = "s" + c.value;
    const std::string large_image = c.value + "i";
    const std::string large_text = c.value + c.value;
    const std::string text =
        BuildSetActivityMessage(details, state, large_image, large_text, 4242, 1700000000);

    Json json;
    ASSERT_NO_THROW(json = Json::parse(text)) << text;
    ASSERT_EQ(Keys(json), (std::vector<std::string>{"cmd", "args", "nonce"}));
    EXPECT_EQ(json["cmd"], "SET_ACTIVITY");
    EXPECT_EQ(json["nonce"], "1700000000-4242");

    const Json& args = json["args"];
    ASSERT_EQ(Keys(args), (std::vector<std::string>{"pid", "activity"}));
    EXPECT_EQ(args["pid"], 4242);

    const Json& activity = args["activity"];
    ASSERT_EQ(Keys(activity),
              (std::vector<std::string>{"name", "type", "status_display_type", "details", "state",
                                        "timestamps", "assets", "party", "instance", "buttons"}));
    EXPECT_EQ(activity["name"], "Tidewarden Launcher");
    EXPECT_EQ(activity["type"], 0);
    EXPECT_EQ(activity["status_display_type"], 0);
    EXPECT_EQ(activity["details"].get<std::string>(), details);
    EXPECT_EQ(activity["state"].get<std::string>(), state);
    ASSERT_EQ(Keys(activity["timestamps"]), (std::vector<std::string>{"start"}));
    EXPECT_EQ(activity["timestamps"]["start"], 1700000000);
    ASSERT_EQ(Keys(activity["assets"]), (std::vector<std::string>{"large_image", "large_text"}));
    EXPECT_EQ(activity["assets"]["large_image"].get<std::string>(), large_image);
    EXPECT_EQ(activity["assets"]["large_text"].get<std::string>(), large_text);
    EXPECT_EQ(activity["party"], Json::parse(R"({"id":"tidewarden-launcher","size":[1,1]})"));
    EXPECT_EQ(activity["instance"], true);
    ASSERT_TRUE(activity["buttons"].is_array());
    ASSERT_EQ(activity["buttons"].size(), 2u);
    EXPECT_EQ(activity["buttons"][0],
              (Json{{"label", "Open Website"}, {"url", kProductWebsiteUrl}}));
    EXPECT_EQ(activity["buttons"][1],
              (Json{{"label", "Join Discord"}, {"url", kCommunityInviteUrl}}));

    // Compact: the only spaces are those inside string values.
    std::string without_strings;
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (in_string && text[i] == '\\') {
        ++i;
      } else if (text[i] == '"') {
        in_string = !in_string;
      } else if (!in_string) {
        without_strings.push_back(text[i]);
      }
    }
    EXPECT_EQ(without_strings.find_first_of(" \t\r\n"), std::string::npos) << text;
  }
}

TEST(ActivityMessageJsonTest, HandshakeIsValidJsonWithClientIdBack) {
  for (const auto& c : Values()) {
    SCOPED_TRACE(c.name);
    const std::string text = BuildHandshakePayload(c.value);
    Json json;
    ASSERT_NO_THROW(json = Json::parse(text)) << text;
    ASSERT_EQ(Keys(json), (std::vector<std::string>{"v", "client_id"}));
    EXPECT_EQ(json["v"], 1);
    EXPECT_EQ(json["client_id"].get<std::string>(), c.value);
  }
}

}  // namespace
}  // namespace tw::discord
