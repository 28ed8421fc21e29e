// The development engine's script syntax and its second implementation of
// the standard codec.
#include "tools/flutter_windows/ui_script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/flutter_windows/wire_format.h"
#include "util/hex.h"

namespace {

using dev_engine::DescribeReply;
using dev_engine::EncodeScriptValue;
using dev_engine::ParseScript;
using dev_engine::ScriptStep;

std::string EncodedHex(const std::string& value) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!EncodeScriptValue(value, &bytes, &error)) return "error: " + error;
  return tw::ToLowerHex(bytes.data(), bytes.size());
}

TEST(UiScriptTest, ValuesEncodeInTheStandardWireFormat) {
  struct Case {
    const char* value;
    const char* hex;
  };
  const Case cases[] = {
      {"null", "00"},
      {"true", "01"},
      {"false", "02"},
      {"-2", "03feffffff"},
      {"i64:1", "040100000000000000"},
      {"3000000000", "04005ed0b200000000"},
      {"\"hi\"", "07026869"},
      {"\"\"", "0700"},
      {"\"a\\\"\\\\\\x00\\u00e9\"",
       "07066122"
       "5c00c3a9"},
      {"bytes:0aff", "08020aff"},
      {"[1.5]",
       "0c0106"
       "0000000000"
       "000000000000f83f"},
      {"{\"k\": [true, null]}",
       "0d01"
       "07016b"
       "0c020100"},
      {"[]", "0c00"},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodedHex(c.value), c.hex) << c.value;

  // 300 bytes of string: the two-byte size form.
  EXPECT_EQ(EncodedHex("\"" + std::string(300, 'x') + "\"").substr(0, 8), "07fe2c01");
}

TEST(UiScriptTest, BadValuesAreRejectedWithAReason) {
  for (const char* bad : {"", "nul", "\"open", "[1,", "{\"k\" 1}", "bytes:0", "1 2", "\"\\q\""}) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(EncodeScriptValue(bad, &bytes, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(UiScriptTest, ScriptStepsParseWithLineNumbers) {
  const std::string script =
      "# a comment\n"
      "call tidewarden/discord_rpc start\n"
      "\n"
      "call fernbrook/security writeToken \"t\"\r\n"
      "raw fernbrook/security 00ff\n"
      "raw fernbrook/security\n"
      "font-change\n"
      "resize 800 600\n"
      "dpi-changed 144 1 2 3 4\n"
      "destroy-waits-for-event Local\\e 250\n"
      "pause 1500\n"
      "stats\n"
      "hold\n";
  std::vector<ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(ParseScript(script, &steps, &error)) << error;
  ASSERT_EQ(steps.size(), 11u);
  // A call without arguments carries a null: 07 05 "start" 00.
  EXPECT_EQ(tw::ToLowerHex(steps[0].message.data(), steps[0].message.size()),
            "07057374617274"
            "00");
  EXPECT_EQ(steps[0].line, 2);
  EXPECT_EQ(steps[1].label, "writeToken");
  EXPECT_EQ(tw::ToLowerHex(steps[2].message.data(), steps[2].message.size()), "00ff");
  EXPECT_TRUE(steps[3].message.empty());
  EXPECT_EQ(steps[4].kind, ScriptStep::Kind::kFontChange);
  EXPECT_EQ(steps[5].numbers, (std::vector<int>{800, 600}));
  EXPECT_EQ(steps[6].numbers, (std::vector<int>{144, 1, 2, 3, 4}));
  EXPECT_EQ(steps[7].name, "Local\\e");
  EXPECT_EQ(steps[7].numbers, (std::vector<int>{250}));
  EXPECT_EQ(steps[8].kind, ScriptStep::Kind::kPause);
  EXPECT_EQ(steps[8].numbers, (std::vector<int>{1500}));
  EXPECT_EQ(steps[9].kind, ScriptStep::Kind::kStats);
  EXPECT_EQ(steps[10].kind, ScriptStep::Kind::kHold);

  for (const char* bad :
       {"jump\n", "call onlychannel\n", "raw c 0\n", "resize 1\n", "call c m [1\n",
        "font-change now\n", "pause\n", "pause -5\n", "hold on\n"}) {
    steps.clear();
    error.clear();
    EXPECT_FALSE(ParseScript(std::string("\n") + bad, &steps, &error)) << bad;
    EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << error;
  }
}

TEST(UiScriptTest, RepliesAreDescribedFromTheirEnvelopes) {
  struct Case {
    std::vector<uint8_t> bytes;
    const char* want;
  };
  const Case cases[] = {
      {{}, "empty"},
      {{0x00, 0x01}, "success true"},
      {{0x00, 0x00}, "success null"},
      {{0x00, 0x07, 0x02, 'o', 'k'}, "success \"ok\""},
      // error "invalid" "Missing token" null
      {{0x01, 0x07, 0x01, 'x', 0x07, 0x01, 'y', 0x00}, "error \"x\" \"y\" null"},
      // the double is aligned from the envelope's first byte
      {{0x00, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F}, "success f64:1.5"},
      {{0x00, 0x07, 0x05, 'a'}, "malformed success (truncated string)"},
      {{0x02}, "malformed envelope 2"},
      {{0x00, 0x01, 0x01}, "success true (+1 bytes)"},
  };
  for (const Case& c : cases) EXPECT_EQ(DescribeReply(c.bytes.data(), c.bytes.size()), c.want);
}

}  // namespace
