#include "channels/binary_messenger.h"

#include <iostream>
#include <memory>
#include <utility>

#include "runner/flutter_windows.h"
#include "util/unique_handle.h"

namespace flutter {
namespace {

// The engine's messenger lock; a null lock value is never unlocked.
struct MessengerLockTraits {
  using Type = FlutterDesktopMessengerRef;
  static Type Invalid() { return nullptr; }
  static void Close(Type lock) { FlutterDesktopMessengerUnlock(lock); }
};
using MessengerLock = tw::UniqueHandle<MessengerLockTraits>;

// One counted reference on the engine's messenger handle, shared atomically
// by every copy of a message's reply.
using SharedMessenger = std::shared_ptr<FlutterDesktopMessenger>;

SharedMessenger ReferenceMessenger(FlutterDesktopMessengerRef messenger) {
  return SharedMessenger(FlutterDesktopMessengerAddRef(messenger),
                         [](FlutterDesktopMessengerRef held) {
                           if (held != nullptr) FlutterDesktopMessengerRelease(held);
                         });
}

// What a message's reply needs. Shared by all copies of the ReplyCallback,
// because the response handle belongs to the message: whichever copy answers
// first uses it, and every later answer is a duplicate.
struct PendingResponse {
  SharedMessenger messenger;
  const FlutterDesktopMessageResponseHandle* response_handle;  // null once used
};

void Respond(PendingResponse& pending, const uint8_t* reply, size_t reply_size) {
  FlutterDesktopMessengerRef messenger = pending.messenger.get();
  MessengerLock lock(FlutterDesktopMessengerLock(messenger));
  if (!FlutterDesktopMessengerIsAvailable(messenger)) {
    return;  // The engine has ended; nobody is waiting for the answer.
  }
  if (pending.response_handle == nullptr) {
    std::cerr << "Error: Response can be set only once. Ignoring duplicate response."
              << std::endl;
    return;
  }
  FlutterDesktopMessengerSendResponse(messenger, pending.response_handle, reply, reply_size);
  pending.response_handle = nullptr;
}

void ForwardToHandler(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
                      void* user_data) {
  auto pending = std::make_shared<PendingResponse>();
  pending->messenger = ReferenceMessenger(messenger);
  pending->response_handle = message->response_handle;
  ReplyCallback reply = [pending](const uint8_t* bytes, size_t size) {
    Respond(*pending, bytes, size);
  };
  const MessageHandler& handler = *static_cast<const MessageHandler*>(user_data);
  handler(message->message, message->message_size, std::move(reply));
}

// The engine calls this once with the UI's answer to a message sent with a
// reply; it owns the heap copy of the ReplyCallback from then on.
void ForwardReply(const uint8_t* data, size_t data_size, void* user_data) {
  std::unique_ptr<ReplyCallback> reply(static_cast<ReplyCallback*>(user_data));
  (*reply)(data, data_size);
}

}  // namespace

BinaryMessengerImpl::BinaryMessengerImpl(FlutterDesktopMessengerRef messenger)
    : messenger_(messenger) {}

BinaryMessengerImpl::~BinaryMessengerImpl() = default;

void BinaryMessengerImpl::Send(const std::string& channel, const uint8_t* message,
                               size_t message_size, ReplyCallback reply) const {
  if (!reply) {
    FlutterDesktopMessengerSend(messenger_, channel.c_str(), message, message_size);
    return;
  }
  auto held = std::make_unique<ReplyCallback>(std::move(reply));
  if (FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message, message_size,
                                           ForwardReply, held.get())) {
    (void)held.release();  // ForwardReply frees it.
  }
}

void BinaryMessengerImpl::SetMessageHandler(const std::string& channel,
                                            MessageHandler handler) {
  if (!handler) {
    handlers_.erase(channel);
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr, nullptr);
    return;
  }
  MessageHandler& stored = handlers_[channel];
  stored = std::move(handler);
  FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), ForwardToHandler, &stored);
}

}  // namespace flutter
