// A stand-in for the Discord desktop client's local IPC server, for tests
// and for UI work on machines without Discord.
//
// Serves \\.\pipe\discord-ipc-N like the desktop client: reads the
// handshake and answers with a READY dispatch, then answers each
// SET_ACTIVITY command with the accepted activity echoed back and the
// command's nonce, one connection after another (each on its own thread)
// until stopped. Options script the misbehaviours that the launcher must
// survive, and a strict mode refuses, like some real servers do, a frame
// that does not arrive whole in one read.
//
// Every frame received is recorded (and appended to a log file when one is
// named): connection number, opcode, length, the number of reads it took
// and the payload.
//
// Example:
//   discord_peer::Options options;
//   options.pipe_number = 3;
//   discord_peer::Peer peer(options);
//   std::string error;
//   if (!peer.Start(&error)) ...;      // the pipe exists from here on
//   ... connect, talk ...
//   peer.Stop();                        // or let the destructor stop it
#ifndef TOOLS_DISCORD_PEER_PEER_H_
#define TOOLS_DISCORD_PEER_PEER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discord/ipc_frame.h"

namespace discord_peer {

// Which reply the misbehaviour options affect.
enum class Stage { kHandshake, kCommand };

struct Options {
  int pipe_number = 0;
  // Refuse (close without answering) a frame that took more than one read.
  bool strict = false;
  // Append every received frame to this file; empty: no file.
  std::string log_path;
  // Size of the pipe's buffer in each direction (nInBufferSize and
  // nOutBufferSize of CreateNamedPipeW). 0 makes a pipe without a buffer,
  // where every write waits until the other end reads it.
  uint32_t pipe_buffer = 2 * 1024 * 1024;

  // Misbehaviours of the reply at `stage`, in the order they are applied:
  Stage stage = Stage::kHandshake;
  bool close = false;                       // close the connection instead
  bool silent = false;                      // never answer
  int delay_ms = 0;                         // answer after this delay
  std::optional<std::string> reply_text;    // this payload instead
  std::optional<std::size_t> pad_to;        // pad the payload to this size
  std::optional<uint32_t> reply_opcode;     // this opcode instead of 1
  std::optional<uint32_t> announce_length;  // header with this length, no payload
  bool short_frame = false;                 // full length, half the payload

  // Stop reading before the frame of `stage`: at kHandshake the connection
  // is never read, at kCommand the handshake is read and answered and
  // nothing after it. The connection stays open until the client closes it
  // (checked without reading).
  bool never_read = false;

  // Answer the handshake with a close frame (opcode 2,
  // {"code":4000,"message":"Invalid Client ID"}) and close.
  bool refuse_handshake = false;
  // Answer SET_ACTIVITY with an ERROR event carrying this code.
  std::optional<int> reject_code;
};

struct FrameRecord {
  int connection = 0;
  uint32_t opcode = 0;
  uint32_t length = 0;
  int reads = 0;  // ReadFile calls that delivered the frame's bytes
  std::string payload;
};

struct ConnectionSummary {
  int connection = 0;
  std::size_t frames = 0;
  bool closed_by_client = false;
  // What the client's handle lets this server do as the client, probed with
  // ImpersonateNamedPipeClient after the first frame: a
  // SECURITY_IMPERSONATION_LEVEL (0 anonymous, 1 identification,
  // 2 impersonation, 3 delegation), or -1 when it could not be probed.
  int impersonation_level = -1;
  std::string text;  // one line for a person, without a line break
};

class Peer {
 public:
  explicit Peer(Options options);
  ~Peer();  // Stops.

  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Creates the pipe and starts serving. Fails (with a reason in `*error`)
  // when the pipe cannot be created, for instance because it is served
  // already. The pipe exists when this returns true.
  bool Start(std::string* error);

  // Stops accepting, ends every open connection and waits for the threads.
  void Stop();

  // Called on a connection's thread when it ends; set before Start.
  void set_on_connection_end(std::function<void(const ConnectionSummary&)> callback);

  // True once `count` connections have ended, false after `timeout_ms`.
  bool WaitForEndedConnections(std::size_t count, unsigned timeout_ms) const;

  std::vector<FrameRecord> frames() const;
  std::vector<ConnectionSummary> ended_connections() const;
  std::size_t accepted_connections() const;

  // The payload the peer sends as READY.
  static std::string ReadyPayload();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Parses command-line flags (without the program name) into `options`;
// `*connections` receives --connections (0: serve until stopped). Returns
// false with a message in `*error` for an unknown flag or a bad value.
bool ParseFlags(const std::vector<std::string>& args, Options* options, std::size_t* connections,
                std::string* error);

// The flags, for --help and usage errors.
const char* Usage();

// For a test or benchmark on the client side of a connection to the peer:
// reads one whole frame from `pipe` (opened without FILE_FLAG_OVERLAPPED)
// with blocking reads. False when the pipe fails or ends first.
bool ReadFrameBlocking(void* pipe, tw::discord::FrameHeader* header, std::string* payload);

}  // namespace discord_peer

#endif  // TOOLS_DISCORD_PEER_PEER_H_
