// The frame format of the Discord client's local IPC, shared by the
// connection and by the development stand-in that plays the client.
//
// Every message in either direction is one frame:
//   opcode (4 bytes, unsigned, little-endian)
//   length (4 bytes, unsigned, little-endian): payload size in bytes
//   payload (length bytes): JSON text in UTF-8, no terminator
//
// Portable: no Windows headers, so the host build tests it too.
#ifndef DISCORD_IPC_FRAME_H_
#define DISCORD_IPC_FRAME_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tw::discord {

// Header is opcode (4 bytes) and payload length (4 bytes).
inline constexpr std::size_t kFrameHeaderSize = 4 + 4;

// Opcodes. The connection sends only the first two and never examines the
// opcode of what it receives.
inline constexpr uint32_t kOpHandshake = 0;
inline constexpr uint32_t kOpFrame = 1;
inline constexpr uint32_t kOpClose = 2;
inline constexpr uint32_t kOpPing = 3;
inline constexpr uint32_t kOpPong = 4;

// A received payload must be 1 to kMaxPayloadSize bytes long; anything else
// fails the read before a byte of payload is waited for or allocated.
inline constexpr uint32_t kMaxPayloadSize = 1048576;

inline constexpr int kHandshakeVersion = 1;

// Replies are judged by plain, case-sensitive substring search.
inline constexpr std::string_view kReadyMarker = "\"READY\"";
inline constexpr std::string_view kErrorMarker = "\"ERROR\"";
inline constexpr std::string_view kCodeMarker = "\"code\"";

struct FrameHeader {
  uint32_t opcode = 0;
  uint32_t length = 0;
};

// Encodes the header byte by byte, little-endian.
std::array<uint8_t, kFrameHeaderSize> EncodeFrameHeader(uint32_t opcode, uint32_t length);

// Decodes the 8 bytes at `bytes`.
FrameHeader DecodeFrameHeader(const uint8_t* bytes);

// Header and payload as one contiguous block, so that a frame leaves in one
// write. The length field is the payload's size truncated to 32 bits.
std::string EncodeFrame(uint32_t opcode, std::string_view payload);

// The handshake payload: {"v":1,"client_id":"<escaped client id>"}.
std::string BuildHandshakePayload(const std::string& client_id);

}  // namespace tw::discord

#endif  // DISCORD_IPC_FRAME_H_
