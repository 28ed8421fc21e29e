// The channel plumbing through the development engine: messages delivered by
// the engine travel through BinaryMessengerImpl, MethodChannel and
// EngineMethodResult to a handler and back, over the engine's C interface.
// The same suite runs on both builds: under Wine against flutter_windows.dll,
// natively against the library's portable core, linked in. The engine
// reports every misuse of its interface, which TearDown rejects unless the
// test expects it.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "channels/binary_messenger.h"
#include "channels/method_channel.h"
#include "channels/standard_method_codec.h"
#include "channels/testing/plumbing_test_support.h"
#include "runner/flutter_windows.h"
#include "tools/flutter_windows/dev_engine.h"

namespace flutter::test {
namespace {

constexpr char kSecurity[] = "fernbrook/security";
constexpr char kInvalidRead[] = "Invalid read in StandardCodecByteStreamReader\n";
constexpr char kNotACall[] = "Invalid method call; method name is not a string.\n";

// The standard encoding of a call without arguments.
Bytes CallMessage(const std::string& method) {
  std::string text = "\x07";
  text += static_cast<char>(method.size());
  text += method;
  text += '\0';
  return ToBytes(text);
}

struct Reply {
  DevEngineReplyInfo info{};
  Bytes bytes;
};

Reply GetReply(uint64_t id) {
  Reply reply;
  uint8_t buffer[512];
  EXPECT_TRUE(DevEngineGetReply(id, &reply.info, buffer, sizeof buffer)) << "message " << id;
  reply.bytes.assign(buffer, buffer + std::min(reply.info.size, sizeof buffer));
  return reply;
}

class EnginePlumbingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DevEngineReset();
    FlutterDesktopEngineProperties properties{};
    properties.assets_path = L"data\\flutter_assets";
    properties.icu_data_path = L"data\\icudtl.dat";
    properties.aot_library_path = L"data\\app.so";
    properties.dart_entrypoint = "";
    engine_ = FlutterDesktopEngineCreate(&properties);
    ASSERT_NE(engine_, nullptr);
    engine_messenger_ = FlutterDesktopEngineGetMessenger(engine_);
    messenger_ = std::make_unique<BinaryMessengerImpl>(engine_messenger_);
  }

  void TearDown() override {
    // As the engine wrapper does: the engine ends before the messenger.
    if (engine_ != nullptr) {
      EXPECT_TRUE(FlutterDesktopEngineDestroy(engine_));
    }
    kept_.clear();
    messenger_.reset();
    EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseAny), expected_misuse_) << Transcript();
    EXPECT_EQ(DevEngineMessengerRefCount(engine_messenger_), 0);
  }

  void DestroyEngine() {
    ASSERT_TRUE(FlutterDesktopEngineDestroy(engine_));
    engine_ = nullptr;
  }

  static std::string Transcript() {
    std::string text(DevEngineTranscript(nullptr, 0) + 1, '\0');
    text.resize(DevEngineTranscript(text.data(), text.size()));
    return text;
  }

  uint64_t Deliver(const std::string& channel, const Bytes& message) {
    uint64_t id = DevEngineDeliverMessage(engine_, channel.c_str(), message.data(), message.size());
    EXPECT_NE(id, 0u);
    return id;
  }

  int32_t References() const { return DevEngineMessengerRefCount(engine_messenger_); }
  int32_t LockDepth() const { return DevEngineMessengerLockDepth(engine_messenger_); }

  // Registers a raw handler on `channel` that keeps every message's bytes in
  // `received_` and its reply in `kept_`.
  void KeepReplies(const std::string& channel) {
    messenger_->SetMessageHandler(channel,
                                  [this](const uint8_t* bytes, size_t size, ReplyCallback reply) {
                                    received_.emplace_back(bytes, bytes + size);
                                    kept_.push_back(std::move(reply));
                                  });
  }

  void SetHandler(const std::string& channel, MethodCallHandler<> handler) {
    MethodChannel<> method_channel(messenger_.get(), channel, &StandardMethodCodec::GetInstance());
    method_channel.SetMethodCallHandler(std::move(handler));
  }

  FlutterDesktopEngineRef engine_ = nullptr;
  FlutterDesktopMessengerRef engine_messenger_ = nullptr;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  size_t expected_misuse_ = 0;
  std::vector<Bytes> received_;
  std::vector<ReplyCallback> kept_;
};

