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
constexpr char kDuplicateResponse[] =
    "Error: Response can be set only once. Ignoring duplicate response.";

struct PendingResponse {
  SharedMessenger messenger;  // null when the engine gave no reference
  const FlutterDesktopMessageResponseHandle* response_handle;  // null once used
};

void Respond(PendingResponse& pending, const uint8_t* reply, size_t reply_size) noexcept {
  FlutterDesktopMessengerRef messenger = pending.messenger.get();
  if (messenger == nullptr) {
    // Without a messenger reference the engine cannot be asked whether it
    // is still there: the answer is dropped, once, like an unanswered one.
    if (pending.response_handle == nullptr) {
      std::cerr << kDuplicateResponse << std::endl;
      return;
    }
    std::cerr << "Warning: Failed to respond to a message. This is a memory leak." << std::endl;
    pending.response_handle = nullptr;
    return;
  }
  MessengerLock lock(FlutterDesktopMessengerLock(messenger));
  if (!FlutterDesktopMessengerIsAvailable(messenger)) {
    return;  // The engine has ended; nobody is waiting for the answer.
  }
  if (pending.response_handle == nullptr) {
    std::cerr << kDuplicateResponse << std::endl;
    return;
  }
  FlutterDesktopMessengerSendResponse(messenger, pending.response_handle, reply, reply_size);
  pending.response_handle = nullptr;
}

// Called by the engine for every message on a registered channel. Nothing
// unwinds into the engine: a handler that throws writes one line, and the
// message gets an empty response unless it was answered already. (A method
// channel catches its handler's exceptions itself and answers with an error
// envelope; this is the last guard.)
void ForwardToHandler(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
                      void* user_data) noexcept {
  std::shared_ptr<PendingResponse> pending;
  try {
    // A copy, so that the handler lives for the whole call even when it
    // replaces or clears its own registration.
    const std::shared_ptr<const MessageHandler> handler =
        *static_cast<const std::shared_ptr<const MessageHandler>*>(user_data);
    pending = std::make_shared<PendingResponse>();
    pending->response_handle = message->response_handle;
    pending->messenger = ReferenceMessenger(messenger);
    ReplyCallback reply = [pending](const uint8_t* bytes, size_t size) {
      Respond(*pending, bytes, size);
    };
    (*handler)(message->message, message->message_size, std::move(reply));
  } catch (...) {
    std::cerr << "Error: message handler threw: " << CurrentExceptionText() << std::endl;
    if (pending != nullptr && pending->response_handle != nullptr) {
      Respond(*pending, nullptr, 0);
    }
  }
}

// The engine calls this once with the UI's answer to a message sent with a
// reply; it owns the heap copy of the ReplyCallback from then on.
void ForwardReply(const uint8_t* data, size_t data_size, void* user_data) noexcept {
  std::unique_ptr<ReplyCallback> reply(static_cast<ReplyCallback*>(user_data));
  try {
    (*reply)(data, data_size);
  } catch (...) {
    std::cerr << "Error: reply handler threw: " << CurrentExceptionText() << std::endl;
  }
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

void BinaryMessengerImpl::SetMessageHandler(const std::string& channel, MessageHandler handler) {
  if (!handler) {
    handlers_.erase(channel);
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr, nullptr);
    return;
  }
  auto replacement = std::make_shared<const MessageHandler>(std::move(handler));
  std::shared_ptr<const MessageHandler>& stored = handlers_[channel];
  stored = std::move(replacement);
  FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), ForwardToHandler, &stored);
}

}  // namespace flutter
