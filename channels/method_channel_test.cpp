#include "channels/method_channel.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "channels/plumbing_test_support.h"

namespace flutter::testing {
namespace {

// Keeps the registered handlers and plays the engine's side of a message.
class FakeBinaryMessenger : public BinaryMessenger {
 public:
  void Send(const std::string&, const uint8_t*, size_t, ReplyCallback) const override {
    ADD_FAILURE() << "channels never send";
  }
  void SetMessageHandler(const std::string& channel, MessageHandler handler) override {
    ++set_calls;
    if (handler) {
      handlers[channel] = std::move(handler);
    } else {
      handlers.erase(channel);
    }
  }

  // Delivers `message` on `channel`; false when nothing is registered.
  bool Deliver(const std::string& channel, const std::string& message, ReplyLog& log) {
    auto found = handlers.find(channel);
    if (found == handlers.end()) return false;
    found->second(reinterpret_cast<const uint8_t*>(message.data()), message.size(), log.Callback());
    return true;
  }

  std::map<std::string, MessageHandler> handlers;
  int set_calls = 0;
};

struct Seen {
  std::string method;
  std::optional<std::string> argument;  // empty: arguments present and null
  bool arguments_present = false;
};

class MethodChannelTest : public ::testing::Test {
 protected:
  // Sets a handler on "app/test" that records each call and answers with
  // Success(method name), through a channel object that is gone afterwards.
  void SetRecordingHandler() {
    MethodChannel<> channel(&messenger_, "app/test", &codec_);
    channel.SetMethodCallHandler(
        [this](const MethodCall<>& call, std::unique_ptr<MethodResult<>> result) {
          Seen seen{call.method_name(), std::nullopt, call.arguments() != nullptr};
          if (seen.arguments_present) {
            if (const auto* text = call.arguments()->GetIf<std::string>()) seen.argument = *text;
          }
          seen_.push_back(seen);
          result->Success(EncodableValue(call.method_name()));
        });
  }

