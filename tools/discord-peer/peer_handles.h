// Owners for the event handles of discord-peer (pipes use
// discord::UniquePipe).
#ifndef TOOLS_DISCORD_PEER_PEER_HANDLES_H_
#define TOOLS_DISCORD_PEER_PEER_HANDLES_H_

#include <windows.h>

#include "util/win_handles.h"

namespace discord_peer {

// An event (or other kernel object) handle, where null means none.
using UniqueEvent = tw::UniqueKernelHandle;

}  // namespace discord_peer

#endif  // TOOLS_DISCORD_PEER_PEER_HANDLES_H_
