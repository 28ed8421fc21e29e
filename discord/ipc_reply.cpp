#include "discord/ipc_reply.h"

#include <string_view>
#include <utility>

namespace tw::discord {
namespace {

bool Contains(const std::string& text, std::string_view marker) {
  return text.find(marker) != std::string::npos;
}

ReplyVerdict Refused(std::string error) { return ReplyVerdict{false, std::move(error)}; }

}  // namespace

std::optional<uint32_t> AnnouncedPayloadLength(const uint8_t* header) {
  const uint32_t length = DecodeFrameHeader(header).length;
  if (length == 0 || length > kMaxPayloadSize) return std::nullopt;
  return length;
}

ReplyVerdict JudgeHandshakeReply(const std::string* reply) {
  if (reply == nullptr || !Contains(*reply, kReadyMarker)) return Refused(kReadyNotReceived);
  return ReplyVerdict{true, {}};
}

ReplyVerdict JudgeCommandReply(const std::string* reply) {
  if (reply == nullptr) return Refused(kCommandReplyNotReceived);
  if (Contains(*reply, kErrorMarker) || Contains(*reply, kCodeMarker)) {
    return Refused(kCommandRejected + *reply);
  }
  return ReplyVerdict{true, {}};
}

}  // namespace tw::discord
