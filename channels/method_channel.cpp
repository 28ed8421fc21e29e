#include "channels/method_channel.h"

#include <iostream>
#include <utility>

#include "channels/engine_method_result.h"

namespace flutter {

template <typename T>
MethodChannel<T>::MethodChannel(BinaryMessenger* messenger, const std::string& name,
                                const MethodCodec<T>* codec)
    : messenger_(messenger), name_(name), codec_(codec) {}

template <typename T>
MethodChannel<T>::~MethodChannel() = default;

template <typename T>
void MethodChannel<T>::SetMethodCallHandler(MethodCallHandler<T> handler) const {
  if (!handler) {
    messenger_->SetMessageHandler(name_, nullptr);
    return;
  }
  // Copies only: the registration must not depend on this channel object.
  const MethodCodec<T>* codec = codec_;
  MessageHandler on_message = [handler = std::move(handler), codec, name = name_](
                                  const uint8_t* message, size_t message_size,
                                  ReplyCallback reply) {
    // Made before decoding, so that even an undecodable message is answered.
    auto result = std::make_unique<EngineMethodResult<T>>(std::move(reply), codec);
    std::unique_ptr<MethodCall<T>> call = codec->DecodeMethodCall(message, message_size);
    if (call == nullptr) {
      std::cerr << "Unable to construct method call from message on channel " << name
                << std::endl;
      result->NotImplemented();
      return;
    }
    handler(*call, std::move(result));
  };
  messenger_->SetMessageHandler(name_, std::move(on_message));
}

template class MethodChannel<EncodableValue>;

}  // namespace flutter
