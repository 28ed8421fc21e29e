// The Discord connection against the client stand-in (discord-peer) served
// on test threads in this process's Wine prefix.
#include "discord/discord_ipc.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "discord/activity_message.h"
#include "discord/discord_ipc_testing.h"
#include "discord/ipc_frame.h"
#include "tools/discord-peer/peer.h"

namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

constexpr char kNotFound[] = "Discord IPC pipe was not found. Open Discord desktop.";
constexpr char kHandshakeWriteFailed[] = "Discord IPC handshake write failed.";
constexpr char kReadyNotReceived[] = "Discord IPC READY response was not received.";
constexpr char kCommandWriteFailed[] = "Discord SET_ACTIVITY write failed.";
constexpr char kCommandReplyNotReceived[] = "Discord SET_ACTIVITY response was not received.";
constexpr char kRejected[] = "Discord rejected SET_ACTIVITY: ";

// Windows within which a time-out must fire: well above nothing and well
// below a second 2.5 s wait, so the tests do not depend on a quiet machine.
constexpr double kNoWaitMax = 2.0;
constexpr double kOneWaitMin = 2.0;
constexpr double kOneWaitMax = 4.9;

struct Outcome {
  bool ok = false;
  std::string reply = "<untouched>";
  std::string error = "<untouched>";
  double seconds = 0;
};

Outcome Update(const std::string& client_id = "1234567890") {
  Outcome out;
  const auto begin = std::chrono::steady_clock::now();
  out.ok = UpdateDiscordPresence(client_id, "In the hub", "Idle", "tidewarden", "Tidewarden",
                                 &out.reply, &out.error);
  out.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  return out;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

int64_t StartSeconds(const std::string& command) {
  const std::string key = "\"start\":";
  const auto at = command.find(key);
  return at == std::string::npos ? -1 : std::stoll(command.substr(at + key.size()));
}

// Pipe I/O that the tests can watch and break.
struct IoScript {
  std::vector<std::string> writes;  // bytes of each WriteFile call
  int fail_write = 0;               // 1-based call that fails; 0: none
  int short_write = 0;              // 1-based call that writes one byte less
  int short_read = 0;               // 1-based ReadFile call that reads one byte less
  int reads = 0;
};
IoScript g_script;

BOOL WINAPI ScriptedWriteFile(HANDLE h, LPCVOID data, DWORD size, LPDWORD written,
                              LPOVERLAPPED overlapped) {
  g_script.writes.emplace_back(static_cast<const char*>(data), size);
  const int call = static_cast<int>(g_script.writes.size());
  if (call == g_script.fail_write) {
    *written = 0;
    ::SetLastError(ERROR_NO_DATA);
    return FALSE;
  }
  if (call == g_script.short_write) size -= 1;
  return ::WriteFile(h, data, size, written, overlapped);
}

BOOL WINAPI ScriptedReadFile(HANDLE h, LPVOID data, DWORD size, LPDWORD read,
                             LPOVERLAPPED overlapped) {
  if (++g_script.reads == g_script.short_read) size -= 1;
  return ::ReadFile(h, data, size, read, overlapped);
}

class DiscordIpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_script = IoScript();
    discord::SetPipeIoForTesting({&ScriptedReadFile, &ScriptedWriteFile});
  }
  void TearDown() override {
    StopDiscordPresence();
    discord::SetPipeIoForTesting(discord::DefaultPipeIo());
  }

  // A stand-in serving pipe `options.pipe_number` until the test ends.
  discord_peer::Peer& Serve(discord_peer::Options options = {}) {
    peers_.push_back(std::make_unique<discord_peer::Peer>(options));
    std::string error;
    EXPECT_TRUE(peers_.back()->Start(&error)) << error;
    return *peers_.back();
  }

  // Waits until the peer has seen `count` connections end and tells whether
  // the last of them was closed by this side.
  static bool ClosedByClient(const discord_peer::Peer& peer, std::size_t count) {
    if (!peer.WaitForEndedConnections(count, 5000)) return false;
    return peer.ended_connections()[count - 1].closed_by_client;
  }

 private:
  std::vector<std::unique_ptr<discord_peer::Peer>> peers_;
};

TEST_F(DiscordIpcTest, WithoutClientFailsAtOnce) {
  const Outcome out = Update();
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.error, kNotFound);
  EXPECT_EQ(out.reply, "<untouched>");
  EXPECT_LT(out.seconds, kNoWaitMax);
  EXPECT_TRUE(g_script.writes.empty());
}

