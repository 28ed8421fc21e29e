// A fake of the engine's messenger functions for the host build, where no
// engine library exists. It records every call in order and plays the
// engine's side of a message.
#ifndef CHANNELS_FAKE_ENGINE_MESSENGER_H_
#define CHANNELS_FAKE_ENGINE_MESSENGER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "runner/flutter_windows.h"

namespace flutter::testing {

struct FakeEngineMessenger {
  struct Registration {
    std::string channel;
    FlutterDesktopMessageCallback callback;
    void* user_data;
  };
  struct Response {
    const FlutterDesktopMessageResponseHandle* handle;
    std::vector<uint8_t> bytes;
    bool null_data;
  };
  struct Sent {
    std::string channel;
    std::vector<uint8_t> bytes;
    FlutterDesktopBinaryReply reply;
    void* user_data;
  };

  // The one messenger handle of the fake; every call must pass it.
  static FlutterDesktopMessengerRef Handle();
  // Clears everything and makes the engine available again.
  static void Reset();

  // Calls the callback last registered for `channel` with a message record;
  // false when none is registered.
  bool Deliver(const std::string& channel, const std::vector<uint8_t>& bytes,
               const FlutterDesktopMessageResponseHandle* handle);

  // Calls in order, by name: "AddRef", "Release", "Lock", "Unlock",
  // "IsAvailable", "SendResponse", "SetCallback", "Send", "SendWithReply".
  std::vector<std::string> calls;
  std::vector<Registration> registrations;  // every SetCallback, in order
  std::vector<Response> responses;
  std::vector<Sent> sent;
  int references = 0;  // AddRef minus Release
  int locks = 0;       // Lock minus Unlock
  bool available = true;
  bool lock_returns_null = false;
  bool add_ref_returns_null = false;  // AddRef gives no reference
  bool accept_sends = true;
};

FakeEngineMessenger& Fake();

// Builds an opaque response handle from a small number, for identification.
inline const FlutterDesktopMessageResponseHandle* ResponseHandle(uintptr_t n) {
  return reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(n * 16);
}

}  // namespace flutter::testing

#endif  // CHANNELS_FAKE_ENGINE_MESSENGER_H_