// The raw messenger over the engine: registrations, replies, references and
// the reply lock.
using BinaryMessengerTest = EnginePlumbingTest;

TEST_F(EnginePlumbingTest, CallReachesItsHandlerAndTheEnvelopeComesBackByteForByte) {
  struct Case {
    const char* method;
    Bytes want;
    bool want_null_data;
  };
  const std::vector<Case> cases = {
      {"getHardwareId", {0x00, 0x07, 0x03, 'a', 'b', 'c'}, false},
      {"readToken", {0x00, 0x00}, false},  // success without a value
      {"writeToken", {0x01, 0x07, 0x03, 'b', 'a', 'd', 0x00, 0x00}, false},
      {"unknown", {}, true},
  };
  std::vector<std::string> seen;
  bool arguments_null = true;
  SetHandler(kSecurity, [&](const MethodCall<>& call, std::unique_ptr<MethodResult<>> result) {
    seen.push_back(call.method_name());
    arguments_null = arguments_null && call.arguments() != nullptr && call.arguments()->IsNull();
    if (call.method_name() == "getHardwareId") {
      result->Success(EncodableValue("abc"));
    } else if (call.method_name() == "readToken") {
      result->Success();
    } else if (call.method_name() == "writeToken") {
      result->Error("bad");
    } else {
      result->NotImplemented();
    }
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    StderrCapture err;
    const Reply reply = GetReply(Deliver(kSecurity, CallMessage(c.method)));
    EXPECT_EQ(err.Take(), "");
    EXPECT_EQ(reply.info.state, kDevEngineReplyAnswered);
    EXPECT_EQ(reply.info.responses, 1u);
    EXPECT_EQ(reply.bytes, c.want);
    EXPECT_EQ(reply.info.data_was_null != 0, c.want_null_data);
  }
  EXPECT_EQ(seen,
            (std::vector<std::string>{"getHardwareId", "readToken", "writeToken", "unknown"}));
  EXPECT_TRUE(arguments_null);
}

TEST_F(EnginePlumbingTest, UndecodableMessageGetsTheLinesAndAnEmptyResponse) {
  struct Case {
    const char* name;
    Bytes message;
    std::string want_stderr;
  };
  const std::string channel_line =
      std::string("Unable to construct method call from message on channel ") + kSecurity + "\n";
  const std::vector<Case> cases = {
      {"null where the name should be", {0x00}, kNotACall + channel_line},
      {"empty message", {}, kInvalidRead + (kNotACall + channel_line)},
  };
  bool called = false;
  SetHandler(kSecurity, [&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    called = true;
    result->Success();
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StderrCapture err;
    const Reply reply = GetReply(Deliver(kSecurity, c.message));
    EXPECT_EQ(err.Take(), c.want_stderr);
    EXPECT_EQ(reply.info.state, kDevEngineReplyAnswered);
    EXPECT_EQ(reply.info.size, 0u);
    EXPECT_EQ(reply.info.data_was_null, 1);
  }
  EXPECT_FALSE(called);
}

TEST_F(EnginePlumbingTest, HandlerAnsweringTwiceSendsOnce) {
  SetHandler(kSecurity, [](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    result->Success(EncodableValue(true));
    result->Error("late");
  });
  StderrCapture err;
  const Reply reply = GetReply(Deliver(kSecurity, CallMessage("readToken")));
  EXPECT_EQ(err.Take(), kDuplicateResultLine);
  EXPECT_EQ(reply.info.responses, 1u);
  EXPECT_EQ(reply.bytes, (Bytes{0x00, 0x01}));
}

// Nothing unwinds into the engine: the development engine records any
// exception that comes out of a callback as misuse, which TearDown rejects.
TEST_F(EnginePlumbingTest, ThrowingHandlersAreAnsweredAndNothingUnwindsIntoTheEngine) {
  struct Case {
    const char* name;
    bool answer_first;
    Bytes want;
  };
  const Case cases[] = {
      {"thrown unanswered: the error envelope",
       false,
       {0x01, 0x07, 0x05, 'e', 'r', 'r', 'o', 'r', 0x07, 0x04, 'b', 'o', 'o', 'm', 0x00}},
      {"answered, then thrown: the answer only", true, {0x00, 0x01}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetHandler(kSecurity, [&c](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
      if (c.answer_first) result->Success(EncodableValue(true));
      throw std::runtime_error("boom");
    });
    StderrCapture err;
    const Reply reply = GetReply(Deliver(kSecurity, CallMessage("readToken")));
    EXPECT_EQ(err.Take(), "Error: method call handler threw: boom\n");
    EXPECT_EQ(reply.info.state, kDevEngineReplyAnswered);
    EXPECT_EQ(reply.info.responses, 1u);
    EXPECT_EQ(reply.bytes, c.want);
    EXPECT_EQ(References(), 1);
  }

  // A raw message handler and a reply to a sent message, both throwing.
  messenger_->SetMessageHandler(
      "raw", [](const uint8_t*, size_t, ReplyCallback) { throw std::runtime_error("raw"); });
  const Bytes message = {1};
  messenger_->Send("ui/ask", message.data(), message.size(),
                   [](const uint8_t*, size_t) { throw std::runtime_error("late"); });
  DevEngineOutboundInfo info{};
  ASSERT_TRUE(DevEngineGetOutbound(DevEngineOutboundCount() - 1, &info, nullptr, 0));
  StderrCapture err;
  const Reply raw = GetReply(Deliver("raw", message));
  ASSERT_TRUE(DevEngineAnswerOutbound(info.id, message.data(), message.size()));
  EXPECT_EQ(err.Take(), "Error: message handler threw: raw\nError: reply handler threw: late\n");
  EXPECT_EQ(raw.info.state, kDevEngineReplyAnswered);
  EXPECT_EQ(raw.info.size, 0u);
  EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseUnwound), 0u);
}

TEST_F(EnginePlumbingTest, DroppedResultWarnsAndSendsNothing) {
  SetHandler(kSecurity, [](const MethodCall<>&, std::unique_ptr<MethodResult<>>) {});
  StderrCapture err;
  const uint64_t id = Deliver(kSecurity, CallMessage("readToken"));
  EXPECT_EQ(err.Take(), kLeakLine);
  EXPECT_EQ(GetReply(id).info.state, kDevEngineReplyPending);
  // The engine notices the message it never got an answer for.
  StderrCapture destroy_err;
  DestroyEngine();
  EXPECT_NE(destroy_err.Take().find("dev engine: misuse: message"), std::string::npos);
  EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseUnanswered), 1u);
  EXPECT_EQ(GetReply(id).info.state, kDevEngineReplyAbandoned);
  expected_misuse_ = 1;
}

