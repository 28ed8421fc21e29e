#include "discord/discord_ipc.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "discord/activity_message.h"
#include "discord/discord_ipc_testing.h"
#include "discord/ipc_frame.h"
#include "discord/win_handles.h"

namespace {

using discord::UniquePipe;

constexpr wchar_t kPipeNamePrefix[] = L"\\\\.\\pipe\\discord-ipc-";
constexpr int kPipeCount = 10;
constexpr std::chrono::milliseconds kWaitTimeout{2500};
constexpr std::chrono::milliseconds kPollStep{20};

constexpr char kPipeNotFound[] = "Discord IPC pipe was not found. Open Discord desktop.";
constexpr char kHandshakeWriteFailed[] = "Discord IPC handshake write failed.";
constexpr char kReadyNotReceived[] = "Discord IPC READY response was not received.";
constexpr char kCommandWriteFailed[] = "Discord SET_ACTIVITY write failed.";
constexpr char kCommandReplyNotReceived[] = "Discord SET_ACTIVITY response was not received.";
constexpr char kCommandRejected[] = "Discord rejected SET_ACTIVITY: ";

// Guards g_connection, g_io and all traffic on the pipe.
std::mutex g_connection_mutex;
// The open pipe, or none. Static lifetime: lives as long as the process.
UniquePipe g_connection;
discord::PipeIo g_io = discord::DefaultPipeIo();

// The first of the client's pipes that opens, tried once each in order; a
// busy pipe is not waited for.
UniquePipe OpenDiscordPipe() {
  for (int n = 0; n < kPipeCount; ++n) {
    const std::wstring name = kPipeNamePrefix + std::to_wstring(n);
    HANDLE pipe = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, /*dwShareMode=*/0,
                                /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                /*dwFlagsAndAttributes=*/0, /*hTemplateFile=*/nullptr);
    if (pipe != INVALID_HANDLE_VALUE) return UniquePipe(pipe);
  }
  return UniquePipe();
}

// True once at least `count` bytes wait in the pipe, false when `timeout`
// passes first. Polls instead of using overlapped I/O, so that the pipe stays
// a plain synchronous handle; a failing peek (the client went away) does not
// end the wait early.
bool WaitForPipeBytes(HANDLE pipe, DWORD count, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    DWORD available = 0;
    if (::PeekNamedPipe(pipe, /*lpBuffer=*/nullptr, /*nBufferSize=*/0, /*lpBytesRead=*/nullptr,
                        &available, /*lpBytesLeftThisMessage=*/nullptr) &&
        available >= count) {
      return true;
    }
    std::this_thread::sleep_for(kPollStep);
  }
}

// Reads exactly one frame. Each half is read by one ReadFile only after the
// pipe holds all of it, so a short read means the pipe misbehaved and is a
// failure, not a reason to read again. `*payload` changes only on success.
bool ReadIpcFrame(HANDLE pipe, std::string* payload) {
  if (!WaitForPipeBytes(pipe, discord::kFrameHeaderSize, kWaitTimeout)) return false;
  uint8_t header_bytes[discord::kFrameHeaderSize];
  DWORD read = 0;
  if (!g_io.read_file(pipe, header_bytes, sizeof header_bytes, &read, /*lpOverlapped=*/nullptr) ||
      read != sizeof header_bytes) {
    return false;
  }
  const uint32_t length = discord::DecodeFrameHeader(header_bytes).length;
  // Checked before anything is allocated or waited for.
  if (length == 0 || length > discord::kMaxPayloadSize) return false;
  if (!WaitForPipeBytes(pipe, length, kWaitTimeout)) return false;
  std::string buffer(length, '\0');
  read = 0;
  if (!g_io.read_file(pipe, buffer.data(), length, &read, /*lpOverlapped=*/nullptr) ||
      read != length) {
    return false;
  }
  *payload = std::move(buffer);
  return true;
}

// Sends header and payload in a single WriteFile: byte-mode pipes make two
// writes the same bytes as one, but servers that read a whole frame per read
// refuse a frame that arrives split.
bool WriteIpcFrame(HANDLE pipe, uint32_t opcode, const std::string& payload) {
  const std::string frame = discord::EncodeFrame(opcode, payload);
  if (frame.size() > std::numeric_limits<DWORD>::max()) return false;
  const DWORD size = static_cast<DWORD>(frame.size());
  DWORD written = 0;
  if (!g_io.write_file(pipe, frame.data(), size, &written, /*lpOverlapped=*/nullptr) ||
      written != size) {
    return false;
  }
  ::FlushFileBuffers(pipe);  // Its result does not change the outcome.
  return true;
}

bool Fail(const char* text, std::string* error) {
  if (error != nullptr) *error = text;
  g_connection.reset();
  return false;
}

bool Contains(const std::string& text, std::string_view marker) {
  return text.find(marker) != std::string::npos;
}

}  // namespace

namespace discord {

PipeIo DefaultPipeIo() { return PipeIo{&::ReadFile, &::WriteFile}; }

PipeIo SetPipeIoForTesting(PipeIo io) {
  std::lock_guard<std::mutex> lock(g_connection_mutex);
  const PipeIo previous = g_io;
  g_io = io;
  return previous;
}

}  // namespace discord

bool UpdateDiscordPresence(const std::string& client_id, const std::string& details,
                           const std::string& state, const std::string& large_image,
                           const std::string& large_text, std::string* reply,
                           std::string* error) {
  std::lock_guard<std::mutex> lock(g_connection_mutex);

  // Never reused: every update is a fresh connection with a fresh handshake.
  g_connection.reset();

  g_connection = OpenDiscordPipe();
  if (!g_connection) return Fail(kPipeNotFound, error);
  const HANDLE pipe = g_connection.get();

  if (!WriteIpcFrame(pipe, discord::kOpHandshake, discord::BuildHandshakePayload(client_id))) {
    return Fail(kHandshakeWriteFailed, error);
  }

  // The marker is the whole check: the frame's opcode and the rest of the
  // payload are not examined.
  std::string ready;
  if (!ReadIpcFrame(pipe, &ready) || !Contains(ready, discord::kReadyMarker)) {
    return Fail(kReadyNotReceived, error);
  }

  if (!WriteIpcFrame(pipe, discord::kOpFrame,
                     BuildSetActivityMessage(details, state, large_image, large_text))) {
    return Fail(kCommandWriteFailed, error);
  }

  std::string response;
  if (!ReadIpcFrame(pipe, &response)) return Fail(kCommandReplyNotReceived, error);

  // Stored before it is judged, so a rejection is visible to the caller too.
  if (reply != nullptr) *reply = response;

  if (Contains(response, discord::kErrorMarker) || Contains(response, discord::kCodeMarker)) {
    if (error != nullptr) *error = kCommandRejected + response;
    g_connection.reset();
    return false;
  }
  return true;
}

void StopDiscordPresence() {
  std::lock_guard<std::mutex> lock(g_connection_mutex);
  g_connection.reset();
}
