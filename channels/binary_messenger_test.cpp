#include "channels/binary_messenger.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "channels/fake_engine_messenger.h"
#include "channels/method_channel.h"
#include "channels/plumbing_test_support.h"
#include "channels/standard_method_codec.h"

namespace flutter::testing {
namespace {

using Calls = std::vector<std::string>;

class BinaryMessengerTest : public ::testing::Test {
 protected:
  void SetUp() override { FakeEngineMessenger::Reset(); }

  // Registers a handler on `channel` that keeps every reply in `kept_`.
  void KeepReplies(const std::string& channel) {
    messenger_.SetMessageHandler(channel, [this](const uint8_t* bytes, size_t size,
                                                 ReplyCallback reply) {
      received_.emplace_back(bytes, bytes + size);
      kept_.push_back(std::move(reply));
    });
  }

  BinaryMessengerImpl messenger_{FakeEngineMessenger::Handle()};
  std::vector<Bytes> received_;
  std::vector<ReplyCallback> kept_;
};

TEST_F(BinaryMessengerTest, ConstructionCallsNothing) { EXPECT_TRUE(Fake().calls.empty()); }

TEST_F(BinaryMessengerTest, RegistrationKeepsOneEntryAtOneAddress) {
  int first = 0, second = 0;
  messenger_.SetMessageHandler("a", [&](const uint8_t*, size_t, ReplyCallback) { ++first; });
  messenger_.SetMessageHandler("a", [&](const uint8_t*, size_t, ReplyCallback) { ++second; });
  messenger_.SetMessageHandler("never", nullptr);
  messenger_.SetMessageHandler("a", nullptr);

  const auto& regs = Fake().registrations;
  ASSERT_EQ(regs.size(), 4u);
  EXPECT_EQ(regs[0].channel, "a");
  ASSERT_NE(regs[0].callback, nullptr);
  ASSERT_NE(regs[0].user_data, nullptr);
  EXPECT_EQ(regs[1].callback, regs[0].callback);
  EXPECT_EQ(regs[1].user_data, regs[0].user_data);
  // Clearing, even a name never registered, tells the engine with two nulls.
  for (size_t i : {2u, 3u}) {
    EXPECT_EQ(regs[i].callback, nullptr);
    EXPECT_EQ(regs[i].user_data, nullptr);
  }
  EXPECT_EQ(regs[2].channel, "never");
  EXPECT_EQ(regs[3].channel, "a");

  // Between the replacement and the clear, only the second handler was live.
  FakeEngineMessenger::Reset();
  messenger_.SetMessageHandler("a", [&](const uint8_t*, size_t, ReplyCallback) { ++first; });
  messenger_.SetMessageHandler("a", [&](const uint8_t*, size_t, ReplyCallback) { ++second; });
  ASSERT_TRUE(Fake().Deliver("a", {1}, ResponseHandle(1)));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
}

TEST_F(BinaryMessengerTest, ReplyLocksChecksSendsAndUnlocks) {
  KeepReplies("ch");
  Fake().calls.clear();
  ASSERT_TRUE(Fake().Deliver("ch", {0x07, 0x01, 0x61}, ResponseHandle(3)));
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0], (Bytes{0x07, 0x01, 0x61}));
  EXPECT_EQ(Fake().calls, (Calls{"AddRef"}));

  const Bytes answer = {0x00, 0x01};
  kept_[0](answer.data(), answer.size());
  EXPECT_EQ(Fake().calls, (Calls{"AddRef", "Lock", "IsAvailable", "SendResponse", "Unlock"}));
  ASSERT_EQ(Fake().responses.size(), 1u);
  EXPECT_EQ(Fake().responses[0].handle, ResponseHandle(3));
  EXPECT_EQ(Fake().responses[0].bytes, answer);
  EXPECT_EQ(Fake().locks, 0);
}

TEST_F(BinaryMessengerTest, ReplyWithoutBytesIsSentAsNullAndZero) {
  KeepReplies("ch");
  ASSERT_TRUE(Fake().Deliver("ch", {}, ResponseHandle(1)));
  kept_[0](nullptr, 0);
  ASSERT_EQ(Fake().responses.size(), 1u);
  EXPECT_TRUE(Fake().responses[0].null_data);
  EXPECT_TRUE(Fake().responses[0].bytes.empty());
}