TEST_F(EnginePlumbingTest, KeptResultIsSentWhenAnsweredAndReleasesTheMessenger) {
  std::unique_ptr<MethodResult<>> kept;
  SetHandler(kSecurity, [&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    kept = std::move(result);
  });
  StderrCapture err;
  const uint64_t id = Deliver(kSecurity, CallMessage("decryptPackage"));
  EXPECT_EQ(GetReply(id).info.state, kDevEngineReplyPending);
  EXPECT_EQ(DevEngineMessengerRefCount(engine_messenger_), 2);  // engine + message
  kept->Success(EncodableValue(false));
  EXPECT_EQ(DevEngineMessengerRefCount(engine_messenger_), 1);
  kept.reset();
  EXPECT_EQ(err.Take(), "");
  const Reply reply = GetReply(id);
  EXPECT_EQ(reply.info.state, kDevEngineReplyAnswered);
  EXPECT_EQ(reply.bytes, (Bytes{0x00, 0x02}));
}

// The per-message reference ends with the last holder of the reply, answered
// or not.
TEST_F(EnginePlumbingTest, MessengerReferenceEndsWithTheLastCopyOfTheReply) {
  std::vector<ReplyCallback> replies;
  messenger_->SetMessageHandler("raw", [&](const uint8_t*, size_t, ReplyCallback reply) {
    replies.push_back(reply);
    replies.push_back(std::move(reply));  // two copies of one reply
  });
  Deliver("raw", {1});
  Deliver("raw", {2});
  EXPECT_EQ(DevEngineMessengerRefCount(engine_messenger_), 3);
  const uint8_t byte = 7;
  replies[0](&byte, 1);  // message 1 answered, one copy left
  replies.erase(replies.begin(), replies.begin() + 1);
  EXPECT_EQ(DevEngineMessengerRefCount(engine_messenger_), 3);
  replies.erase(replies.begin());  // message 1's last copy
  EXPECT_EQ(DevEngineMessengerRefCount(engine_messenger_), 2);
  replies.clear();  // message 2, never answered
  EXPECT_EQ(DevEngineMessengerRefCount(engine_messenger_), 1);
  expected_misuse_ = 1;  // message 2 is still unanswered when the engine ends
}