  FakeMethodCodec codec_;
  FakeBinaryMessenger messenger_;
  std::vector<Seen> seen_;
};

TEST_F(MethodChannelTest, CallReachesHandlerAndItsAnswerComesBack) {
  SetRecordingHandler();
  ReplyLog log;
  StderrCapture err;
  ASSERT_TRUE(messenger_.Deliver("app/test", "Cstart", log));
  ASSERT_TRUE(messenger_.Deliver("app/test", "CwriteToken|abc", log));
  EXPECT_EQ(err.Take(), "");
  ASSERT_EQ(seen_.size(), 2u);
  EXPECT_EQ(seen_[0].method, "start");
  EXPECT_TRUE(seen_[0].arguments_present);
  EXPECT_FALSE(seen_[0].argument.has_value());
  EXPECT_EQ(seen_[1].method, "writeToken");
  EXPECT_EQ(seen_[1].argument, "abc");
  ASSERT_EQ(log.replies.size(), 2u);
  EXPECT_EQ(log.replies[0].bytes, ToBytes("Sstart"));
  EXPECT_EQ(log.replies[1].bytes, ToBytes("SwriteToken"));
}

TEST_F(MethodChannelTest, UndecodableMessageGetsTheLineAndAnEmptyReply) {
  SetRecordingHandler();
  for (const std::string& message : {std::string(), std::string("X"), std::string("\0", 1)}) {
    SCOPED_TRACE(::testing::PrintToString(message));
    ReplyLog log;
    StderrCapture err;
    ASSERT_TRUE(messenger_.Deliver("app/test", message, log));
    // No leak warning: the empty reply spends the result.
    EXPECT_EQ(err.Take(), "Unable to construct method call from message on channel app/test\n");
    ASSERT_EQ(log.replies.size(), 1u);
    EXPECT_TRUE(log.replies[0].null_data);
    EXPECT_TRUE(log.replies[0].bytes.empty());
  }
  EXPECT_TRUE(seen_.empty());
}

TEST_F(MethodChannelTest, EmptyHandlerUnregisters) {
  SetRecordingHandler();
  MethodChannel<> channel(&messenger_, "app/test", &codec_);
  channel.SetMethodCallHandler(nullptr);
  ReplyLog log;
  EXPECT_FALSE(messenger_.Deliver("app/test", "Cstart", log));
  EXPECT_EQ(messenger_.set_calls, 2);
  EXPECT_TRUE(seen_.empty());
}

TEST_F(MethodChannelTest, SecondHandlerReplacesTheFirst) {
  SetRecordingHandler();
  MethodChannel<> channel(&messenger_, "app/test", &codec_);
  channel.SetMethodCallHandler(
      [](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) { result->Error("second"); });
  ReplyLog log;
  ASSERT_TRUE(messenger_.Deliver("app/test", "Cstart", log));
  EXPECT_TRUE(seen_.empty());
  ASSERT_EQ(log.replies.size(), 1u);
  EXPECT_EQ(log.replies[0].bytes, ToBytes("Esecond:"));
  EXPECT_EQ(messenger_.handlers.size(), 1u);
}

TEST_F(MethodChannelTest, KeptResultIsSentWhenAnsweredLater) {
  std::unique_ptr<MethodResult<>> kept;
  std::string method;
  MethodChannel<> channel(&messenger_, "app/later", &codec_);
  channel.SetMethodCallHandler(
      [&](const MethodCall<>& call, std::unique_ptr<MethodResult<>> result) {
        method = call.method_name();  // the call itself is gone after return
        kept = std::move(result);
      });
  ReplyLog log;
  StderrCapture err;
  ASSERT_TRUE(messenger_.Deliver("app/later", "Cwait", log));
  EXPECT_TRUE(log.replies.empty());
  kept->Success(EncodableValue(method));
  kept.reset();
  EXPECT_EQ(err.Take(), "");
  ASSERT_EQ(log.replies.size(), 1u);
  EXPECT_EQ(log.replies[0].bytes, ToBytes("Swait"));
}

TEST_F(MethodChannelTest, HandlerThatDropsItsResultWarnsOnce) {
  MethodChannel<> channel(&messenger_, "app/drop", &codec_);
  channel.SetMethodCallHandler([](const MethodCall<>&, std::unique_ptr<MethodResult<>>) {});
  ReplyLog log;
  StderrCapture err;
  ASSERT_TRUE(messenger_.Deliver("app/drop", "Cx", log));
  EXPECT_EQ(err.Take(), kLeakLine);
  EXPECT_TRUE(log.replies.empty());
}

// A throwing handler never unwinds into the messenger: one line, and the
// call is answered with code "error" and the exception's text unless it was
// answered before the throw.
TEST_F(MethodChannelTest, ThrowingHandlerIsAnsweredWithAnError) {
  struct Case {
    const char* name;
    std::function<void(std::unique_ptr<MethodResult<>>&)> body;
    std::vector<std::string> want_replies;
    std::string want_stderr;
  };
  std::unique_ptr<MethodResult<>> kept;
  const std::vector<Case> cases = {
      {"std exception",
       [](auto&) { throw std::runtime_error("boom"); },
       {"Eerror:boom"},
       "Error: method call handler threw: boom\n"},
      {"not a std exception",
       [](auto&) { throw 42; },
       {"Eerror:unknown exception"},
       "Error: method call handler threw: unknown exception\n"},
      {"answered, then thrown",
       [](auto& result) {
         result->Success(EncodableValue("done"));
         throw std::logic_error("after");
       },
       {"Sdone"},
       "Error: method call handler threw: after\n"},
      {"result dropped, then thrown: no leak warning",
       [](auto& result) {
         result.reset();
         throw std::runtime_error("dropped");
       },
       {"Eerror:dropped"},
       "Error: method call handler threw: dropped\n"},
      {"result kept, then thrown; the late answer is a duplicate",
       [&kept](auto& result) {
         kept = std::move(result);
         throw std::runtime_error("kept");
       },
       {"Eerror:kept"},
       std::string("Error: method call handler threw: kept\n") + kDuplicateResultLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MethodChannel<> channel(&messenger_, "app/throw", &codec_);
    channel.SetMethodCallHandler(
        [&c](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) { c.body(result); });
    ReplyLog log;
    StderrCapture err;
    ASSERT_TRUE(messenger_.Deliver("app/throw", "Cx", log));
    if (kept) {
      kept->Success(EncodableValue("late"));
      kept.reset();
    }
    EXPECT_EQ(err.Take(), c.want_stderr);
    std::vector<std::string> replies;
    for (const auto& reply : log.replies)
      replies.emplace_back(reply.bytes.begin(), reply.bytes.end());
    EXPECT_EQ(replies, c.want_replies);
  }
}

}  // namespace
}  // namespace flutter::testing
