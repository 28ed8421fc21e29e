// The "tidewarden/discord_rpc" handler, answering through a recording
// result, with the Discord client played by discord-peer on a test thread.
#include "discord/discord_rpc_channel_handler.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channels/encodable_value.h"
#include "channels/method_call.h"
#include "discord/activity_message.h"
#include "discord/discord_ipc.h"
#include "testing/recording_result.h"
#include "tools/discord-peer/peer.h"

namespace tw::discord {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

using tw::test::Answer;
using tw::test::RecordingResult;

// Calls the handler; the call is destroyed on return, as the channel does.
Answer Call(const std::string& method, std::unique_ptr<EncodableValue> arguments) {
  Answer answer;
  {
    flutter::MethodCall<EncodableValue> call(method, std::move(arguments));
    DiscordRpcChannelHandler(call, std::make_unique<RecordingResult>(&answer));
  }
  EXPECT_EQ(answer.count, 1) << method << " must be answered exactly once";
  return answer;
}

Answer Start(EncodableMap arguments) {
  return Call("start", std::make_unique<EncodableValue>(std::move(arguments)));
}

int64_t StartSeconds(const std::string& command) {
  const std::string key = "\"start\":";
  const auto at = command.find(key);
  return at == std::string::npos ? -1 : std::stoll(command.substr(at + key.size()));
}

class DiscordRpcChannelHandlerTest : public ::testing::Test {
 protected:
  void TearDown() override { StopDiscordPresence(); }
};

struct ArgumentCase {
  const char* name;
  EncodableMap arguments;
  const char* client_id;
  const char* details;
  const char* state;
  const char* large_image;
  const char* large_text;
};

TEST_F(DiscordRpcChannelHandlerTest, StartSendsTheArgumentsOrTheirDefaults) {
  const ArgumentCase cases[] = {
      {"empty map: all defaults",
       {},
       "",
       "Tidewarden Launcher",
       "Managing tools and subscriptions",
       "tidewarden",
       "Tidewarden Launcher"},
      {"all given",
       {{EncodableValue("clientId"), EncodableValue("42")},
        {EncodableValue("details"), EncodableValue("Patching")},
        {EncodableValue("state"), EncodableValue("3 of 7")},
        {EncodableValue("largeImage"), EncodableValue("logo")},
        {EncodableValue("largeText"), EncodableValue("Tide \"warden\"")}},
       "42",
       "Patching",
       "3 of 7",
       "logo",
       "Tide \"warden\""},
      {"wrongly typed entries fall back",
       {{EncodableValue("clientId"), EncodableValue(int32_t{123})},
        {EncodableValue("details"), EncodableValue()},
        {EncodableValue("state"), EncodableValue(EncodableList{EncodableValue("x")})},
        {EncodableValue("largeImage"), EncodableValue(true)},
        {EncodableValue("largeText"), EncodableValue(int64_t{5})}},
       "",
       "Tidewarden Launcher",
       "Managing tools and subscriptions",
       "tidewarden",
       "Tidewarden Launcher"},
      {"empty strings are kept",
       {{EncodableValue("clientId"), EncodableValue("")},
        {EncodableValue("details"), EncodableValue("")},
        {EncodableValue("state"), EncodableValue("")},
        {EncodableValue("largeImage"), EncodableValue("")},
        {EncodableValue("largeText"), EncodableValue("")}},
       "",
       "",
       "",
       "",
       ""},
      {"keys match exactly; other keys are ignored",
       {{EncodableValue("ClientId"), EncodableValue("no")},
        {EncodableValue("details "), EncodableValue("no")},
        {EncodableValue(int32_t{1}), EncodableValue("no")},
        {EncodableValue("state"), EncodableValue("yes")}},
       "",
       "Tidewarden Launcher",
       "yes",
       "tidewarden",
       "Tidewarden Launcher"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    discord_peer::Peer peer(discord_peer::Options{});
    std::string start_error;
    ASSERT_TRUE(peer.Start(&start_error)) << start_error;

    const Answer answer = Start(c.arguments);
    ASSERT_EQ(answer.kind, Answer::Kind::kSuccess) << answer.message;

    const auto frames = peer.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].payload,
              std::string("{\"v\":1,\"client_id\":\"") + EscapeJsonString(c.client_id) + "\"}");
    EXPECT_EQ(frames[1].payload,
              BuildSetActivityMessage(c.details, c.state, c.large_image, c.large_text,
                                      ::GetCurrentProcessId(), StartSeconds(frames[1].payload)));
  }
}

// A successful "start" answers with the client's reply text as it came,
// not with a bool.
TEST_F(DiscordRpcChannelHandlerTest, StartAnswersWithTheClientsReply) {
  discord_peer::Options options;
  options.stage = discord_peer::Stage::kCommand;
  options.reply_text = "{\"cmd\":\"SET_ACTIVITY\",\"data\":{\"name\":\"T\\u00e9\"},\"evt\":null}";
  discord_peer::Peer peer(options);
  std::string start_error;
  ASSERT_TRUE(peer.Start(&start_error)) << start_error;

  const Answer answer = Start({});
  ASSERT_EQ(answer.kind, Answer::Kind::kSuccess);
  ASSERT_TRUE(answer.value.has_value());
  ASSERT_NE(answer.value->GetIf<std::string>(), nullptr);
  EXPECT_EQ(*answer.value->GetIf<std::string>(), *options.reply_text);
}