TEST_F(EnginePlumbingTest, ReplyCalledTwiceSendsOnceThroughTheEngine) {
  ReplyCallback kept;
  messenger_->SetMessageHandler(
      "raw", [&](const uint8_t*, size_t, ReplyCallback reply) { kept = std::move(reply); });
  const uint64_t id = Deliver("raw", {1});
  ReplyCallback copy = kept;
  const uint8_t first = 1, second = 2;
  StderrCapture err;
  kept(&first, 1);
  kept(&second, 1);
  copy(&second, 1);
  EXPECT_EQ(err.Take(), std::string(kDuplicateResponseLine) + kDuplicateResponseLine);
  const Reply reply = GetReply(id);
  EXPECT_EQ(reply.info.responses, 1u);
  EXPECT_EQ(reply.bytes, (Bytes{1}));
  EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseResponseTwice), 0u);
  EXPECT_EQ(LockDepth(), 0);
}

TEST_F(EnginePlumbingTest, ReplyAfterTheEngineIsGoneIsDroppedSilently) {
  std::unique_ptr<MethodResult<>> kept;
  SetHandler(kSecurity, [&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    kept = std::move(result);
  });
  const uint64_t id = Deliver(kSecurity, CallMessage("getHardwareId"));
  {
    StderrCapture destroy_err;  // the engine's own report of the open message
    DestroyEngine();
  }
  expected_misuse_ = 1;
  StderrCapture err;
  kept->Success(EncodableValue("late"));
  EXPECT_EQ(err.Take(), "");
  EXPECT_EQ(GetReply(id).info.state, kDevEngineReplyAbandoned);
  EXPECT_EQ(DevEngineMessengerRefCount(engine_messenger_), 0);
  kept.reset();  // answered (and dropped): no warning, no release below zero
  EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseAny), 1u);
}

TEST_F(EnginePlumbingTest, EmptyHandlerUnregisters) {
  int calls = 0;
  SetHandler(kSecurity, [&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    ++calls;
    result->Success();
  });
  SetHandler(kSecurity, nullptr);
  void* callback = &calls;
  void* user_data = &calls;
  ASSERT_TRUE(DevEngineGetChannelCallback(engine_, kSecurity, &callback, &user_data));
  EXPECT_EQ(callback, nullptr);
  EXPECT_EQ(user_data, nullptr);
  {
    StderrCapture err;
    const Reply reply = GetReply(Deliver(kSecurity, CallMessage("readToken")));
    EXPECT_EQ(reply.info.state, kDevEngineReplyUnhandled);
  }
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseCallbackAfterClear), 1u);
  expected_misuse_ = 1;
}

