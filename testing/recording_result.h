// A method result that records the answer it was given, for the tests of
// every folder whose code answers method calls (the channel handlers, the
// method codec's envelope decoding).
//
// Example:
//
//   tw::test::Answer answer;
//   tw::discord::DiscordRpcChannelHandler(call,
//                                         std::make_unique<tw::test::RecordingResult>(&answer));
//   EXPECT_EQ(answer.count, 1);
//   EXPECT_EQ(answer.kind, tw::test::Answer::Kind::kError);
//
// `*answer` must outlive the result. Every answer is counted, so a result
// answered twice shows up as count 2 (the last answer's content is kept).
#ifndef TESTING_RECORDING_RESULT_H_
#define TESTING_RECORDING_RESULT_H_

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "channels/encodable_value.h"
#include "channels/method_call.h"

namespace tw::test {

// What a result was answered, and how many times.
struct Answer {
  enum class Kind { kNone, kSuccess, kError, kNotImplemented };
  Kind kind = Kind::kNone;
  int count = 0;
  std::optional<flutter::EncodableValue> value;  // the success value; empty for none
  std::string code;                              // the error's code and message
  std::string message;
  std::optional<flutter::EncodableValue> details;  // the error's details; empty for none
  bool has_details = false;
};

// Records into `*answer`; `on_answer`, when given, runs first, at the moment
// the code under test answers (while that code's own state is still alive).
class RecordingResult : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  explicit RecordingResult(Answer* answer, std::function<void()> on_answer = nullptr)
      : answer_(answer), on_answer_(std::move(on_answer)) {}

  void Success(const flutter::EncodableValue* result) override {
    Record(Answer::Kind::kSuccess);
    if (result != nullptr) answer_->value = *result;
  }
  void Error(const std::string& code, const std::string& message,
             const flutter::EncodableValue* details) override {
    Record(Answer::Kind::kError);
    answer_->code = code;
    answer_->message = message;
    answer_->has_details = details != nullptr;
    if (details != nullptr) answer_->details = *details;
  }
  void NotImplemented() override { Record(Answer::Kind::kNotImplemented); }

 private:
  void Record(Answer::Kind kind) {
    if (on_answer_) on_answer_();
    ++answer_->count;
    answer_->kind = kind;
  }

  Answer* answer_;
  std::function<void()> on_answer_;
};

}  // namespace tw::test

#endif  // TESTING_RECORDING_RESULT_H_
