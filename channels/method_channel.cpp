#include "channels/method_channel.h"

#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "channels/engine_method_result.h"

namespace flutter {

template <typename T>
MethodChannel<T>::MethodChannel(BinaryMessenger* messenger, const std::string& name,
                                const MethodCodec<T>* codec)
    : messenger_(messenger), name_(name), codec_(codec) {}

template <typename T>
MethodChannel<T>::~MethodChannel() = default;

namespace {

// A handler threw: one line, and an error answer unless the call has been
// answered already, so that the UI's call completes. Never throws.
template <typename T>
void AnswerThrownCall(const std::shared_ptr<OneTimeReply>& reply, const MethodCodec<T>* codec,
                      const std::string& what) noexcept {
  try {
    std::cerr << "Error: method call handler threw: " << what << std::endl;
    if (reply->spent()) return;
    std::unique_ptr<std::vector<uint8_t>> bytes =
        codec->EncodeErrorEnvelope("error", what, nullptr);
    reply->SendResponse(bytes.get());
    return;
  } catch (...) {
  }
  // Out of memory while encoding the error: an empty response, which needs
  // no memory, still completes the call.
  try {
    if (!reply->spent()) reply->SendResponse(nullptr);
  } catch (...) {
  }
}

}  // namespace

template <typename T>
void MethodChannel<T>::SetMethodCallHandler(MethodCallHandler<T> handler) const {
  if (!handler) {
    messenger_->SetMessageHandler(name_, nullptr);
    return;
  }
  // Copies only: the registration must not depend on this channel object.
  // The messenger keeps the running handler alive for its whole call, so a
  // handler that replaces or clears its own registration is safe here too.
  MessageHandler on_message = [handler = std::move(handler), codec = codec_, name = name_](
                                  const uint8_t* message, size_t message_size,
                                  ReplyCallback reply) {
    // Made before decoding, so that even an undecodable message is answered;
    // shared with the result, so that a throwing handler is answered too.
    auto shared_reply = std::make_shared<OneTimeReply>(std::move(reply));
    try {
      auto result = std::make_unique<EngineMethodResult<T>>(shared_reply, codec);
      std::unique_ptr<MethodCall<T>> call = codec->DecodeMethodCall(message, message_size);
      if (call == nullptr) {
        std::cerr << "Unable to construct method call from message on channel " << name
                  << std::endl;
        result->NotImplemented();
        return;
      }
      handler(*call, std::move(result));
    } catch (...) {
      AnswerThrownCall(shared_reply, codec, CurrentExceptionText());
    }
  };
  messenger_->SetMessageHandler(name_, std::move(on_message));
}

template class MethodChannel<EncodableValue>;

}  // namespace flutter