TEST_F(EnginePlumbingTest, SettingAHandlerTwiceKeepsOneRegistration) {
  int first = 0, second = 0;
  void* callbacks[2] = {};
  void* user_data[2] = {};
  SetHandler(kSecurity, [&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    ++first;
    result->Success();
  });
  ASSERT_TRUE(DevEngineGetChannelCallback(engine_, kSecurity, &callbacks[0], &user_data[0]));
  SetHandler(kSecurity, [&](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    ++second;
    result->Success();
  });
  ASSERT_TRUE(DevEngineGetChannelCallback(engine_, kSecurity, &callbacks[1], &user_data[1]));
  EXPECT_NE(user_data[0], nullptr);
  EXPECT_EQ(user_data[1], user_data[0]);
  EXPECT_EQ(callbacks[1], callbacks[0]);
  EXPECT_EQ(DevEngineSetCallbackCount(engine_, kSecurity), 2u);
  EXPECT_EQ(GetReply(Deliver(kSecurity, CallMessage("readToken"))).info.state,
            kDevEngineReplyAnswered);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
}

TEST_F(EnginePlumbingTest, ChannelsKeepTheirOwnRegistrations) {
  std::vector<std::string> seen;
  for (const char* name : {"fernbrook/security", "tidewarden/discord_rpc"}) {
    SetHandler(name,
               [&seen, name](const MethodCall<>& call, std::unique_ptr<MethodResult<>> result) {
                 seen.push_back(std::string(name) + " " + call.method_name());
                 result->Success();
               });
  }
  Deliver("tidewarden/discord_rpc", CallMessage("start"));
  Deliver("fernbrook/security", CallMessage("getHardwareId"));
  EXPECT_EQ(seen, (std::vector<std::string>{"tidewarden/discord_rpc start",
                                            "fernbrook/security getHardwareId"}));
}

TEST_F(EnginePlumbingTest, SendsTowardTheUi) {
  ReplyLog log;
  const Bytes message = {0x07, 0x01, 'x', 0x00};
  const size_t before = DevEngineOutboundCount();
  messenger_->Send("ui/events", message.data(), message.size(), nullptr);
  messenger_->Send("ui/ask", message.data(), message.size(), log.Callback());
  messenger_->Send("ui/ask", message.data(), message.size(), log.Callback());
  ASSERT_EQ(DevEngineOutboundCount(), before + 3);

  DevEngineOutboundInfo info[3];
  uint8_t bytes[16];
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(DevEngineGetOutbound(before + i, &info[i], bytes, sizeof bytes));
    EXPECT_EQ(Bytes(bytes, bytes + info[i].size), message);
  }
  EXPECT_STREQ(info[0].channel, "ui/events");
  EXPECT_EQ(info[0].expects_reply, 0);
  EXPECT_EQ(info[1].expects_reply, 1);

  // The second message's reply holds a capture until its one call.
  auto held = std::make_shared<int>(0);
  std::weak_ptr<int> held_watch = held;
  ReplyCallback logged = log.Callback();
  messenger_->Send("ui/ask", message.data(), message.size(),
                   [logged, held = std::move(held)](const uint8_t* d, size_t n) { logged(d, n); });
  ASSERT_TRUE(DevEngineGetOutbound(before + 3, &info[1], nullptr, 0));
  EXPECT_FALSE(held_watch.expired());

  const Bytes answer = {0x00, 0x01};
  ASSERT_TRUE(DevEngineAnswerOutbound(info[1].id, answer.data(), answer.size()));
  EXPECT_FALSE(DevEngineAnswerOutbound(info[1].id, answer.data(), answer.size()));
  ASSERT_EQ(log.replies.size(), 1u);
  EXPECT_EQ(log.replies[0].bytes, answer);
  EXPECT_TRUE(held_watch.expired()) << "a reply that ran is freed";

  // The engine owes the other two replies; ending it pays with no bytes.
  DestroyEngine();
  ASSERT_EQ(log.replies.size(), 3u);
  EXPECT_TRUE(log.replies[1].null_data);
  EXPECT_TRUE(log.replies[2].null_data);

  // A messenger whose engine ended refuses sends; the reply is freed uncalled.
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> watch = token;
  bool called = false;
  messenger_->Send("ui/ask", message.data(), message.size(),
                   [&called, held = std::move(token)](const uint8_t*, size_t) { called = true; });
  EXPECT_TRUE(watch.expired());
  EXPECT_FALSE(called);
  EXPECT_EQ(DevEngineOutboundCount(), before + 4);
}