// The exact bytes of both frames, each in one write and each arriving whole
// in one read (the strict peer refuses anything else), and the client's
// reply handed back as received.
TEST_F(DiscordIpcTest, AcceptedUpdateSendsExactFramesWhole) {
  discord_peer::Options options;
  options.strict = true;
  auto& peer = Serve(options);

  const Outcome out = Update("1234567890");
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.error, "<untouched>");

  const std::string handshake = "{\"v\":1,\"client_id\":\"1234567890\"}";
  ASSERT_EQ(g_script.writes.size(), 2u);
  EXPECT_EQ(g_script.writes[0],
            Bytes({0, 0, 0, 0, static_cast<int>(handshake.size()), 0, 0, 0}) + handshake);
  const std::string& command_frame = g_script.writes[1];
  ASSERT_GT(command_frame.size(), 8u);
  const std::string command = command_frame.substr(8);
  const uint32_t length = static_cast<uint32_t>(command.size());
  EXPECT_EQ(command_frame.substr(0, 8),
            Bytes({1, 0, 0, 0, static_cast<int>(length & 0xFF),
                   static_cast<int>((length >> 8) & 0xFF), 0, 0}));
  const int64_t start = StartSeconds(command);
  EXPECT_EQ(command, BuildSetActivityMessage("In the hub", "Idle", "tidewarden", "Tidewarden",
                                             ::GetCurrentProcessId(), start));

  const auto frames = peer.frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].opcode, 0u);
  EXPECT_EQ(frames[0].payload, handshake);
  EXPECT_EQ(frames[0].reads, 1);
  EXPECT_EQ(frames[1].opcode, 1u);
  EXPECT_EQ(frames[1].payload, command);
  EXPECT_EQ(frames[1].reads, 1);

  const auto activity_at = command.find("\"activity\":") + 11;
  const std::string activity =
      command.substr(activity_at, command.rfind("}},\"nonce\"") + 1 - activity_at);
  const std::string nonce = std::to_string(start) + "-" + std::to_string(::GetCurrentProcessId());
  EXPECT_EQ(out.reply, "{\"cmd\":\"SET_ACTIVITY\",\"data\":" + activity +
                           ",\"evt\":null,\"nonce\":\"" + nonce + "\"}");

  // Accepted: the connection stays open.
  EXPECT_FALSE(peer.WaitForEndedConnections(1, 200));
}

TEST_F(DiscordIpcTest, UsesTheFirstPipeThatExists) {
  discord_peer::Options options;
  options.pipe_number = 3;
  auto& peer = Serve(options);
  const Outcome out = Update();
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(peer.frames().size(), 2u);
}

TEST_F(DiscordIpcTest, NullOutputPointersAreAllowed) {
  EXPECT_FALSE(UpdateDiscordPresence("1", "d", "s", "i", "t", nullptr, nullptr));
  Serve();
  EXPECT_TRUE(UpdateDiscordPresence("1", "d", "s", "i", "t", nullptr, nullptr));
}

struct PeerCase {
  const char* name;
  std::function<void(discord_peer::Options&)> script;
  const char* error;        // null: the update succeeds
  double min_seconds;
  double max_seconds;
  bool peer_closes = false; // the peer, not the launcher, ends the connection
};

