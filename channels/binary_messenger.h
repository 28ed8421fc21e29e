// Byte messages between the channel layer and the engine's messenger.
//
// BinaryMessengerImpl keeps one MessageHandler per channel name and registers
// a C callback with the engine for each name. Every incoming message becomes
// one handler call with a ReplyCallback that sends the answer back through
// the engine exactly once:
//
//   - the reply takes the engine's messenger lock around its availability
//     check and its response, so the engine cannot end between the two;
//   - a reply after the engine has ended is dropped without a word;
//   - a reply given a second time (by any copy of the ReplyCallback) writes
//     "Error: Response can be set only once. Ignoring duplicate response."
//     and sends nothing.
//
// Each incoming message holds a reference on the engine's messenger handle
// (FlutterDesktopMessengerAddRef) for as long as any copy of its
// ReplyCallback exists, answered or not; the last copy releases it.
//
// Threading: handlers are registered and called on the platform (window)
// thread; the map has no lock. A reply may be given on any thread.
//
// Ownership: the engine wrapper owns the messenger; channels hold plain
// pointers to it. The messenger does not unregister its callbacks when it is
// destroyed, so the engine must stop delivering messages first (it is
// destroyed before the messenger). A handler may replace or clear its own
// registration while it runs: the running call keeps it alive to its end.
//
// Nothing unwinds into the engine. A handler that throws writes
// "Error: message handler threw: <what>" and its message is answered with an
// empty response unless it was answered already; a reply to a sent message
// that throws writes "Error: reply handler threw: <what>". When the engine
// gives no messenger reference for a message (AddRef returns null), its
// reply is dropped with the leak warning
// "Warning: Failed to respond to a message. This is a memory leak.".
//
// Example:
//   flutter::BinaryMessengerImpl messenger(FlutterDesktopEngineGetMessenger(engine));
//   messenger.SetMessageHandler("app/echo",
//       [](const uint8_t* bytes, size_t size, flutter::ReplyCallback reply) {
//         reply(bytes, size);
//       });
#ifndef CHANNELS_BINARY_MESSENGER_H_
#define CHANNELS_BINARY_MESSENGER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "channels/engine_method_result.h"

// The engine's messenger handle, opaque here (declared with the engine's C
// interface).
typedef struct FlutterDesktopMessenger* FlutterDesktopMessengerRef;

namespace flutter {

// Handles the messages of one channel: (message bytes, byte count, reply).
// The handler owns the reply and may keep it to answer later. May be empty.
using MessageHandler =
    std::function<void(const uint8_t* message, size_t message_size, ReplyCallback reply)>;

class BinaryMessenger {
 public:
  BinaryMessenger() = default;
  virtual ~BinaryMessenger() = default;
  BinaryMessenger(const BinaryMessenger&) = delete;
  BinaryMessenger& operator=(const BinaryMessenger&) = delete;

  // Sends a message toward the UI. With a non-empty `reply`, it is called
  // once with the UI's answer, or never when the engine refuses the message.
  virtual void Send(const std::string& channel, const uint8_t* message, size_t message_size,
                    ReplyCallback reply) const = 0;

  // Registers `handler` for `channel`, replacing any earlier one; an empty
  // handler removes the registration.
  virtual void SetMessageHandler(const std::string& channel, MessageHandler handler) = 0;
};

class BinaryMessengerImpl : public BinaryMessenger {
 public:
  // `messenger` is neither owned nor referenced; it must outlive this object.
  // No engine call is made.
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef messenger);
  ~BinaryMessengerImpl() override;

  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            ReplyCallback reply) const override;
  void SetMessageHandler(const std::string& channel, MessageHandler handler) override;

 private:
  FlutterDesktopMessengerRef messenger_;
  // Node-based: the engine holds the address of each stored handler as its
  // user data, so an entry must not move while it is registered. Shared, so
  // that a running call keeps its handler alive when the entry changes.
  std::map<std::string, std::shared_ptr<const MessageHandler>> handlers_;
};

}  // namespace flutter

#endif  // CHANNELS_BINARY_MESSENGER_H_
