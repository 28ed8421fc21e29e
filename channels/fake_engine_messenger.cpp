#include "channels/fake_engine_messenger.h"

#include <gtest/gtest.h>

namespace flutter::testing {
namespace {

alignas(16) char messenger_storage[16];

void Expect(FlutterDesktopMessengerRef messenger) {
  EXPECT_EQ(messenger, FakeEngineMessenger::Handle()) << "a messenger the engine never gave";
}

}  // namespace

FakeEngineMessenger& Fake() {
  static FakeEngineMessenger fake;
  return fake;
}

FlutterDesktopMessengerRef FakeEngineMessenger::Handle() {
  return reinterpret_cast<FlutterDesktopMessengerRef>(messenger_storage);
}

void FakeEngineMessenger::Reset() { Fake() = FakeEngineMessenger(); }

bool FakeEngineMessenger::Deliver(const std::string& channel, const std::vector<uint8_t>& bytes,
                                  const FlutterDesktopMessageResponseHandle* handle) {
  for (auto it = registrations.rbegin(); it != registrations.rend(); ++it) {
    if (it->channel != channel) continue;
    if (it->callback == nullptr) return false;
    FlutterDesktopMessage message{};
    message.struct_size = sizeof message;
    message.channel = channel.c_str();
    message.message = bytes.empty() ? nullptr : bytes.data();
    message.message_size = bytes.size();
    message.response_handle = handle;
    it->callback(Handle(), &message, it->user_data);
    return true;
  }
  return false;
}

}  // namespace flutter::testing

using flutter::testing::Fake;

extern "C" {

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  flutter::testing::Expect(messenger);
  Fake().calls.push_back("SetCallback");
  Fake().registrations.push_back({channel, callback, user_data});
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel,
                                 const uint8_t* message, size_t message_size) {
  flutter::testing::Expect(messenger);
  Fake().calls.push_back("Send");
  Fake().sent.push_back({channel, std::vector<uint8_t>(message, message + message_size), nullptr,
                         nullptr});
  return Fake().accept_sends;
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger,
                                          const char* channel, const uint8_t* message,
                                          size_t message_size, FlutterDesktopBinaryReply reply,
                                          void* user_data) {
  flutter::testing::Expect(messenger);
  Fake().calls.push_back("SendWithReply");
  if (!Fake().accept_sends) return false;
  Fake().sent.push_back({channel, std::vector<uint8_t>(message, message + message_size), reply,
                         user_data});
  return true;
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle,
                                         const uint8_t* data, size_t data_length) {
  flutter::testing::Expect(messenger);
  Fake().calls.push_back("SendResponse");
  EXPECT_TRUE(data != nullptr || data_length == 0);
  Fake().responses.push_back(
      {handle, data != nullptr ? std::vector<uint8_t>(data, data + data_length)
                               : std::vector<uint8_t>(),
       data == nullptr});
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  flutter::testing::Expect(messenger);
  Fake().calls.push_back("AddRef");
  if (Fake().add_ref_returns_null) return nullptr;
  ++Fake().references;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  flutter::testing::Expect(messenger);
  Fake().calls.push_back("Release");
  EXPECT_GT(Fake().references, 0) << "released below zero";
  --Fake().references;
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  flutter::testing::Expect(messenger);
  Fake().calls.push_back("IsAvailable");
  EXPECT_GT(Fake().locks, 0) << "availability checked without the lock";
  return Fake().available;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  flutter::testing::Expect(messenger);
  Fake().calls.push_back("Lock");
  ++Fake().locks;
  return Fake().lock_returns_null ? nullptr : messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  flutter::testing::Expect(messenger);
  Fake().calls.push_back("Unlock");
  EXPECT_GT(Fake().locks, 0) << "unlocked without a lock";
  --Fake().locks;
}

}  // extern "C"