// Every way the client can answer badly, and the answers at the edges that
// must still pass.
TEST_F(DiscordIpcTest, JudgesTheClientsReplies) {
  using discord_peer::Options;
  using discord_peer::Stage;
  const PeerCase cases[] = {
      {"handshake refused with a close frame",
       [](Options& o) { o.refuse_handshake = true; }, kReadyNotReceived, 0, kNoWaitMax, true},
      {"READY without its quotation marks",
       [](Options& o) { o.reply_text = "{\"cmd\":\"DISPATCH\",\"data\":{\"v\":1},\"evt\":READY}"; },
       kReadyNotReceived, 0, kNoWaitMax},
      {"READY in another word",
       [](Options& o) { o.reply_text = "{\"evt\":\"NOT_READY\"}"; }, kReadyNotReceived, 0,
       kNoWaitMax},
      {"handshake reply announces 0 bytes", [](Options& o) { o.announce_length = 0u; },
       kReadyNotReceived, 0, kNoWaitMax},
      {"handshake reply announces 1,048,577 bytes",
       [](Options& o) { o.announce_length = 1048577u; }, kReadyNotReceived, 0, kNoWaitMax},
      {"handshake reply cut short", [](Options& o) { o.short_frame = true; }, kReadyNotReceived,
       kOneWaitMin, kOneWaitMax},
      {"client closes after the handshake", [](Options& o) { o.close = true; },
       kReadyNotReceived, kOneWaitMin, kOneWaitMax, true},
      {"client never answers the handshake", [](Options& o) { o.silent = true; },
       kReadyNotReceived, kOneWaitMin, kOneWaitMax},
      {"command never answered",
       [](Options& o) { o.stage = Stage::kCommand; o.silent = true; }, kCommandReplyNotReceived,
       kOneWaitMin, kOneWaitMax},
      {"command answered too late",
       [](Options& o) { o.stage = Stage::kCommand; o.delay_ms = 3000; },
       kCommandReplyNotReceived, kOneWaitMin, kOneWaitMax, true},
      {"command reply announces 0 bytes",
       [](Options& o) { o.stage = Stage::kCommand; o.announce_length = 0u; },
       kCommandReplyNotReceived, 0, kNoWaitMax},
      {"command reply announces 1,048,577 bytes",
       [](Options& o) { o.stage = Stage::kCommand; o.announce_length = 1048577u; },
       kCommandReplyNotReceived, 0, kNoWaitMax},
      {"command reply cut short",
       [](Options& o) { o.stage = Stage::kCommand; o.short_frame = true; },
       kCommandReplyNotReceived, kOneWaitMin, kOneWaitMax},
      {"client closes instead of answering the command",
       [](Options& o) { o.stage = Stage::kCommand; o.close = true; }, kCommandReplyNotReceived,
       kOneWaitMin, kOneWaitMax, true},
      // Accepted:
      {"READY under any opcode", [](Options& o) { o.reply_opcode = 7u; }, nullptr, 0, kNoWaitMax},
      {"handshake reply of exactly 1,048,576 bytes",
       [](Options& o) { o.pad_to = std::size_t{1048576}; }, nullptr, 0, kOneWaitMax},
      {"command reply of exactly 1,048,576 bytes",
       [](Options& o) { o.stage = Stage::kCommand; o.pad_to = std::size_t{1048576}; }, nullptr,
       0, kOneWaitMax},
      {"answers after a short delay", [](Options& o) { o.delay_ms = 300; }, nullptr, 0.25,
       kNoWaitMax},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    discord_peer::Options options;
    c.script(options);
    discord_peer::Peer peer(options);
    std::string start_error;
    ASSERT_TRUE(peer.Start(&start_error)) << start_error;

    const Outcome out = Update();
    EXPECT_GE(out.seconds, c.min_seconds);
    EXPECT_LE(out.seconds, c.max_seconds);
    if (c.error == nullptr) {
      EXPECT_TRUE(out.ok) << out.error;
      StopDiscordPresence();
    } else {
      EXPECT_FALSE(out.ok);
      EXPECT_EQ(out.error, c.error);
    }
    // Every failure closes the connection; so does the stop after a success.
    if (c.peer_closes) {
      EXPECT_TRUE(peer.WaitForEndedConnections(1, 5000));
    } else {
      EXPECT_TRUE(ClosedByClient(peer, 1));
    }
    EXPECT_EQ(peer.accepted_connections(), 1u);
  }
}

struct RejectCase {
  const char* name;
  std::function<void(discord_peer::Options&)> script;
};

