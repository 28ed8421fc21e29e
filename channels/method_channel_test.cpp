#include "channels/method_channel.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "channels/standard_method_codec.h"
#include "channels/testing/plumbing_test_support.h"
#include "testing/allocation_failure.h"

namespace flutter::test {
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

// Out of memory while the answer is encoded: the n-th allocation from the
// moment the handler answers fails, for every n until the answer needs
// fewer. Codes, messages and texts are too long for a string's own buffer,
// so that copying and encoding them allocate. Each call is still answered
// exactly once: with the handler's answer, with the error that names what
// was thrown, or, when even that cannot be encoded, with an empty response.
TEST_F(MethodChannelTest, RunningOutOfMemoryWhileAnsweringStillAnswersOnce) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  const std::string code(40, 'c');
  const std::string message(80, 'm');
  const std::string thrown_line = "Error: method call handler threw: ";
  struct Case {
    const char* name;
    std::function<void(MethodResult<>&)> answer;
    std::string want_stderr;  // with no allocation failing
    Bytes want_reply;
  };
  const Case cases[] = {
      {"error answer", [&](MethodResult<>& result) { result.Error(code, message); }, "",
       *codec.EncodeErrorEnvelope(code, message, nullptr)},
      {"handler throws", [&](MethodResult<>&) { throw std::runtime_error(message); },
       thrown_line + message + "\n", *codec.EncodeErrorEnvelope("error", message, nullptr)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    long n = 0;
    bool failed = true;
    int empty_replies = 0;
    while (failed && n < 10000) {
      ++n;
      SCOPED_TRACE(n);
      MethodChannel<> channel(&messenger_, "app/oom", &codec);
      channel.SetMethodCallHandler(
          [&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
            tw::test::ArmAllocationFailure(n);
            c.answer(*result);
          });
      const Bytes call = *codec.EncodeMethodCall(MethodCall<>("start", nullptr));
      ReplyLog log;
      StderrCapture err;
      // Disarmed before the log records, so that only the channel's own
      // allocations fail.
      messenger_.handlers["app/oom"](call.data(), call.size(),
                                     [&](const uint8_t* data, size_t size) {
                                       tw::test::DisarmAllocationFailure();
                                       log.Callback()(data, size);
                                     });
      failed = tw::test::DisarmAllocationFailure();
      const std::string text = err.Take();
      ASSERT_EQ(log.replies.size(), 1u) << text;
      const Bytes& reply = log.replies[0].bytes;
      if (!failed) {
        EXPECT_EQ(text, c.want_stderr);
        EXPECT_EQ(reply, c.want_reply);
        continue;
      }
      // One line naming what reached the channel: std::bad_alloc, the
      // handler's text, or nothing when copying that text failed.
      ASSERT_GE(text.size(), thrown_line.size() + 1) << text;
      ASSERT_EQ(text.substr(0, thrown_line.size()), thrown_line) << text;
      ASSERT_EQ(text.back(), '\n');
      const std::string what =
          text.substr(thrown_line.size(), text.size() - thrown_line.size() - 1);
      EXPECT_TRUE(what == "std::bad_alloc" || what == message || what.empty()) << what;
      if (reply.empty()) {
        EXPECT_TRUE(log.replies[0].null_data);
        ++empty_replies;
      } else {
        EXPECT_EQ(reply, *codec.EncodeErrorEnvelope("error", what, nullptr));
      }
    }
    EXPECT_FALSE(failed) << "the call never completed";
    EXPECT_GT(n, 3);  // the loop did reach the encoding
    if (std::string(c.name) == "handler throws") {
      // The error answer's own encoding ran out of memory at least once.
      EXPECT_GT(empty_replies, 0);
    }
  }
}

}  // namespace
}  // namespace flutter::test
