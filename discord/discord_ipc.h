// The launcher's connection to the Discord desktop client on this machine,
// over the client's named pipes \\.\pipe\discord-ipc-0 to -9.
//
// There is at most one connection per process. An update always drops the
// previous connection and makes a fresh one with a fresh handshake, so the
// client id may change from one update to the next; a successful update
// leaves the new connection open, which keeps the activity published until
// StopDiscordPresence or the next update closes it.
//
// Thread-safe: one process-wide mutex serialises both operations. They
// block the calling thread: an update waits at most 2.5 s for each of its
// two writes and for each of the two halves (header, payload) of each of the
// two replies, six waits or 15 s in all. Neither
// may be called while the caller already holds that mutex (it does not
// recurse), which in practice means: not from one another.
#ifndef DISCORD_DISCORD_IPC_H_
#define DISCORD_DISCORD_IPC_H_

#include <string>

namespace tw::discord {

// Publishes the activity: opens the first pipe that exists, sends the
// handshake for `client_id`, waits for READY, sends SET_ACTIVITY built from
// the four values and waits for the reply.
//
// Returns true when the client accepted the activity; the connection stays
// open. On false the connection is closed and `*error` (when not null) holds
// one of the fixed failure texts, for a rejection "Discord rejected
// SET_ACTIVITY: " followed by the reply. `*reply` (when not null) receives
// the reply to SET_ACTIVITY as soon as one arrives, a rejecting one too.
bool UpdateDiscordPresence(const std::string& client_id, const std::string& details,
                           const std::string& state, const std::string& large_image,
                           const std::string& large_text, std::string* reply, std::string* error);

// Withdraws the activity by closing the connection, if one is open. Sends
// nothing and cannot fail.
void StopDiscordPresence();

}  // namespace tw::discord

#endif  // DISCORD_DISCORD_IPC_H_