// A rejected command reports the whole reply after the fixed text, stores
// the reply too, and closes the connection.
TEST_F(DiscordIpcTest, RejectedCommandReportsTheReply) {
  using discord_peer::Options;
  const RejectCase cases[] = {
      {"ERROR event with a code", [](Options& o) { o.reject_code = 4000; }},
      {"code as a nested member name",
       [](Options& o) {
         o.stage = discord_peer::Stage::kCommand;
         o.reply_text = "{\"cmd\":\"SET_ACTIVITY\",\"data\":{\"assets\":{\"code\":1}},"
                        "\"evt\":null,\"nonce\":\"1\"}";
       }},
      {"ERROR event without a code",
       [](Options& o) {
         o.stage = discord_peer::Stage::kCommand;
         o.reply_text = "{\"cmd\":\"SET_ACTIVITY\",\"data\":{},\"evt\":\"ERROR\"}";
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    discord_peer::Options options;
    c.script(options);
    discord_peer::Peer peer(options);
    std::string start_error;
    ASSERT_TRUE(peer.Start(&start_error)) << start_error;

    const Outcome out = Update();
    EXPECT_FALSE(out.ok);
    EXPECT_THAT(out.reply, StartsWith("{\"cmd\":\"SET_ACTIVITY\""));
    if (options.reply_text) {
      EXPECT_EQ(out.reply, *options.reply_text);
    }
    EXPECT_EQ(out.error, kRejected + out.reply);
    EXPECT_TRUE(ClosedByClient(peer, 1));
  }
}

struct IoCase {
  const char* name;
  std::function<void(IoScript&)> script;
  const char* error;
  std::size_t frames_received;
};

// Failures a real pipe gives only by racing the other end: failed and short
// writes, and a read that delivers less than the pipe announced.
TEST_F(DiscordIpcTest, FailedOrShortPipeIo) {
  const IoCase cases[] = {
      {"handshake write fails", [](IoScript& s) { s.fail_write = 1; }, kHandshakeWriteFailed, 0},
      {"handshake write short", [](IoScript& s) { s.short_write = 1; }, kHandshakeWriteFailed,
       0},
      {"command write fails", [](IoScript& s) { s.fail_write = 2; }, kCommandWriteFailed, 1},
      {"command write short", [](IoScript& s) { s.short_write = 2; }, kCommandWriteFailed, 1},
      {"handshake reply header read short", [](IoScript& s) { s.short_read = 1; },
       kReadyNotReceived, 1},
      {"handshake reply payload read short", [](IoScript& s) { s.short_read = 2; },
       kReadyNotReceived, 1},
      {"command reply payload read short", [](IoScript& s) { s.short_read = 4; },
       kCommandReplyNotReceived, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    discord_peer::Peer peer(discord_peer::Options{});
    std::string start_error;
    ASSERT_TRUE(peer.Start(&start_error)) << start_error;
    g_script = IoScript();
    c.script(g_script);

    const Outcome out = Update();
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.error, c.error);
    EXPECT_LT(out.seconds, kNoWaitMax);
    EXPECT_TRUE(ClosedByClient(peer, 1));
    // A short write leaves an incomplete frame, which the peer never counts.
    EXPECT_EQ(peer.frames().size(), c.frames_received);
  }
}

// Each update is a new connection with a full handshake (here with another
// client id); the earlier connection is closed.
TEST_F(DiscordIpcTest, EveryUpdateIsAFreshConnection) {
  discord_peer::Options options;
  options.strict = true;
  auto& peer = Serve(options);

  ASSERT_TRUE(Update("111").ok);
  ASSERT_TRUE(Update("222").ok);
  EXPECT_TRUE(ClosedByClient(peer, 1));
  EXPECT_EQ(peer.accepted_connections(), 2u);

  const auto frames = peer.frames();
  ASSERT_EQ(frames.size(), 4u);
  std::vector<std::pair<int, uint32_t>> order;
  for (const auto& f : frames) order.emplace_back(f.connection, f.opcode);
  EXPECT_THAT(order, ElementsAre(std::pair(1, 0u), std::pair(1, 1u), std::pair(2, 0u),
                                 std::pair(2, 1u)));
  EXPECT_EQ(frames[0].payload, "{\"v\":1,\"client_id\":\"111\"}");
  EXPECT_EQ(frames[2].payload, "{\"v\":1,\"client_id\":\"222\"}");
  EXPECT_FALSE(peer.WaitForEndedConnections(2, 100));
}

TEST_F(DiscordIpcTest, StopClosesTheConnectionAndSendsNothing) {
  auto& peer = Serve();
  ASSERT_TRUE(Update().ok);
  const std::size_t writes = g_script.writes.size();

  StopDiscordPresence();
  EXPECT_TRUE(ClosedByClient(peer, 1));
  EXPECT_EQ(g_script.writes.size(), writes);
  EXPECT_EQ(peer.frames().size(), 2u);

  // A second stop has nothing to close; an update after it starts afresh.
  StopDiscordPresence();
  const Outcome again = Update();
  EXPECT_TRUE(again.ok) << again.error;
  EXPECT_EQ(peer.accepted_connections(), 2u);
}

TEST_F(DiscordIpcTest, StopWithoutConnectionDoesNothing) {
  StopDiscordPresence();
  StopDiscordPresence();
  EXPECT_TRUE(g_script.writes.empty());
  auto& peer = Serve();
  const Outcome out = Update();
  EXPECT_TRUE(out.ok) << out.error;
  EXPECT_EQ(peer.accepted_connections(), 1u);
}

}  // namespace