TEST_F(BinaryMessengerTest, SecondReplyIsRefusedEvenFromACopy) {
  KeepReplies("ch");
  ASSERT_TRUE(Fake().Deliver("ch", {1}, ResponseHandle(1)));
  ReplyCallback copy = kept_[0];
  const uint8_t byte = 9;
  StderrCapture err;
  kept_[0](&byte, 1);
  kept_[0](&byte, 1);
  copy(&byte, 1);
  EXPECT_EQ(err.Take(), std::string(kDuplicateResponseLine) + kDuplicateResponseLine);
  EXPECT_EQ(Fake().responses.size(), 1u);
  EXPECT_EQ(Fake().locks, 0);
}

TEST_F(BinaryMessengerTest, ReplyAfterTheEngineEndedIsDroppedSilently) {
  KeepReplies("ch");
  ASSERT_TRUE(Fake().Deliver("ch", {1}, ResponseHandle(1)));
  Fake().available = false;
  Fake().calls.clear();
  StderrCapture err;
  kept_[0](nullptr, 0);
  kept_[0](nullptr, 0);  // still silent: the handle was never used
  EXPECT_EQ(err.Take(), "");
  EXPECT_TRUE(Fake().responses.empty());
  EXPECT_EQ(Fake().calls, (Calls{"Lock", "IsAvailable", "Unlock", "Lock", "IsAvailable", "Unlock"}));
}

TEST_F(BinaryMessengerTest, NullLockValueIsNeverUnlocked) {
  KeepReplies("ch");
  ASSERT_TRUE(Fake().Deliver("ch", {1}, ResponseHandle(1)));
  Fake().lock_returns_null = true;
  Fake().calls.clear();
  kept_[0](nullptr, 0);
  EXPECT_EQ(Fake().calls, (Calls{"Lock", "IsAvailable", "SendResponse"}));
}

// The message's messenger reference lives exactly as long as the last copy of
// its reply, whether or not the reply was used.
TEST_F(BinaryMessengerTest, MessengerReferenceFollowsTheLastReplyCopy) {
  struct Case {
    const char* name;
    bool answer;
    bool copy;
  };
  for (const Case& c : {Case{"answered", true, false}, Case{"dropped", false, false},
                        Case{"copied and answered", true, true},
                        Case{"copied and dropped", false, true}}) {
    SCOPED_TRACE(c.name);
    FakeEngineMessenger::Reset();
    kept_.clear();
    KeepReplies("ch");
    ASSERT_TRUE(Fake().Deliver("ch", {1}, ResponseHandle(1)));
    EXPECT_EQ(Fake().references, 1);
    ReplyCallback copy;
    if (c.copy) copy = kept_[0];
    if (c.answer) kept_[0](nullptr, 0);
    EXPECT_EQ(Fake().references, 1);
    kept_.clear();
    EXPECT_EQ(Fake().references, c.copy ? 1 : 0);
    copy = nullptr;
    EXPECT_EQ(Fake().references, 0);
    EXPECT_EQ(Fake().responses.size(), c.answer ? 1u : 0u);
  }
}

TEST_F(BinaryMessengerTest, HandlerThatDoesNotKeepTheReplyReleasesAtOnce) {
  messenger_.SetMessageHandler("ch", [](const uint8_t*, size_t, ReplyCallback) {});
  ASSERT_TRUE(Fake().Deliver("ch", {1}, ResponseHandle(1)));
  EXPECT_EQ(Fake().references, 0);
  EXPECT_EQ(Fake().calls.back(), "Release");
  EXPECT_TRUE(Fake().responses.empty());
}

// Without a messenger reference the engine is never asked anything: the
// reply is dropped with the leak warning, and a second one is a duplicate.
TEST_F(BinaryMessengerTest, NullMessengerReferenceDropsTheReply) {
  Fake().add_ref_returns_null = true;
  KeepReplies("ch");
  Fake().calls.clear();
  ASSERT_TRUE(Fake().Deliver("ch", {1}, ResponseHandle(1)));
  const uint8_t byte = 1;
  StderrCapture err;
  kept_[0](&byte, 1);
  kept_[0](&byte, 1);
  kept_.clear();
  EXPECT_EQ(err.Take(), std::string(kLeakLine) + kDuplicateResponseLine);
  EXPECT_EQ(Fake().calls, (Calls{"AddRef"}));
  EXPECT_TRUE(Fake().responses.empty());
}