TEST_F(BinaryMessengerTest, ConstructionCallsNothing) {
  DevEngineReset();
  BinaryMessengerImpl another(engine_messenger_);
  EXPECT_EQ(Transcript(), "");
  EXPECT_EQ(References(), 1);
}

TEST_F(BinaryMessengerTest, RegistrationKeepsOneEntryAtOneAddress) {
  int first = 0, second = 0;
  void* callbacks[2] = {};
  void* user_data[2] = {};
  const auto answer = [](int* count) {
    return [count](const uint8_t*, size_t, ReplyCallback reply) {
      ++*count;
      reply(nullptr, 0);
    };
  };
  messenger_->SetMessageHandler("a", answer(&first));
  ASSERT_TRUE(DevEngineGetChannelCallback(engine_, "a", &callbacks[0], &user_data[0]));
  messenger_->SetMessageHandler("a", answer(&second));
  ASSERT_TRUE(DevEngineGetChannelCallback(engine_, "a", &callbacks[1], &user_data[1]));
  ASSERT_NE(callbacks[0], nullptr);
  ASSERT_NE(user_data[0], nullptr);
  EXPECT_EQ(callbacks[1], callbacks[0]);
  EXPECT_EQ(user_data[1], user_data[0]);
  EXPECT_EQ(DevEngineSetCallbackCount(engine_, "a"), 2u);

  // Between the replacement and the clear, only the second handler is live.
  EXPECT_EQ(GetReply(Deliver("a", {1})).info.state, kDevEngineReplyAnswered);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);

  // Clearing, even a name never registered, tells the engine with two nulls
  // (the engine reports user data passed with a cleared callback as misuse).
  DevEngineReset();
  messenger_->SetMessageHandler("never", nullptr);
  messenger_->SetMessageHandler("a", nullptr);
  EXPECT_EQ(Transcript(), "set-callback never off\nset-callback a off\n");
  for (const char* channel : {"never", "a"}) {
    SCOPED_TRACE(channel);
    void* callback = &first;
    void* data = &first;
    ASSERT_TRUE(DevEngineGetChannelCallback(engine_, channel, &callback, &data));
    EXPECT_EQ(callback, nullptr);
    EXPECT_EQ(data, nullptr);
  }
}

TEST_F(BinaryMessengerTest, ReplyLocksSendsAndUnlocks) {
  KeepReplies("ch");
  const uint64_t id = Deliver("ch", {0x07, 0x01, 0x61});
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0], (Bytes{0x07, 0x01, 0x61}));
  EXPECT_EQ(References(), 2) << "the message holds a messenger reference";

  const Bytes answer = {0x00, 0x01};
  kept_[0](answer.data(), answer.size());
  const Reply reply = GetReply(id);
  EXPECT_EQ(reply.info.state, kDevEngineReplyAnswered);
  EXPECT_EQ(reply.bytes, answer);
  EXPECT_EQ(reply.info.data_was_null, 0);
  EXPECT_EQ(reply.info.locked, 1) << "answered without the messenger lock";
  EXPECT_EQ(LockDepth(), 0) << "the lock is still held";
}

TEST_F(BinaryMessengerTest, ReplyWithoutBytesIsSentAsNullAndZero) {
  KeepReplies("ch");
  const uint64_t id = Deliver("ch", {});
  kept_[0](nullptr, 0);
  const Reply reply = GetReply(id);
  EXPECT_EQ(reply.info.state, kDevEngineReplyAnswered);
  EXPECT_EQ(reply.info.data_was_null, 1);
  EXPECT_EQ(reply.info.size, 0u);
}

