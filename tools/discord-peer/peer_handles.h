// Owners for the event handles of discord-peer (pipes use
// discord::UniquePipe).
#ifndef TOOLS_DISCORD_PEER_PEER_HANDLES_H_
#define TOOLS_DISCORD_PEER_PEER_HANDLES_H_

#include <windows.h>

#include "util/unique_handle.h"

namespace discord_peer {

// An event (or other kernel object) handle, where null means none.
struct EventTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type handle) { ::CloseHandle(handle); }
};
using UniqueEvent = tw::UniqueHandle<EventTraits>;

}  // namespace discord_peer

#endif  // TOOLS_DISCORD_PEER_PEER_HANDLES_H_
