#include "discord/ipc_frame.h"

#include "discord/activity_message.h"

namespace tw::discord {

std::array<uint8_t, kFrameHeaderSize> EncodeFrameHeader(uint32_t opcode, uint32_t length) {
  std::array<uint8_t, kFrameHeaderSize> header{};
  for (int i = 0; i < 4; ++i) {
    header[i] = static_cast<uint8_t>(opcode >> (8 * i));
    header[4 + i] = static_cast<uint8_t>(length >> (8 * i));
  }
  return header;
}

FrameHeader DecodeFrameHeader(const uint8_t* bytes) {
  FrameHeader header;
  for (int i = 3; i >= 0; --i) {
    header.opcode = (header.opcode << 8) | bytes[i];
    header.length = (header.length << 8) | bytes[4 + i];
  }
  return header;
}

std::string EncodeFrame(uint32_t opcode, std::string_view payload) {
  const auto header = EncodeFrameHeader(opcode, static_cast<uint32_t>(payload.size()));
  std::string frame;
  frame.reserve(kFrameHeaderSize + payload.size());
  frame.append(reinterpret_cast<const char*>(header.data()), header.size());
  frame.append(payload);
  return frame;
}

std::string BuildHandshakePayload(const std::string& client_id) {
  std::string payload = "{\"v\":";
  payload += std::to_string(kHandshakeVersion);
  payload += ",\"client_id\":\"";
  payload += EscapeJsonString(client_id);
  payload += "\"}";
  return payload;
}

}  // namespace tw::discord
