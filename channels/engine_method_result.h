// The result handed to a handler for a call that came from the engine.
//
// EngineMethodResult encodes the handler's answer with the channel's method
// codec and hands the bytes, once, to the ReplyCallback that carries them
// back to the engine. It enforces the answer-exactly-once rule:
//
//   - a second Success, Error or NotImplemented writes
//     "Error: Only one of Success, Error, or NotImplemented can be called,
//      and it can be called exactly once. Ignoring duplicate result."
//     (one line) to standard error and sends nothing;
//   - a result destroyed without any answer writes
//     "Warning: Failed to respond to a message. This is a memory leak."
//     and never sends a response for that message.
//
// Results are answered on the thread that holds them; there is no lock.
//
// Example:
//   auto result = std::make_unique<flutter::EngineMethodResult<>>(std::move(reply), codec);
//   handler(*call, std::move(result));  // the handler answers, now or later
#ifndef CHANNELS_ENGINE_METHOD_RESULT_H_
#define CHANNELS_ENGINE_METHOD_RESULT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "channels/encodable_value.h"
#include "channels/method_call.h"
#include "channels/standard_method_codec.h"

namespace flutter {

// Carries one answer back to the engine: (reply bytes, byte count). The bytes
// may be null when the count is 0. May be empty.
using ReplyCallback = std::function<void(const uint8_t* reply, size_t reply_size)>;

// A ReplyCallback that may be used once. It is set when made and spent after
// its one use; an empty callback counts as spent from the start.
class OneTimeReply {
 public:
  explicit OneTimeReply(ReplyCallback reply);
  // Warns when the reply was never sent; never calls the callback.
  ~OneTimeReply();

  OneTimeReply(const OneTimeReply&) = delete;
  OneTimeReply& operator=(const OneTimeReply&) = delete;

  // Sends `reply` (null or empty: no bytes, sent as a null pointer and 0),
  // or, when already spent, writes the duplicate-result line and sends
  // nothing. The callback is released right after its one call.
  void SendResponse(const std::vector<uint8_t>* reply);

  // Whether the one use has been made (or the callback was empty).
  bool spent() const noexcept { return !reply_; }

 private:
  ReplyCallback reply_;
};

template <typename T = EncodableValue>
class EngineMethodResult : public MethodResult<T> {
 public:
  // `codec` must outlive the result; the system's codec lives as long as the
  // process.
  EngineMethodResult(ReplyCallback reply, const MethodCodec<T>* codec)
      : reply_(std::make_shared<OneTimeReply>(std::move(reply))), codec_(codec) {}
  // Answers through a reply that someone else may also hold: the method
  // channel keeps one so that it can still answer when the handler throws.
  // The leak warning comes when the last holder lets go unanswered.
  EngineMethodResult(std::shared_ptr<OneTimeReply> reply, const MethodCodec<T>* codec)
      : reply_(std::move(reply)), codec_(codec) {}
  ~EngineMethodResult() override = default;

  using MethodResult<T>::Success;
  using MethodResult<T>::Error;

  void Success(const T* result) override {
    std::unique_ptr<std::vector<uint8_t>> bytes = codec_->EncodeSuccessEnvelope(result);
    reply_->SendResponse(bytes.get());
  }

  void Error(const std::string& error_code, const std::string& error_message,
             const T* error_details) override {
    std::unique_ptr<std::vector<uint8_t>> bytes =
        codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
    reply_->SendResponse(bytes.get());
  }

  void NotImplemented() override { reply_->SendResponse(nullptr); }

 private:
  std::shared_ptr<OneTimeReply> reply_;
  const MethodCodec<T>* codec_;
};

// The text of the exception being handled, for a catch block: what() of a
// std::exception, otherwise "unknown exception" (tw::CurrentExceptionWhat).
// Never throws; empty when the copy cannot be made.
std::string CurrentExceptionText() noexcept;

}  // namespace flutter

#endif  // CHANNELS_ENGINE_METHOD_RESULT_H_