// Whether the engine is still there is asked under the lock: a reply after
// the engine ended never reaches it (it would report a use after destroy).
TEST_F(BinaryMessengerTest, ReplyAfterTheEngineEndedIsDroppedSilently) {
  KeepReplies("ch");
  const uint64_t id = Deliver("ch", {1});
  {
    StderrCapture destroy_err;  // the engine's own report of the open message
    DestroyEngine();
  }
  expected_misuse_ = 1;
  StderrCapture err;
  kept_[0](nullptr, 0);
  kept_[0](nullptr, 0);  // still silent: the handle was never used
  EXPECT_EQ(err.Take(), "");
  EXPECT_EQ(GetReply(id).info.state, kDevEngineReplyAbandoned);
  EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseAny), 1u);
}

// A lock call that gives back null is never unlocked (an unlock of a lock
// the thread does not hold is misuse); the reply still goes out.
TEST_F(BinaryMessengerTest, NullLockValueIsNeverUnlocked) {
  KeepReplies("ch");
  const uint64_t id = Deliver("ch", {1});
  DevEngineSetFault(kDevEngineFaultLockReturnsNull, true);
  kept_[0](nullptr, 0);
  DevEngineSetFault(kDevEngineFaultLockReturnsNull, false);
  const Reply reply = GetReply(id);
  EXPECT_EQ(reply.info.state, kDevEngineReplyAnswered);
  EXPECT_EQ(reply.info.locked, 0);
  EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseAny), 0u) << Transcript();
}

// The message's messenger reference lives exactly as long as the last copy of
// its reply, whether or not the reply was used.
TEST_F(BinaryMessengerTest, MessengerReferenceFollowsTheLastReplyCopy) {
  struct Case {
    const char* name;
    bool answer;
    bool copy;
  };
  for (const Case& c :
       {Case{"answered", true, false}, Case{"dropped", false, false},
        Case{"copied and answered", true, true}, Case{"copied and dropped", false, true}}) {
    SCOPED_TRACE(c.name);
    kept_.clear();
    KeepReplies("ch");
    const uint64_t id = Deliver("ch", {1});
    EXPECT_EQ(References(), 2);
    ReplyCallback copy;
    if (c.copy) copy = kept_[0];
    if (c.answer) kept_[0](nullptr, 0);
    EXPECT_EQ(References(), 2);
    kept_.clear();
    EXPECT_EQ(References(), c.copy ? 2 : 1);
    copy = nullptr;
    EXPECT_EQ(References(), 1);
    EXPECT_EQ(GetReply(id).info.state, c.answer ? kDevEngineReplyAnswered : kDevEngineReplyPending);
    if (!c.answer) ++expected_misuse_;  // still unanswered when the engine ends
  }
}

TEST_F(BinaryMessengerTest, HandlerThatDoesNotKeepTheReplyReleasesAtOnce) {
  messenger_->SetMessageHandler("ch", [](const uint8_t*, size_t, ReplyCallback) {});
  const uint64_t id = Deliver("ch", {1});
  EXPECT_EQ(References(), 1);
  EXPECT_EQ(GetReply(id).info.state, kDevEngineReplyPending);
  expected_misuse_ = 1;  // never answered
}

// Without a messenger reference the engine is never asked anything: the
// reply is dropped with the leak warning, and a second one is a duplicate.
TEST_F(BinaryMessengerTest, NullMessengerReferenceDropsTheReply) {
  KeepReplies("ch");
  DevEngineSetFault(kDevEngineFaultAddRefReturnsNull, true);
  const uint64_t id = Deliver("ch", {1});
  DevEngineSetFault(kDevEngineFaultAddRefReturnsNull, false);
  const uint8_t byte = 1;
  StderrCapture err;
  kept_[0](&byte, 1);
  kept_[0](&byte, 1);
  kept_.clear();
  EXPECT_EQ(err.Take(), std::string(kLeakLine) + kDuplicateResponseLine);
  EXPECT_EQ(GetReply(id).info.state, kDevEngineReplyPending);
  EXPECT_EQ(References(), 1) << "a reference it never got was released";
  expected_misuse_ = 1;  // never answered
}

