#include "discord/discord_ipc.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "discord/activity_message.h"
#include "discord/ipc_frame.h"
#include "discord/ipc_reply.h"
#include "discord/pipe_io_seam.h"
#include "discord/pipe_name.h"
#include "util/file_io.h"
#include "util/win_handles.h"

namespace tw::discord {
namespace {

constexpr std::chrono::milliseconds kWaitTimeout{2500};
constexpr DWORD kWaitTimeoutMs = static_cast<DWORD>(kWaitTimeout.count());
constexpr std::chrono::milliseconds kPollStep{20};

constexpr char kPipeNotFound[] = "Discord IPC pipe was not found. Open Discord desktop.";
constexpr char kHandshakeWriteFailed[] = "Discord IPC handshake write failed.";
constexpr char kCommandWriteFailed[] = "Discord SET_ACTIVITY write failed.";

// Guards g_connection and all traffic on the pipe.
std::mutex g_connection_mutex;
// The open pipe, or none. Static lifetime: lives as long as the process.
UniqueFile g_connection;

// Overlapped, so that every read and write can be given up after a time-out;
// and the server may identify the launcher but not act as it.
constexpr DWORD kPipeOpenFlags =
    FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// The first of the client's pipes that opens, tried once each in order; a
// busy pipe is not waited for.
UniqueFile OpenDiscordPipe() {
  for (int n = 0; n < kPipeCount; ++n) {
    const std::wstring name = PipeName(n);
    HANDLE pipe =
        CurrentPipeIo().create_file(name.c_str(), GENERIC_READ | GENERIC_WRITE, /*dwShareMode=*/0,
                                    /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, kPipeOpenFlags,
                                    /*hTemplateFile=*/nullptr);
    if (pipe != INVALID_HANDLE_VALUE) return UniqueFile(pipe);
  }
  return UniqueFile();
}

// True when the overlapped operation that a call began on `pipe` (it
// returned `started`, and `error` was the last error right after it)
// completed within `timeout_ms` and moved exactly `size` bytes. One still
// running after that is cancelled and waited for, so that the system is
// done with `overlapped` and the buffer before they go away.
bool FinishedWhole(HANDLE pipe, OVERLAPPED* overlapped, BOOL started, DWORD error, DWORD timeout_ms,
                   DWORD size) {
  DWORD transferred = 0;
  return FinishOverlapped(pipe, overlapped, started, error, timeout_ms, &transferred) ==
             IoOutcome::kDone &&
         transferred == size;
}

// True once at least `count` bytes wait in the pipe, false when `deadline`
// passes first. Polls with peeks; a failing peek (the client went away) does
// not end the wait early.
bool WaitForPipeBytes(HANDLE pipe, DWORD count, std::chrono::steady_clock::time_point deadline) {
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

// Reads exactly `size` bytes into `buffer`, within one wait of kWaitTimeout:
// polls until the pipe holds all of them, then reads them with one
// overlapped ReadFile, whose completion is waited for until the same
// deadline (the bytes are there, so it completes at once; one still pending
// then is cancelled, waited for and fails). A short read means the pipe
// misbehaved and is a failure, not a reason to read again.
bool ReadPipeBytes(HANDLE pipe, void* buffer, DWORD size) {
  const auto deadline = std::chrono::steady_clock::now() + kWaitTimeout;
  if (!WaitForPipeBytes(pipe, size, deadline)) return false;
  const UniqueKernelHandle event = CreateIoEvent();
  if (!event) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  const DWORD left_ms = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  const BOOL started =
      CurrentPipeIo().read_file(pipe, buffer, size, /*lpNumberOfBytesRead=*/nullptr, &overlapped);
  const DWORD error = started ? ERROR_SUCCESS : ::GetLastError();
  return FinishedWhole(pipe, &overlapped, started, error, left_ms, size);
}

// Reads exactly one frame: the header, then the payload, each within its own
// wait. `*payload` changes only on success.
bool ReadIpcFrame(HANDLE pipe, std::string* payload) {
  uint8_t header_bytes[kFrameHeaderSize];
  if (!ReadPipeBytes(pipe, header_bytes, sizeof header_bytes)) return false;
  // Checked before anything is allocated or waited for.
  const std::optional<uint32_t> length = AnnouncedPayloadLength(header_bytes);
  if (!length) return false;
  std::string buffer(*length, '\0');
  if (!ReadPipeBytes(pipe, buffer.data(), *length)) return false;
  *payload = std::move(buffer);
  return true;
}

// Sends header and payload in a single WriteFile: byte-mode pipes make two
// writes the same bytes as one, but servers that read a whole frame per read
// refuse a frame that arrives split. The write must complete within
// kWaitTimeout, or it is cancelled and fails: a server that stops reading
// (with its pipe buffer full, or a pipe without one) cannot hold the
// launcher. There is no flush: on a pipe FlushFileBuffers waits, without a
// time-out, until the other end has read everything, and a completed write
// has already handed the whole frame to the pipe.
bool WriteIpcFrame(HANDLE pipe, uint32_t opcode, const std::string& payload) {
  const std::string frame = EncodeFrame(opcode, payload);
  if (frame.size() > std::numeric_limits<DWORD>::max()) return false;
  const DWORD size = static_cast<DWORD>(frame.size());
  const UniqueKernelHandle event = CreateIoEvent();
  if (!event) return false;
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  const BOOL started = CurrentPipeIo().write_file(pipe, frame.data(), size,
                                                  /*lpNumberOfBytesWritten=*/nullptr, &overlapped);
  const DWORD error = started ? ERROR_SUCCESS : ::GetLastError();
  return FinishedWhole(pipe, &overlapped, started, error, kWaitTimeoutMs, size);
}

// Reports `text`; the caller's connection closes as it returns.
bool Fail(const char* text, std::string* error) {
  if (error != nullptr) *error = text;
  return false;
}

bool Fail(ReplyVerdict verdict, std::string* error) {
  if (error != nullptr) *error = std::move(verdict.error);
  return false;
}

}  // namespace

bool UpdateDiscordPresence(const std::string& client_id, const std::string& details,
                           const std::string& state, const std::string& large_image,
                           const std::string& large_text, std::string* reply, std::string* error) {
  std::lock_guard<std::mutex> lock(g_connection_mutex);

  // Never reused: every update is a fresh connection with a fresh handshake.
  g_connection.reset();

  // Owned here until the update succeeds, so that every failure, and an
  // exception (out of memory) on its way out, closes it.
  UniqueFile connection = OpenDiscordPipe();
  if (!connection) return Fail(kPipeNotFound, error);
  const HANDLE pipe = connection.get();

  if (!WriteIpcFrame(pipe, kOpHandshake, BuildHandshakePayload(client_id))) {
    return Fail(kHandshakeWriteFailed, error);
  }

  std::string ready;
  const bool ready_read = ReadIpcFrame(pipe, &ready);
  ReplyVerdict handshake = JudgeHandshakeReply(ready_read ? &ready : nullptr);
  if (!handshake.accepted) return Fail(std::move(handshake), error);

  if (!WriteIpcFrame(pipe, kOpFrame,
                     BuildSetActivityMessage(details, state, large_image, large_text))) {
    return Fail(kCommandWriteFailed, error);
  }

  std::string response;
  const bool response_read = ReadIpcFrame(pipe, &response);
  // Stored before it is judged, so a rejection is visible to the caller too.
  if (response_read && reply != nullptr) *reply = response;
  ReplyVerdict command = JudgeCommandReply(response_read ? &response : nullptr);
  if (!command.accepted) return Fail(std::move(command), error);
  g_connection = std::move(connection);
  return true;
}

void StopDiscordPresence() {
  std::lock_guard<std::mutex> lock(g_connection_mutex);
  g_connection.reset();
}

}  // namespace tw::discord
