// The Discord connection against the client stand-in (discord-peer) served
// on test threads in this process's Wine prefix.
#include "discord/discord_ipc.h"

#include <windows.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "discord/activity_message.h"
#include "discord/ipc_frame.h"
#include "discord/pipe_io_seam.h"
#include "discord/pipe_name.h"
#include "discord/testing/scripted_pipe_io.h"
#include "testing/scoped_override.h"
#include "tools/discord-peer/peer.h"
#include "util/win_handles.h"

namespace tw::discord {
namespace {

using test::PipeIoScript;
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

Outcome Update(const std::string& client_id = "1234567890",
               const std::string& details = "In the hub") {
  Outcome out;
  const auto begin = std::chrono::steady_clock::now();
  out.ok = UpdateDiscordPresence(client_id, details, "Idle", "tidewarden", "Tidewarden", &out.reply,
                                 &out.error);
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
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

// A stand-in with `script` applied to its options, serving until it is
// destroyed; null (and a test failure) when it cannot start.
std::unique_ptr<discord_peer::Peer> StartPeer(
    const std::function<void(discord_peer::Options&)>& script = {}) {
  discord_peer::Options options;
  if (script) script(options);
  auto peer = std::make_unique<discord_peer::Peer>(options);
  std::string error;
  if (!peer->Start(&error)) {
    ADD_FAILURE() << "the stand-in did not start: " << error;
    return nullptr;
  }
  return peer;
}

class DiscordIpcTest : public ::testing::Test {
 protected:
  void TearDown() override { StopDiscordPresence(); }

  // What the pipe calls follow and what they saw.
  PipeIoScript& Script() { return pipe_io_.script(); }

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
  test::ScriptedPipeIo pipe_io_;
  std::vector<std::unique_ptr<discord_peer::Peer>> peers_;
};

TEST_F(DiscordIpcTest, WithoutClientFailsAtOnce) {
  const Outcome out = Update();
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.error, kNotFound);
  EXPECT_EQ(out.reply, "<untouched>");
  EXPECT_LT(out.seconds, kNoWaitMax);
  EXPECT_TRUE(Script().writes.empty());
  // All ten pipes, in order, once each.
  ASSERT_EQ(Script().opens.size(), 10u);
  for (int n = 0; n < 10; ++n) EXPECT_EQ(Script().opens[n], PipeName(n));
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
  ASSERT_EQ(Script().writes.size(), 2u);
  EXPECT_EQ(Script().writes[0],
            Bytes({0, 0, 0, 0, static_cast<int>(handshake.size()), 0, 0, 0}) + handshake);
  const std::string& command_frame = Script().writes[1];
  ASSERT_GT(command_frame.size(), 8u);
  const std::string command = command_frame.substr(8);
  const uint32_t length = static_cast<uint32_t>(command.size());
  EXPECT_EQ(command_frame.substr(0, 8), Bytes({1, 0, 0, 0, static_cast<int>(length & 0xFF),
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

// The pipes below the served one are tried first, the last one too.
TEST_F(DiscordIpcTest, UsesTheFirstPipeThatExists) {
  for (const int number : {3, 9}) {
    SCOPED_TRACE(number);
    const auto peer = StartPeer([&](discord_peer::Options& o) { o.pipe_number = number; });
    ASSERT_TRUE(peer);
    Script() = PipeIoScript();

    const Outcome out = Update();
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_EQ(peer->frames().size(), 2u);
    ASSERT_EQ(Script().opens.size(), static_cast<std::size_t>(number + 1));
    for (int n = 0; n <= number; ++n) EXPECT_EQ(Script().opens[n], PipeName(n));
    StopDiscordPresence();
  }
}

// After Discord has gone, an update finds no pipe: the connection that the
// last update left open is closed, not written to.
TEST_F(DiscordIpcTest, DiscordGoneAfterAnUpdateIsNotFound) {
  {
    const auto peer = StartPeer();
    ASSERT_TRUE(peer);
    ASSERT_TRUE(Update().ok);
  }
  const std::size_t writes = Script().writes.size();
  const Outcome out = Update();
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.error, kNotFound);
  EXPECT_LT(out.seconds, kNoWaitMax);
  EXPECT_EQ(Script().writes.size(), writes);
}

TEST_F(DiscordIpcTest, NullOutputPointersAreAllowed) {
  EXPECT_FALSE(UpdateDiscordPresence("1", "d", "s", "i", "t", nullptr, nullptr));
  Serve();
  EXPECT_TRUE(UpdateDiscordPresence("1", "d", "s", "i", "t", nullptr, nullptr));
}

struct PeerCase {
  const char* name;
  std::function<void(discord_peer::Options&)> script;
  const char* error;  // null: the update succeeds
  double min_seconds;
  double max_seconds;
  bool peer_closes = false;  // the peer, not the launcher, ends the connection
};

// Every way the client can answer badly, and the answers at the edges that
// must still pass.
TEST_F(DiscordIpcTest, JudgesTheClientsReplies) {
  using discord_peer::Options;
  using discord_peer::Stage;
  const PeerCase cases[] = {
      {"handshake refused with a close frame", [](Options& o) { o.refuse_handshake = true; },
       kReadyNotReceived, 0, kNoWaitMax, true},
      {"READY without its quotation marks",
       [](Options& o) { o.reply_text = "{\"cmd\":\"DISPATCH\",\"data\":{\"v\":1},\"evt\":READY}"; },
       kReadyNotReceived, 0, kNoWaitMax},
      {"READY in another word", [](Options& o) { o.reply_text = "{\"evt\":\"NOT_READY\"}"; },
       kReadyNotReceived, 0, kNoWaitMax},
      {"handshake reply announces 0 bytes", [](Options& o) { o.announce_length = 0u; },
       kReadyNotReceived, 0, kNoWaitMax},
      {"handshake reply announces 1,048,577 bytes",
       [](Options& o) { o.announce_length = 1048577u; }, kReadyNotReceived, 0, kNoWaitMax},
      {"handshake reply cut short", [](Options& o) { o.short_frame = true; }, kReadyNotReceived,
       kOneWaitMin, kOneWaitMax},
      {"client closes after the handshake", [](Options& o) { o.close = true; }, kReadyNotReceived,
       kOneWaitMin, kOneWaitMax, true},
      {"client never answers the handshake", [](Options& o) { o.silent = true; }, kReadyNotReceived,
       kOneWaitMin, kOneWaitMax},
      {"command never answered",
       [](Options& o) {
         o.stage = Stage::kCommand;
         o.silent = true;
       },
       kCommandReplyNotReceived, kOneWaitMin, kOneWaitMax},
      {"command answered too late",
       [](Options& o) {
         o.stage = Stage::kCommand;
         o.delay_ms = 3000;
       },
       kCommandReplyNotReceived, kOneWaitMin, kOneWaitMax, true},
      {"command reply announces 0 bytes",
       [](Options& o) {
         o.stage = Stage::kCommand;
         o.announce_length = 0u;
       },
       kCommandReplyNotReceived, 0, kNoWaitMax},
      {"command reply announces 1,048,577 bytes",
       [](Options& o) {
         o.stage = Stage::kCommand;
         o.announce_length = 1048577u;
       },
       kCommandReplyNotReceived, 0, kNoWaitMax},
      {"command reply cut short",
       [](Options& o) {
         o.stage = Stage::kCommand;
         o.short_frame = true;
       },
       kCommandReplyNotReceived, kOneWaitMin, kOneWaitMax},
      {"client closes instead of answering the command",
       [](Options& o) {
         o.stage = Stage::kCommand;
         o.close = true;
       },
       kCommandReplyNotReceived, kOneWaitMin, kOneWaitMax, true},
      // Accepted:
      {"READY under any opcode", [](Options& o) { o.reply_opcode = 7u; }, nullptr, 0, kNoWaitMax},
      {"handshake reply of exactly 1,048,576 bytes",
       [](Options& o) { o.pad_to = std::size_t{1048576}; }, nullptr, 0, kOneWaitMax},
      {"command reply of exactly 1,048,576 bytes",
       [](Options& o) {
         o.stage = Stage::kCommand;
         o.pad_to = std::size_t{1048576};
       },
       nullptr, 0, kOneWaitMax},
      {"answers after a short delay", [](Options& o) { o.delay_ms = 300; }, nullptr, 0.25,
       kNoWaitMax},
      {"pipe without a buffer: each write waits for the client's read",
       [](Options& o) { o.pipe_buffer = 0; }, nullptr, 0, kNoWaitMax},
      // The handshake fits in the pipe's buffer, so only the reply is missing.
      {"client never reads", [](Options& o) { o.never_read = true; }, kReadyNotReceived,
       kOneWaitMin, kOneWaitMax},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto started = StartPeer(c.script);
    ASSERT_TRUE(started);
    discord_peer::Peer& peer = *started;

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
         o.reply_text =
             "{\"cmd\":\"SET_ACTIVITY\",\"data\":{\"assets\":{\"code\":1}},"
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

struct WriteBoundCase {
  const char* name;
  std::function<void(discord_peer::Options&)> script;
  std::size_t client_id_size;  // 0: the usual client id
  std::size_t details_size;    // 0: the usual details
  const char* error;
  std::size_t frames_received;
};

// A client that stops reading cannot hold an update: a write that has not
// completed after 2.5 s (a pipe without a buffer, or a frame bigger than
// the buffer) is cancelled, the update fails with the step's text and
// closes the connection, and the next update against a client that reads
// succeeds.
TEST_F(DiscordIpcTest, WriteThatNeverCompletesFailsWithinTheBound) {
  using discord_peer::Options;
  using discord_peer::Stage;
  constexpr double kBoundMin = 2.4;
  constexpr double kBoundMax = 4.0;
  constexpr std::size_t kBig = 3 << 20;  // above the peer's usual 2 MiB buffer
  const WriteBoundCase cases[] = {
      {"never reads, no pipe buffer",
       [](Options& o) {
         o.never_read = true;
         o.pipe_buffer = 0;
       },
       0, 0, kHandshakeWriteFailed, 0},
      {"never reads, handshake bigger than the buffer", [](Options& o) { o.never_read = true; },
       kBig, 0, kHandshakeWriteFailed, 0},
      {"stops reading after READY, no pipe buffer",
       [](Options& o) {
         o.stage = Stage::kCommand;
         o.never_read = true;
         o.pipe_buffer = 0;
       },
       0, 0, kCommandWriteFailed, 1},
      {"stops reading after READY, command bigger than the buffer",
       [](Options& o) {
         o.stage = Stage::kCommand;
         o.never_read = true;
       },
       0, kBig, kCommandWriteFailed, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      const auto peer = StartPeer(c.script);
      ASSERT_TRUE(peer);

      const Outcome out =
          Update(c.client_id_size == 0 ? "1234567890" : std::string(c.client_id_size, '7'),
                 c.details_size == 0 ? "In the hub" : std::string(c.details_size, 'd'));
      EXPECT_FALSE(out.ok);
      EXPECT_EQ(out.error, c.error);
      EXPECT_GE(out.seconds, kBoundMin);
      EXPECT_LE(out.seconds, kBoundMax);
      EXPECT_TRUE(ClosedByClient(*peer, 1));
      EXPECT_EQ(peer->frames().size(), c.frames_received);
    }
    const auto working = StartPeer();
    ASSERT_TRUE(working);
    const Outcome next = Update();
    EXPECT_TRUE(next.ok) << next.error;
    StopDiscordPresence();
  }
}

// Opened for overlapped I/O and for identification only: the server may
// learn who the launcher is, but cannot act as it.
TEST_F(DiscordIpcTest, PipeServerCanOnlyIdentifyTheLauncher) {
  auto& peer = Serve();
  ASSERT_TRUE(Update().ok);
  StopDiscordPresence();
  ASSERT_TRUE(peer.WaitForEndedConnections(1, 5000));
  ASSERT_EQ(Script().open_flags.size(), 1u);
  EXPECT_EQ(Script().open_flags[0],
            DWORD{FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION});

  // What the same server gets from a client that does not restrict it.
  {
    tw::UniqueFile plain(::CreateFileW(PipeName(0).c_str(), GENERIC_READ | GENERIC_WRITE,
                                       /*dwShareMode=*/0, nullptr, OPEN_EXISTING,
                                       /*dwFlagsAndAttributes=*/0, nullptr));
    ASSERT_TRUE(plain);
    const std::string frame = EncodeFrame(0, "{\"v\":1,\"client_id\":\"1\"}");
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(plain.get(), frame.data(), static_cast<DWORD>(frame.size()), &written,
                            nullptr));
    char header[kFrameHeaderSize];
    DWORD read = 0;
    ASSERT_TRUE(::ReadFile(plain.get(), header, sizeof header, &read, nullptr));
  }
  ASSERT_TRUE(peer.WaitForEndedConnections(2, 5000));
  const auto ended = peer.ended_connections();
  const int launcher_level = ended[0].impersonation_level;
  const int plain_level = ended[1].impersonation_level;
  if (launcher_level == plain_level) {
    // Wine grants the server the same level (impersonation) whatever the
    // client asks for, so there only the flags above can be checked.
    std::printf(
        "note: this system grants the pipe server impersonation level %d to every "
        "client; the launcher's level is not observable here\n",
        launcher_level);
    return;
  }
  EXPECT_EQ(launcher_level, SecurityIdentification);
}

struct IoCase {
  const char* name;
  std::function<void(PipeIoScript&)> script;
  const char* error;  // null: the update throws std::bad_alloc
  std::size_t frames_received;
};

// Failures a real pipe gives only by racing the other end: failed and short
// writes, and a read that delivers less than the pipe announced. And
// running out of memory once the pipe is open (building a message, a
// buffer or an error text), which propagates but closes the connection on
// its way out and leaves the connection free for the next update.
TEST_F(DiscordIpcTest, FailedOrShortPipeIo) {
  const IoCase cases[] = {
      {"handshake write fails", [](PipeIoScript& s) { s.fail_write = 1; }, kHandshakeWriteFailed,
       0},
      {"handshake write short", [](PipeIoScript& s) { s.short_write = 1; }, kHandshakeWriteFailed,
       0},
      {"command write fails", [](PipeIoScript& s) { s.fail_write = 2; }, kCommandWriteFailed, 1},
      {"command write short", [](PipeIoScript& s) { s.short_write = 2; }, kCommandWriteFailed, 1},
      {"handshake reply header read short", [](PipeIoScript& s) { s.short_read = 1; },
       kReadyNotReceived, 1},
      {"handshake reply payload read short", [](PipeIoScript& s) { s.short_read = 2; },
       kReadyNotReceived, 1},
      {"command reply payload read short", [](PipeIoScript& s) { s.short_read = 4; },
       kCommandReplyNotReceived, 2},
      {"out of memory sending the handshake", [](PipeIoScript& s) { s.throw_at_write = 1; },
       nullptr, 0},
      {"out of memory sending the command", [](PipeIoScript& s) { s.throw_at_write = 2; }, nullptr,
       1},
      {"out of memory reading the reply", [](PipeIoScript& s) { s.throw_at_read = 3; }, nullptr, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto peer = StartPeer();
    ASSERT_TRUE(peer);
    Script() = PipeIoScript();
    c.script(Script());

    if (c.error == nullptr) {
      EXPECT_THROW(Update(), std::bad_alloc);
    } else {
      const Outcome out = Update();
      EXPECT_FALSE(out.ok);
      EXPECT_EQ(out.error, c.error);
      EXPECT_LT(out.seconds, kNoWaitMax);
    }
    EXPECT_TRUE(ClosedByClient(*peer, 1));
    // A short write leaves an incomplete frame, which the peer never counts.
    EXPECT_EQ(peer->frames().size(), c.frames_received);

    Script() = PipeIoScript();
    const Outcome next = Update();
    EXPECT_TRUE(next.ok) << next.error;
    EXPECT_EQ(peer->accepted_connections(), 2u);
    StopDiscordPresence();
  }
}

// A null entry of the seam stands for the platform call, and the table
// that an override replaced comes back when it ends.
TEST_F(DiscordIpcTest, NullSeamEntriesAreThePlatformCalls) {
  auto& peer = Serve();
  {
    const tw::test::ScopedOverride<PipeIo, &SetPipeIoForTesting> platform(
        PipeIo{nullptr, nullptr, nullptr});
    const Outcome out = Update();
    EXPECT_TRUE(out.ok) << out.error;
  }
  EXPECT_EQ(peer.frames().size(), 2u);
  EXPECT_TRUE(Script().opens.empty());
  EXPECT_TRUE(Script().writes.empty());
  EXPECT_EQ(Script().reads, 0);

  // The stand-in is back.
  const Outcome again = Update();
  EXPECT_TRUE(again.ok) << again.error;
  EXPECT_EQ(Script().opens.size(), 1u);
  EXPECT_EQ(Script().writes.size(), 2u);
  EXPECT_EQ(Script().reads, 4);
}

struct HeldReadCase {
  const char* name;
  int read;  // the ReadFile call left pending
  const char* error;
  std::size_t frames_received;
};

// A read that is still pending when its wait ends (the pipe announced the
// bytes, the read never delivers them) is cancelled, and waited for before
// its OVERLAPPED goes away; the update fails with the step's text within
// one wait.
TEST_F(DiscordIpcTest, ReadStillPendingAtTheDeadlineIsCancelled) {
  const HeldReadCase cases[] = {
      {"handshake reply header", 1, kReadyNotReceived, 1},
      {"command reply header", 3, kCommandReplyNotReceived, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto peer = StartPeer();
    ASSERT_TRUE(peer);
    Script() = PipeIoScript();
    Script().hold_read = c.read;

    const Outcome out = Update();
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.error, c.error);
    EXPECT_GE(out.seconds, kOneWaitMin);
    EXPECT_LE(out.seconds, kOneWaitMax);
    EXPECT_EQ(Script().reads, c.read);
    ASSERT_TRUE(Script().held_event);
    // Completed (by the cancel) before the update returned.
    EXPECT_EQ(::WaitForSingleObject(Script().held_event.get(), 0), WAIT_OBJECT_0);
    // The read was not satisfied: the client's next bytes are still unread
    // when the connection ends.
    Script().held_pipe.reset();
    EXPECT_TRUE(ClosedByClient(*peer, 1));
    EXPECT_EQ(peer->frames().size(), c.frames_received);
    Script() = PipeIoScript();
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
  EXPECT_THAT(order,
              ElementsAre(std::pair(1, 0u), std::pair(1, 1u), std::pair(2, 0u), std::pair(2, 1u)));
  EXPECT_EQ(frames[0].payload, "{\"v\":1,\"client_id\":\"111\"}");
  EXPECT_EQ(frames[2].payload, "{\"v\":1,\"client_id\":\"222\"}");
  EXPECT_FALSE(peer.WaitForEndedConnections(2, 100));
}

TEST_F(DiscordIpcTest, StopClosesTheConnectionAndSendsNothing) {
  auto& peer = Serve();
  ASSERT_TRUE(Update().ok);
  const std::size_t writes = Script().writes.size();

  StopDiscordPresence();
  EXPECT_TRUE(ClosedByClient(peer, 1));
  EXPECT_EQ(Script().writes.size(), writes);
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
  EXPECT_TRUE(Script().writes.empty());
  auto& peer = Serve();
  const Outcome out = Update();
  EXPECT_TRUE(out.ok) << out.error;
  EXPECT_EQ(peer.accepted_connections(), 1u);
}

}  // namespace
}  // namespace tw::discord