// Clearing or replacing a handler releases what it holds at once.
TEST_F(BinaryMessengerTest, ClearedAndReplacedHandlersReleaseTheirCaptures) {
  auto first = std::make_shared<int>(1);
  auto second = std::make_shared<int>(2);
  messenger_.SetMessageHandler("ch", [first](const uint8_t*, size_t, ReplyCallback) {});
  EXPECT_EQ(first.use_count(), 2);
  messenger_.SetMessageHandler("ch", [second](const uint8_t*, size_t, ReplyCallback) {});
  EXPECT_EQ(first.use_count(), 1);
  EXPECT_EQ(second.use_count(), 2);
  messenger_.SetMessageHandler("ch", nullptr);
  EXPECT_EQ(second.use_count(), 1);
}

// A handler that clears or replaces its own registration keeps running on
// its own captures until it returns (under AddressSanitizer a freed closure
// shows as heap-use-after-free).
TEST_F(BinaryMessengerTest, HandlerMayClearOrReplaceItselfWhileItRuns) {
  for (bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "replaced" : "cleared");
    FakeEngineMessenger::Reset();
    std::string seen;
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watch = token;
    messenger_.SetMessageHandler(
        "ch", [this, &seen, replace, token, text = std::string(40, 'x')](
                  const uint8_t*, size_t, ReplyCallback reply) {
          if (replace) {
            messenger_.SetMessageHandler("ch", [](const uint8_t*, size_t, ReplyCallback r) {
              r(nullptr, 0);
            });
          } else {
            messenger_.SetMessageHandler("ch", nullptr);
          }
          seen = text + std::to_string(*token);  // the captures are still there
          reply(reinterpret_cast<const uint8_t*>(seen.data()), seen.size());
        });
    token.reset();
    ASSERT_TRUE(Fake().Deliver("ch", {1}, ResponseHandle(1)));
    EXPECT_EQ(seen, std::string(40, 'x') + "0");
    ASSERT_EQ(Fake().responses.size(), 1u);
    EXPECT_EQ(Fake().responses[0].bytes.size(), 41u);
    EXPECT_TRUE(watch.expired()) << "the old handler is released once its call ends";
    EXPECT_EQ(Fake().Deliver("ch", {2}, ResponseHandle(2)), replace);
    EXPECT_EQ(Fake().responses.size(), replace ? 2u : 1u);
  }
}