TEST_F(DiscordRpcChannelHandlerTest, FailedStartAnswersDiscordRpcError) {
  {
    const Answer answer = Start({});
    EXPECT_EQ(answer.kind, Answer::Kind::kError);
    EXPECT_EQ(answer.code, "discord_rpc");
    EXPECT_EQ(answer.message, "Discord IPC pipe was not found. Open Discord desktop.");
    EXPECT_FALSE(answer.has_details);
  }
  discord_peer::Options options;
  options.reject_code = 4000;
  discord_peer::Peer peer(options);
  std::string start_error;
  ASSERT_TRUE(peer.Start(&start_error)) << start_error;
  const Answer answer = Start({});
  EXPECT_EQ(answer.kind, Answer::Kind::kError);
  EXPECT_EQ(answer.code, "discord_rpc");
  EXPECT_EQ(answer.message.rfind("Discord rejected SET_ACTIVITY: {", 0), 0u) << answer.message;
  EXPECT_NE(answer.message.find("\"evt\":\"ERROR\""), std::string::npos) << answer.message;
  EXPECT_FALSE(answer.has_details);
}

// Missing or non-map arguments are refused without touching the open
// connection.
TEST_F(DiscordRpcChannelHandlerTest, StartWithoutMapArgumentsIsInvalid) {
  discord_peer::Peer peer(discord_peer::Options{});
  std::string start_error;
  ASSERT_TRUE(peer.Start(&start_error)) << start_error;
  ASSERT_EQ(Start({}).kind, Answer::Kind::kSuccess);

  std::vector<std::pair<const char*, std::unique_ptr<EncodableValue>>> cases;
  cases.emplace_back("absent", nullptr);
  cases.emplace_back("null", std::make_unique<EncodableValue>());
  cases.emplace_back("list", std::make_unique<EncodableValue>(EncodableList{EncodableValue("a")}));
  cases.emplace_back("string", std::make_unique<EncodableValue>("clientId"));
  cases.emplace_back("int", std::make_unique<EncodableValue>(int32_t{1}));
  for (auto& [name, arguments] : cases) {
    SCOPED_TRACE(name);
    const Answer answer = Call("start", std::move(arguments));
    EXPECT_EQ(answer.kind, Answer::Kind::kError);
    EXPECT_EQ(answer.code, "invalid");
    EXPECT_EQ(answer.message, "Missing Discord RPC arguments");
    EXPECT_FALSE(answer.has_details);
  }
  EXPECT_FALSE(peer.WaitForEndedConnections(1, 200)) << "the open connection was closed";
  EXPECT_EQ(peer.accepted_connections(), 1u);
  EXPECT_EQ(peer.frames().size(), 2u);
}

TEST_F(DiscordRpcChannelHandlerTest, StopAlwaysAnswersTrueAndClosesTheConnection) {
  discord_peer::Peer peer(discord_peer::Options{});
  std::string start_error;
  ASSERT_TRUE(peer.Start(&start_error)) << start_error;
  ASSERT_EQ(Start({}).kind, Answer::Kind::kSuccess);

  // Arguments of any kind are ignored; a stop with nothing open is the same.
  std::vector<std::unique_ptr<EncodableValue>> arguments;
  arguments.push_back(std::make_unique<EncodableValue>(EncodableMap{}));
  arguments.push_back(nullptr);
  arguments.push_back(std::make_unique<EncodableValue>("x"));
  for (auto& a : arguments) {
    const Answer answer = Call("stop", std::move(a));
    ASSERT_EQ(answer.kind, Answer::Kind::kSuccess);
    ASSERT_TRUE(answer.value.has_value());
    ASSERT_NE(answer.value->GetIf<bool>(), nullptr);
    EXPECT_TRUE(*answer.value->GetIf<bool>());
  }
  ASSERT_TRUE(peer.WaitForEndedConnections(1, 5000));
  EXPECT_TRUE(peer.ended_connections()[0].closed_by_client);
  EXPECT_EQ(peer.frames().size(), 2u);
}

TEST_F(DiscordRpcChannelHandlerTest, OtherMethodNamesAreNotImplemented) {
  discord_peer::Peer peer(discord_peer::Options{});
  std::string start_error;
  ASSERT_TRUE(peer.Start(&start_error)) << start_error;
  for (const char* method : {"Start", "STOP", "start ", "stop\n", "", "update"}) {
    SCOPED_TRACE(method);
    const Answer answer = Call(method, std::make_unique<EncodableValue>(EncodableMap{}));
    EXPECT_EQ(answer.kind, Answer::Kind::kNotImplemented);
  }
  EXPECT_EQ(peer.accepted_connections(), 0u);
}

}  // namespace
}  // namespace tw::discord
