// Feeds arbitrary bytes to the judgement of what the Discord client sends:
// the first 8 bytes as a frame header, the rest as the reply payload, both
// as the handshake reply and as the command reply. Checks each verdict
// against an independent reading: the length taken byte by byte, the
// markers found by a plain position-by-position comparison.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "discord/ipc_frame.h"
#include "discord/ipc_reply.h"

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "discord reply fuzzer: %s\n", what);
  std::abort();
}

bool HasAt(const std::string& text, std::size_t at, const char* marker) {
  for (std::size_t i = 0; marker[i] != '\0'; ++i) {
    if (at + i >= text.size() || text[at + i] != marker[i]) return false;
  }
  return true;
}

bool Holds(const std::string& text, const char* marker) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (HasAt(text, at, marker)) return true;
  }
  return false;
}

void CheckHeader(const uint8_t* header) {
  const uint32_t length = uint32_t{header[4]} | uint32_t{header[5]} << 8 |
                          uint32_t{header[6]} << 16 | uint32_t{header[7]} << 24;
  const uint32_t opcode = uint32_t{header[0]} | uint32_t{header[1]} << 8 |
                          uint32_t{header[2]} << 16 | uint32_t{header[3]} << 24;
  const tw::discord::FrameHeader decoded = tw::discord::DecodeFrameHeader(header);
  Check(decoded.opcode == opcode && decoded.length == length, "header decoded wrongly");
  const auto encoded = tw::discord::EncodeFrameHeader(opcode, length);
  for (std::size_t i = 0; i < tw::discord::kFrameHeaderSize; ++i) {
    Check(encoded[i] == header[i], "header does not encode back to its bytes");
  }

  const std::optional<uint32_t> announced = tw::discord::AnnouncedPayloadLength(header);
  const bool readable = length >= 1 && length <= 1048576;
  Check(announced.has_value() == readable, "length outside 1..1048576 accepted, or inside refused");
  Check(!announced || *announced == length, "accepted length differs from the header's");
}

void CheckReplies(const std::string& payload) {
  const tw::discord::ReplyVerdict handshake = tw::discord::JudgeHandshakeReply(&payload);
  const bool ready = Holds(payload, "\"READY\"");
  Check(handshake.accepted == ready, "handshake verdict differs from the READY marker");
  Check(handshake.error == (ready ? "" : "Discord IPC READY response was not received."),
        "handshake text");

  const tw::discord::ReplyVerdict command = tw::discord::JudgeCommandReply(&payload);
  const bool rejected = Holds(payload, "\"ERROR\"") || Holds(payload, "\"code\"");
  Check(command.accepted == !rejected, "command verdict differs from the ERROR and code markers");
  Check(command.error == (rejected ? "Discord rejected SET_ACTIVITY: " + payload : ""),
        "command text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t header[tw::discord::kFrameHeaderSize] = {};
  for (std::size_t i = 0; i < tw::discord::kFrameHeaderSize && i < size; ++i) header[i] = data[i];
  CheckHeader(header);
  const std::size_t skip =
      size < tw::discord::kFrameHeaderSize ? size : tw::discord::kFrameHeaderSize;
  CheckReplies(std::string(reinterpret_cast<const char*>(data) + skip, size - skip));
  // The whole input as a payload too, so that markers may start anywhere.
  CheckReplies(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