// Nothing unwinds into the engine: the fake engine calls the callback
// directly, so an escaping exception would fail the test.
TEST_F(BinaryMessengerTest, ThrowingHandlerIsCaughtAndAnsweredEmpty) {
  struct Case {
    const char* name;
    bool answer_first;
    bool std_exception;
    std::string want_stderr;
  };
  const Case cases[] = {
      {"unanswered", false, true, "Error: message handler threw: boom\n"},
      {"answered, then thrown", true, true, "Error: message handler threw: boom\n"},
      {"not a std exception", false, false, "Error: message handler threw: unknown exception\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEngineMessenger::Reset();
    messenger_.SetMessageHandler("ch", [&c](const uint8_t*, size_t, ReplyCallback reply) {
      const uint8_t byte = 5;
      if (c.answer_first) reply(&byte, 1);
      if (c.std_exception) throw std::runtime_error("boom");
      throw 7;
    });
    StderrCapture err;
    bool delivered = false;
    EXPECT_NO_THROW(delivered = Fake().Deliver("ch", {1}, ResponseHandle(1)));
    EXPECT_TRUE(delivered);
    EXPECT_EQ(err.Take(), c.want_stderr);
    ASSERT_EQ(Fake().responses.size(), 1u);
    EXPECT_EQ(Fake().responses[0].bytes, c.answer_first ? Bytes{5} : Bytes{});
    EXPECT_EQ(Fake().references, 0);
    EXPECT_EQ(Fake().locks, 0);
  }
}

TEST_F(BinaryMessengerTest, ThrowingReplyToASentMessageIsCaught) {
  messenger_.Send("out", nullptr, 0, [](const uint8_t*, size_t) { throw std::runtime_error("late"); });
  ASSERT_EQ(Fake().sent.size(), 1u);
  StderrCapture err;
  EXPECT_NO_THROW(Fake().sent[0].reply(nullptr, 0, Fake().sent[0].user_data));
  EXPECT_EQ(err.Take(), "Error: reply handler threw: late\n");
}

// The method channel over this messenger: a handler that throws has its
// call answered with the standard error envelope, and one that clears its
// own channel's handler keeps its captures until it returns.
TEST_F(BinaryMessengerTest, MethodChannelAnswersAThrowingHandlerWithTheErrorEnvelope) {
  MethodChannel<> channel(&messenger_, "app/ch", &StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler([](const MethodCall<>&, std::unique_ptr<MethodResult<>>) {
    throw std::runtime_error("boom");
  });
  StderrCapture err;
  ASSERT_TRUE(Fake().Deliver("app/ch", {0x07, 0x01, 'x', 0x00}, ResponseHandle(1)));
  EXPECT_EQ(err.Take(), "Error: method call handler threw: boom\n");
  ASSERT_EQ(Fake().responses.size(), 1u);
  EXPECT_EQ(Fake().responses[0].bytes,
            (Bytes{0x01, 0x07, 0x05, 'e', 'r', 'r', 'o', 'r', 0x07, 0x04, 'b', 'o', 'o', 'm', 0x00}));
  EXPECT_EQ(Fake().references, 0);
}

TEST_F(BinaryMessengerTest, MethodCallHandlerMayClearItsOwnChannel) {
  MethodChannel<> channel(&messenger_, "app/ch", &StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler([&channel, text = std::string(40, 'y')](
                                   const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    channel.SetMethodCallHandler(nullptr);
    result->Success(EncodableValue(text));
  });
  StderrCapture err;
  ASSERT_TRUE(Fake().Deliver("app/ch", {0x07, 0x01, 'x', 0x00}, ResponseHandle(1)));
  EXPECT_EQ(err.Take(), "");
  ASSERT_EQ(Fake().responses.size(), 1u);
  Bytes want = {0x00, 0x07, 40};
  want.insert(want.end(), 40, 'y');
  EXPECT_EQ(Fake().responses[0].bytes, want);
  EXPECT_FALSE(Fake().Deliver("app/ch", {0x07, 0x01, 'x', 0x00}, ResponseHandle(2)));
}

TEST_F(BinaryMessengerTest, SendWithoutReply) {
  const Bytes message = {1, 2, 3};
  messenger_.Send("out", message.data(), message.size(), nullptr);
  ASSERT_EQ(Fake().sent.size(), 1u);
  EXPECT_EQ(Fake().calls, (Calls{"Send"}));
  EXPECT_EQ(Fake().sent[0].channel, "out");
  EXPECT_EQ(Fake().sent[0].bytes, message);
}

TEST_F(BinaryMessengerTest, SendWithReplyCallsTheReplyOnceAndFreesIt) {
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> watch = token;
  ReplyLog log;
  ReplyCallback logged = log.Callback();
  const uint8_t byte = 5;
  messenger_.Send("out", &byte, 1, [logged, held = std::move(token)](const uint8_t* d, size_t n) {
    logged(d, n);
  });
  ASSERT_EQ(Fake().sent.size(), 1u);
  EXPECT_FALSE(watch.expired());
  const Bytes answer = {7, 8};
  Fake().sent[0].reply(answer.data(), answer.size(), Fake().sent[0].user_data);
  ASSERT_EQ(log.replies.size(), 1u);
  EXPECT_EQ(log.replies[0].bytes, answer);
  EXPECT_TRUE(watch.expired());
}

TEST_F(BinaryMessengerTest, RefusedSendWithReplyFreesTheReplyUncalled) {
  Fake().accept_sends = false;
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> watch = token;
  bool called = false;
  messenger_.Send("out", nullptr, 0,
                  [&called, held = std::move(token)](const uint8_t*, size_t) { called = true; });
  EXPECT_EQ(Fake().calls, (Calls{"SendWithReply"}));
  EXPECT_TRUE(watch.expired());
  EXPECT_FALSE(called);
}

}  // namespace
}  // namespace flutter::testing
