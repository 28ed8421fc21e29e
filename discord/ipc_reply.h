// How the connection judges what the Discord client sends back: the length
// a received frame header announces, and the two replies of an update.
//
// Everything here reads bytes that another process wrote, so it is kept
// free of Windows headers: the host build tests it and the fuzz build
// feeds it arbitrary input.
//
// Example:
//   const std::optional<uint32_t> length = AnnouncedPayloadLength(header);
//   if (!length) ...;  // refused before anything is allocated or waited for
//   const ReplyVerdict verdict = JudgeCommandReply(&payload);
//   if (!verdict.accepted) Report(verdict.error);
#ifndef DISCORD_IPC_REPLY_H_
#define DISCORD_IPC_REPLY_H_

#include <cstdint>
#include <optional>
#include <string>

#include "discord/ipc_frame.h"

namespace tw::discord {

inline constexpr char kReadyNotReceived[] = "Discord IPC READY response was not received.";
inline constexpr char kCommandReplyNotReceived[] =
    "Discord SET_ACTIVITY response was not received.";
inline constexpr char kCommandRejected[] = "Discord rejected SET_ACTIVITY: ";

// The payload length in the kFrameHeaderSize bytes at `header`, when it is
// one that is read: 1 to kMaxPayloadSize. None for anything else.
std::optional<uint32_t> AnnouncedPayloadLength(const uint8_t* header);

struct ReplyVerdict {
  bool accepted = false;
  std::string error;  // the text to report when not accepted; empty otherwise
};

// `reply` is the payload of the frame that answered, or null when no whole
// frame arrived. Only the markers decide, as plain case-sensitive
// substrings of the whole payload; its opcode and everything else in it
// are not examined.

// Accepted when the reply holds the READY marker.
ReplyVerdict JudgeHandshakeReply(const std::string* reply);

// Refused when the reply holds the ERROR marker or the code marker; the
// error text then ends with the whole reply.
ReplyVerdict JudgeCommandReply(const std::string* reply);

}  // namespace tw::discord

#endif  // DISCORD_IPC_REPLY_H_
