#include "channels/engine_method_result.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "channels/testing/plumbing_test_support.h"

namespace flutter::test {
namespace {

using Answer = std::function<void(MethodResult<EncodableValue>&)>;

struct AnswerCase {
  const char* name;
  std::vector<Answer> answers;         // given in order, then the result is destroyed
  std::vector<std::string> want_sent;  // bytes of each reply, as text
  std::string want_stderr;
};

const Answer kSuccessOk = [](MethodResult<EncodableValue>& r) { r.Success(EncodableValue("ok")); };
const Answer kSuccessNoValue = [](MethodResult<EncodableValue>& r) { r.Success(); };
const Answer kError = [](MethodResult<EncodableValue>& r) { r.Error("bad", "broken"); };
const Answer kNotImplemented = [](MethodResult<EncodableValue>& r) { r.NotImplemented(); };

TEST(EngineMethodResultTest, AnswersOnceAndReportsEveryBreach) {
  const std::string dup = kDuplicateResultLine;
  const std::vector<AnswerCase> cases = {
      {"success", {kSuccessOk}, {"Sok"}, ""},
      {"success without a value encodes a null", {kSuccessNoValue}, {"S-"}, ""},
      {"error", {kError}, {"Ebad:broken"}, ""},
      {"not implemented is an empty reply", {kNotImplemented}, {""}, ""},
      {"success twice", {kSuccessOk, kSuccessOk}, {"Sok"}, dup},
      {"not implemented then error", {kNotImplemented, kError}, {""}, dup},
      {"three answers", {kError, kSuccessOk, kNotImplemented}, {"Ebad:broken"}, dup + dup},
      {"dropped unanswered", {}, {}, kLeakLine},
  };
  FakeMethodCodec codec;
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    ReplyLog log;
    StderrCapture err;
    {
      EngineMethodResult<> result(log.Callback(), &codec);
      for (const Answer& answer : c.answers) answer(result);
    }
    EXPECT_EQ(err.Take(), c.want_stderr);
    std::vector<std::string> sent;
    for (const auto& reply : log.replies) sent.emplace_back(reply.bytes.begin(), reply.bytes.end());
    EXPECT_EQ(sent, c.want_sent);
  }
}

TEST(EngineMethodResultTest, DataPointerIsNullOnlyWithoutBytes) {
  FakeMethodCodec codec;
  ReplyLog log;
  {
    EngineMethodResult<> encoded(log.Callback(), &codec);
    encoded.Success();  // "S-": bytes, so never a null pointer
    EngineMethodResult<> not_implemented(log.Callback(), &codec);
    not_implemented.NotImplemented();
  }
  codec.empty_envelopes = true;
  {
    EngineMethodResult<> empty(log.Callback(), &codec);
    empty.Error("x");
  }
  ASSERT_EQ(log.replies.size(), 3u);
  EXPECT_FALSE(log.replies[0].null_data);
  EXPECT_EQ(log.replies[0].bytes, ToBytes("S-"));
  EXPECT_TRUE(log.replies[1].null_data);
  EXPECT_TRUE(log.replies[2].null_data);
  EXPECT_TRUE(log.replies[2].bytes.empty());
}

// The reply callback holds the engine's messenger in the real system; it must
// be let go as soon as it has been used, not when the result dies.
TEST(EngineMethodResultTest, ReleasesTheCallbackRightAfterItsUse) {
  FakeMethodCodec codec;
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> watch = token;
  EngineMethodResult<> result([held = std::move(token)](const uint8_t*, size_t) {}, &codec);
  ASSERT_FALSE(watch.expired());
  result.Success();
  EXPECT_TRUE(watch.expired());
}

TEST(EngineMethodResultTest, DroppedResultNeverCallsTheCallback) {
  FakeMethodCodec codec;
  bool called = false;
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> watch = token;
  StderrCapture err;
  {
    EngineMethodResult<> result(
        [&called, held = std::move(token)](const uint8_t*, size_t) { called = true; }, &codec);
  }
  EXPECT_EQ(err.Take(), kLeakLine);
  EXPECT_FALSE(called);
  EXPECT_TRUE(watch.expired());
}

// An answer given from inside the reply callback (for example by a handler
// that the reply path reenters) is a second answer.
TEST(EngineMethodResultTest, AnswerFromInsideTheCallbackIsADuplicate) {
  FakeMethodCodec codec;
  int calls = 0;
  EngineMethodResult<>* self = nullptr;
  EngineMethodResult<> result(
      [&](const uint8_t*, size_t) {
        ++calls;
        self->Success();
      },
      &codec);
  self = &result;
  StderrCapture err;
  result.NotImplemented();
  EXPECT_EQ(err.Take(), kDuplicateResultLine);
  EXPECT_EQ(calls, 1);
}

// An empty callback has nowhere to send: it counts as spent, so the result
// neither calls it nor warns about a leak.
TEST(EngineMethodResultTest, EmptyCallbackIsSpentFromTheStart) {
  FakeMethodCodec codec;
  StderrCapture err;
  {
    EngineMethodResult<> result(ReplyCallback(), &codec);
    result.Success();
  }
  EXPECT_EQ(err.Take(), kDuplicateResultLine);
}

}  // namespace
}  // namespace flutter::test