// Clearing or replacing a handler releases what it holds at once.
TEST_F(BinaryMessengerTest, ClearedAndReplacedHandlersReleaseTheirCaptures) {
  auto first = std::make_shared<int>(1);
  auto second = std::make_shared<int>(2);
  messenger_->SetMessageHandler("ch", [first](const uint8_t*, size_t, ReplyCallback) {});
  EXPECT_EQ(first.use_count(), 2);
  messenger_->SetMessageHandler("ch", [second](const uint8_t*, size_t, ReplyCallback) {});
  EXPECT_EQ(first.use_count(), 1);
  EXPECT_EQ(second.use_count(), 2);
  messenger_->SetMessageHandler("ch", nullptr);
  EXPECT_EQ(second.use_count(), 1);
}

// A handler that clears or replaces its own registration keeps running on
// its own captures until it returns (under AddressSanitizer a freed closure
// shows as heap-use-after-free).
TEST_F(BinaryMessengerTest, HandlerMayClearOrReplaceItselfWhileItRuns) {
  for (bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "replaced" : "cleared");
    std::string seen;
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watch = token;
    messenger_->SetMessageHandler("ch", [this, &seen, replace, token, text = std::string(40, 'x')](
                                            const uint8_t*, size_t, ReplyCallback reply) {
      if (replace) {
        messenger_->SetMessageHandler(
            "ch", [](const uint8_t*, size_t, ReplyCallback r) { r(nullptr, 0); });
      } else {
        messenger_->SetMessageHandler("ch", nullptr);
      }
      seen = text + std::to_string(*token);  // the captures are still there
      reply(reinterpret_cast<const uint8_t*>(seen.data()), seen.size());
    });
    token.reset();
    const Reply reply = GetReply(Deliver("ch", {1}));
    EXPECT_EQ(seen, std::string(40, 'x') + "0");
    EXPECT_EQ(reply.info.state, kDevEngineReplyAnswered);
    EXPECT_EQ(reply.info.size, 41u);
    EXPECT_TRUE(watch.expired()) << "the old handler is released once its call ends";
    StderrCapture err;  // the engine's report of a message on a cleared channel
    EXPECT_EQ(GetReply(Deliver("ch", {2})).info.state,
              replace ? kDevEngineReplyAnswered : kDevEngineReplyUnhandled);
    if (!replace) ++expected_misuse_;
  }
}

// Nothing unwinds into the engine: the engine records an exception that
// comes out of its callback as misuse, which TearDown rejects.
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
    messenger_->SetMessageHandler("ch", [&c](const uint8_t*, size_t, ReplyCallback reply) {
      const uint8_t byte = 5;
      if (c.answer_first) reply(&byte, 1);
      if (c.std_exception) throw std::runtime_error("boom");
      throw 7;
    });
    StderrCapture err;
    const Reply reply = GetReply(Deliver("ch", {1}));
    EXPECT_EQ(err.Take(), c.want_stderr);
    EXPECT_EQ(reply.info.state, kDevEngineReplyAnswered);
    EXPECT_EQ(reply.info.responses, 1u);
    EXPECT_EQ(reply.bytes, c.answer_first ? Bytes{5} : Bytes{});
    EXPECT_EQ(References(), 1);
    EXPECT_EQ(LockDepth(), 0);
  }
  EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseUnwound), 0u);
}

TEST_F(BinaryMessengerTest, MethodCallHandlerMayClearItsOwnChannel) {
  MethodChannel<> channel(messenger_.get(), "app/ch", &StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler([&channel, text = std::string(40, 'y')](
                                   const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    channel.SetMethodCallHandler(nullptr);
    result->Success(EncodableValue(text));
  });
  StderrCapture err;
  const Reply reply = GetReply(Deliver("app/ch", CallMessage("x")));
  EXPECT_EQ(err.Take(), "");
  Bytes want = {0x00, 0x07, 40};
  want.insert(want.end(), 40, 'y');
  EXPECT_EQ(reply.bytes, want);
  StderrCapture later_err;  // the engine's report of a message on a cleared channel
  EXPECT_EQ(GetReply(Deliver("app/ch", CallMessage("x"))).info.state, kDevEngineReplyUnhandled);
  expected_misuse_ = 1;
}

}  // namespace
}  // namespace flutter::test
