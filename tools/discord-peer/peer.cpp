#include "tools/discord-peer/peer.h"

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "discord/ipc_frame.h"
#include "discord/pipe_name.h"
#include "util/file_io.h"
#include "util/utf.h"
#include "util/win_handles.h"

namespace discord_peer {
namespace {

// One read may hold a whole frame of the largest size the protocol allows.
constexpr std::size_t kReadChunkSize = tw::discord::kFrameHeaderSize + tw::discord::kMaxPayloadSize;

tw::UniqueKernelHandle MakeEvent(bool manual_reset) {
  return tw::UniqueKernelHandle(::CreateEventW(/*lpEventAttributes=*/nullptr, manual_reset,
                                               /*bInitialState=*/FALSE, /*lpName=*/nullptr));
}

enum class Io { kDone, kFailed, kStopped };

// Finishes an overlapped operation whose call returned `started` (with
// `error` read right after it), or cancels it when `stop` is signalled first.
// No time-out beyond `stop`: a client may stay quiet for as long as it likes.
Io Finish(HANDLE handle, OVERLAPPED* overlapped, BOOL started, DWORD error, HANDLE stop,
          DWORD* transferred) {
  switch (tw::FinishOverlapped(handle, overlapped, started, error, INFINITE, transferred, stop)) {
    case tw::IoOutcome::kDone:
      return Io::kDone;
    case tw::IoOutcome::kFailed:
      return Io::kFailed;
    case tw::IoOutcome::kTimedOut:
    case tw::IoOutcome::kStopped:
      break;
  }
  return Io::kStopped;
}

// The text of the string member `key` (as written, escapes kept), if the
// payload has one; good enough for the flat members this peer looks at.
std::optional<std::string> StringMember(const std::string& json, std::string_view key) {
  std::string pattern = "\"";
  pattern.append(key).append("\":\"");
  const auto at = json.find(pattern);
  if (at == std::string::npos) return std::nullopt;
  std::string value;
  for (std::size_t i = at + pattern.size(); i < json.size(); ++i) {
    if (json[i] == '\\' && i + 1 < json.size()) {
      value += json[i];
      value += json[++i];
    } else if (json[i] == '"') {
      return value;
    } else {
      value += json[i];
    }
  }
  return std::nullopt;
}

// The object that follows "key": in the payload, found by matching braces
// outside strings.
std::optional<std::string> ObjectMember(const std::string& json, std::string_view key) {
  std::string pattern = "\"";
  pattern.append(key).append("\":{");
  const auto at = json.find(pattern);
  if (at == std::string::npos) return std::nullopt;
  const std::size_t begin = at + pattern.size() - 1;
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = begin; i < json.size(); ++i) {
    const char c = json[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{') {
      ++depth;
    } else if (c == '}' && --depth == 0) {
      return json.substr(begin, i - begin + 1);
    }
  }
  return std::nullopt;
}

// The level of the impersonation that the client's handle allows, as
// ConnectionSummary::impersonation_level describes; the thread reverts at
// once. Needs a frame read from the pipe first.
int ClientImpersonationLevel(HANDLE pipe) {
  if (!::ImpersonateNamedPipeClient(pipe)) return -1;
  int level = -1;
  HANDLE token_handle = nullptr;
  if (::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, /*OpenAsSelf=*/TRUE, &token_handle)) {
    const tw::UniqueKernelHandle token(token_handle);
    SECURITY_IMPERSONATION_LEVEL value{};
    DWORD size = 0;
    if (::GetTokenInformation(token.get(), TokenImpersonationLevel, &value, sizeof value, &size)) {
      level = static_cast<int>(value);
    }
  }
  ::RevertToSelf();
  return level;
}

std::string NonceJson(const std::string& payload) {
  const auto nonce = StringMember(payload, "nonce");
  return nonce ? "\"" + *nonce + "\"" : "null";
}

// Pads a JSON object to exactly `size` bytes with a filler member; an
// object already that long or longer is left as it is.
std::string PadTo(std::string payload, std::size_t size) {
  static constexpr std::string_view kFiller = ",\"padding\":\"\"";
  if (payload.empty() || payload.back() != '}' || payload.size() + kFiller.size() > size) {
    return payload;
  }
  const std::size_t fill = size - payload.size() - kFiller.size();
  payload.pop_back();
  payload += ",\"padding\":\"" + std::string(fill, 'x') + "\"}";
  return payload;
}

}  // namespace

struct Peer::Impl {
  explicit Impl(Options opts) : options(std::move(opts)) {}

  Options options;
  tw::UniqueKernelHandle stop_event;
  tw::UniqueFile listening;  // the first instance, created by Start
  std::thread accept_thread;
  std::function<void(const ConnectionSummary&)> on_end;

  mutable std::mutex mutex;
  mutable std::condition_variable ended_changed;
  std::vector<std::thread> connection_threads;
  std::vector<FrameRecord> frames;
  std::vector<ConnectionSummary> ended;
  std::size_t accepted = 0;
  std::ofstream log;

  tw::UniqueFile CreateInstance(bool first) {
    const DWORD open_mode =
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    return tw::UniqueFile(::CreateNamedPipeW(
        tw::discord::PipeName(options.pipe_number).c_str(), open_mode,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
        options.pipe_buffer, options.pipe_buffer, /*nDefaultTimeOut=*/0,
        /*lpSecurityAttributes=*/nullptr));
  }

  void AcceptLoop(tw::UniqueFile pipe) {
    const tw::UniqueKernelHandle connected = MakeEvent(/*manual_reset=*/true);
    while (pipe) {
      OVERLAPPED overlapped{};
      overlapped.hEvent = connected.get();
      ::ResetEvent(connected.get());
      const BOOL started = ::ConnectNamedPipe(pipe.get(), &overlapped);
      const DWORD error = started ? ERROR_SUCCESS : ::GetLastError();
      // A client that arrived between creation and this call is already
      // there (ERROR_PIPE_CONNECTED), or came and went already (ERROR_NO_DATA):
      // both count as a connection, the second one closed by the client.
      Io io = Io::kDone;
      if (error != ERROR_PIPE_CONNECTED && error != ERROR_NO_DATA) {
        DWORD unused = 0;
        io = Finish(pipe.get(), &overlapped, started, error, stop_event.get(), &unused);
      }
      if (io == Io::kStopped) return;
      if (io == Io::kFailed) {
        pipe = CreateInstance(/*first=*/false);
        continue;
      }
      // The next instance exists before this connection is served, so the
      // name never disappears for a client that comes back.
      tw::UniqueFile next = CreateInstance(/*first=*/false);
      std::lock_guard<std::mutex> lock(mutex);
      const int id = static_cast<int>(++accepted);
      connection_threads.emplace_back(
          [this, id, served = std::move(pipe)]() mutable { Serve(std::move(served), id); });
      pipe = std::move(next);
    }
  }

  struct Conn {
    tw::UniqueFile pipe;
    int id = 0;
    tw::UniqueKernelHandle io_event = MakeEvent(/*manual_reset=*/true);
    std::string pending;        // bytes read but not yet framed
    int reads_for_pending = 0;  // reads that delivered `pending`
    std::size_t frames = 0;
    std::vector<std::string> events;
    std::string client_id;
  };

  enum class Next { kFrame, kClientClosed, kStopped, kRefused };

  Next ReadFrame(Conn& c, std::vector<char>& chunk, FrameRecord* frame) {
    for (;;) {
      if (c.pending.size() >= tw::discord::kFrameHeaderSize) {
        const auto header =
            tw::discord::DecodeFrameHeader(reinterpret_cast<const uint8_t*>(c.pending.data()));
        if (header.length > tw::discord::kMaxPayloadSize) {
          c.events.push_back("refused a frame announcing " + std::to_string(header.length) +
                             " bytes");
          return Next::kRefused;
        }
        const std::size_t whole = tw::discord::kFrameHeaderSize + header.length;
        if (c.pending.size() >= whole) {
          frame->connection = c.id;
          frame->opcode = header.opcode;
          frame->length = header.length;
          frame->reads = c.reads_for_pending;
          frame->payload = c.pending.substr(tw::discord::kFrameHeaderSize, header.length);
          c.pending.erase(0, whole);
          // Bytes left over came with the read that ended this frame.
          c.reads_for_pending = c.pending.empty() ? 0 : 1;
          return Next::kFrame;
        }
      }
      OVERLAPPED overlapped{};
      overlapped.hEvent = c.io_event.get();
      ::ResetEvent(c.io_event.get());
      DWORD read = 0;
      const BOOL started = ::ReadFile(c.pipe.get(), chunk.data(), static_cast<DWORD>(chunk.size()),
                                      nullptr, &overlapped);
      const DWORD error = started ? ERROR_SUCCESS : ::GetLastError();
      const Io io = Finish(c.pipe.get(), &overlapped, started, error, stop_event.get(), &read);
      if (io == Io::kStopped) return Next::kStopped;
      if (io == Io::kFailed || read == 0) return Next::kClientClosed;
      c.pending.append(chunk.data(), read);
      ++c.reads_for_pending;
    }
  }

  // Reads nothing: checks every 20 ms whether the client is still there.
  Next WaitForClose(Conn& c) {
    for (;;) {
      if (::WaitForSingleObject(stop_event.get(), /*dwMilliseconds=*/20) == WAIT_OBJECT_0) {
        return Next::kStopped;
      }
      if (!StillConnected(c)) return Next::kClientClosed;
    }
  }

  // Asks without reading: ConnectNamedPipe on a connected instance fails at
  // once with ERROR_PIPE_CONNECTED, and with ERROR_NO_DATA once the client
  // has closed its end. (A peek cannot tell: it succeeds while unread bytes
  // are left, the client gone or not.)
  bool StillConnected(Conn& c) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = c.io_event.get();
    ::ResetEvent(c.io_event.get());
    const BOOL connected = ::ConnectNamedPipe(c.pipe.get(), &overlapped);
    const DWORD error = connected ? ERROR_SUCCESS : ::GetLastError();
    if (error == ERROR_IO_PENDING) {  // listening again: the client is gone
      ::CancelIoEx(c.pipe.get(), &overlapped);
      DWORD unused = 0;
      ::GetOverlappedResult(c.pipe.get(), &overlapped, &unused, /*bWait=*/TRUE);
      return false;
    }
    return error == ERROR_PIPE_CONNECTED;
  }

  // False when the peer is stopping or the client has gone.
  bool Write(Conn& c, const std::string& bytes) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = c.io_event.get();
    ::ResetEvent(c.io_event.get());
    DWORD written = 0;
    const BOOL started = ::WriteFile(c.pipe.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                     nullptr, &overlapped);
    const DWORD error = started ? ERROR_SUCCESS : ::GetLastError();
    return Finish(c.pipe.get(), &overlapped, started, error, stop_event.get(), &written) ==
               Io::kDone &&
           written == bytes.size();
  }

  enum class Answered { kYes, kHeld, kClosed };

  // Sends `payload` as the reply, misbehaving as scripted when `stage` is
  // the one the options name.
  Answered Reply(Conn& c, Stage stage, std::string payload, const char* what) {
    uint32_t opcode = tw::discord::kOpFrame;
    if (stage == options.stage) {
      if (options.close) {
        c.events.push_back(std::string("closed instead of answering ") + what);
        return Answered::kClosed;
      }
      if (options.silent) {
        c.events.push_back(std::string("left ") + what + " unanswered");
        return Answered::kHeld;
      }
      if (options.delay_ms > 0 &&
          ::WaitForSingleObject(stop_event.get(), static_cast<DWORD>(options.delay_ms)) ==
              WAIT_OBJECT_0) {
        return Answered::kClosed;
      }
      if (options.reply_text) payload = *options.reply_text;
      if (options.pad_to) payload = PadTo(std::move(payload), *options.pad_to);
      if (options.reply_opcode) opcode = *options.reply_opcode;
      if (options.announce_length) {
        const auto header = tw::discord::EncodeFrameHeader(opcode, *options.announce_length);
        c.events.push_back(std::string("announced ") + std::to_string(*options.announce_length) +
                           " bytes for " + what + " and sent none");
        return Write(c, std::string(header.begin(), header.end())) ? Answered::kHeld
                                                                   : Answered::kClosed;
      }
      if (options.short_frame) {
        const std::string frame = tw::discord::EncodeFrame(opcode, payload);
        c.events.push_back(std::string("sent ") + what + " short");
        return Write(c, frame.substr(0, tw::discord::kFrameHeaderSize + payload.size() / 2))
                   ? Answered::kHeld
                   : Answered::kClosed;
      }
    }
    if (!Write(c, tw::discord::EncodeFrame(opcode, payload))) return Answered::kClosed;
    c.events.push_back(std::string("answered ") + what);
    return Answered::kYes;
  }

  void Record(const FrameRecord& frame) {
    std::lock_guard<std::mutex> lock(mutex);
    frames.push_back(frame);
    if (log.is_open()) {
      log << "connection=" << frame.connection << " opcode=" << frame.opcode
          << " length=" << frame.length << " reads=" << frame.reads << " payload=" << frame.payload
          << '\n';
      log.flush();
    }
  }

  void Serve(tw::UniqueFile pipe, int id) {
    Conn c;
    c.pipe = std::move(pipe);
    c.id = id;
    std::vector<char> chunk(kReadChunkSize);
    bool handshaken = false;
    bool closed_by_client = false;
    int impersonation_level = -1;

    for (bool open = true; open;) {
      FrameRecord frame;
      const bool deaf =
          options.never_read && options.stage == (handshaken ? Stage::kCommand : Stage::kHandshake);
      if (deaf) c.events.push_back(handshaken ? "stopped reading" : "never read");
      const Next next = deaf ? WaitForClose(c) : ReadFrame(c, chunk, &frame);
      if (next == Next::kClientClosed) {
        closed_by_client = true;
        c.events.push_back("closed by the client");
        break;
      }
      if (next == Next::kStopped) c.events.push_back("stopped");
      if (next != Next::kFrame) break;
      ++c.frames;
      Record(frame);
      if (options.strict && frame.reads > 1) {
        c.events.push_back("refused a frame split over " + std::to_string(frame.reads) + " reads");
        break;
      }

      if (!handshaken) {
        handshaken = true;
        impersonation_level = ClientImpersonationLevel(c.pipe.get());
        c.client_id = StringMember(frame.payload, "client_id").value_or("");
        c.events.push_back("handshake for client_id \"" + c.client_id + "\"");
        if (frame.opcode != tw::discord::kOpHandshake || options.refuse_handshake) {
          Write(c, tw::discord::EncodeFrame(tw::discord::kOpClose,
                                            "{\"code\":4000,\"message\":\"Invalid Client ID\"}"));
          c.events.push_back("refused the handshake");
          break;
        }
        open = Reply(c, Stage::kHandshake, ReadyPayload(), "the handshake") != Answered::kClosed;
        continue;
      }

      switch (frame.opcode) {
        case tw::discord::kOpPing:
          open = Write(c, tw::discord::EncodeFrame(tw::discord::kOpPong, frame.payload));
          break;
        case tw::discord::kOpClose:
          c.events.push_back("closed on the client's request");
          open = false;
          break;
        default: {
          const std::string cmd = StringMember(frame.payload, "cmd").value_or("");
          std::string answer;
          if (cmd == "SET_ACTIVITY" && options.reject_code) {
            answer = "{\"cmd\":\"SET_ACTIVITY\",\"data\":{\"code\":" +
                     std::to_string(*options.reject_code) +
                     ",\"message\":\"Activity rejected by discord-peer\"},\"evt\":\"ERROR\","
                     "\"nonce\":" +
                     NonceJson(frame.payload) + "}";
          } else if (cmd == "SET_ACTIVITY") {
            answer = "{\"cmd\":\"SET_ACTIVITY\",\"data\":" +
                     ObjectMember(frame.payload, "activity").value_or("null") +
                     ",\"evt\":null,\"nonce\":" + NonceJson(frame.payload) + "}";
          } else {
            answer = "{\"cmd\":\"" + cmd +
                     "\",\"data\":{\"code\":4000,\"message\":\"Unknown command\"},"
                     "\"evt\":\"ERROR\",\"nonce\":" +
                     NonceJson(frame.payload) + "}";
          }
          const std::string what = (cmd.empty() ? std::string("a command") : cmd);
          open = Reply(c, Stage::kCommand, std::move(answer), what.c_str()) != Answered::kClosed;
        }
      }
    }

    c.pipe.reset();
    ConnectionSummary summary;
    summary.connection = id;
    summary.frames = c.frames;
    summary.closed_by_client = closed_by_client;
    summary.impersonation_level = impersonation_level;
    summary.text = "connection " + std::to_string(id) + ": ";
    for (std::size_t i = 0; i < c.events.size(); ++i) {
      summary.text += (i == 0 ? "" : "; ") + c.events[i];
    }
    summary.text +=
        " (" + std::to_string(c.frames) + (c.frames == 1 ? " frame" : " frames") + " received)";
    if (on_end) on_end(summary);
    {
      std::lock_guard<std::mutex> lock(mutex);
      ended.push_back(std::move(summary));
    }
    ended_changed.notify_all();
  }
};

Peer::Peer(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Peer::~Peer() { Stop(); }

void Peer::set_on_connection_end(std::function<void(const ConnectionSummary&)> callback) {
  impl_->on_end = std::move(callback);
}

bool Peer::Start(std::string* error) {
  Impl& d = *impl_;
  if (d.accept_thread.joinable()) return true;
  d.stop_event = MakeEvent(/*manual_reset=*/true);
  if (!d.options.log_path.empty()) {
    d.log.open(d.options.log_path, std::ios::out | std::ios::app | std::ios::binary);
    if (!d.log.is_open()) {
      *error = "cannot open the log file " + d.options.log_path;
      return false;
    }
  }
  tw::UniqueFile first = d.CreateInstance(/*first=*/true);
  if (!first) {
    const DWORD code = ::GetLastError();
    *error = "cannot create " + tw::WideToUtf8Lossy(tw::discord::PipeName(d.options.pipe_number)) +
             (code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY
                  ? " (another program serves it)"
                  : " (error " + std::to_string(code) + ")");
    return false;
  }
  d.accept_thread =
      std::thread([&d, pipe = std::move(first)]() mutable { d.AcceptLoop(std::move(pipe)); });
  return true;
}

void Peer::Stop() {
  Impl& d = *impl_;
  if (!d.accept_thread.joinable()) return;
  ::SetEvent(d.stop_event.get());
  d.accept_thread.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    threads.swap(d.connection_threads);
  }
  for (auto& t : threads) t.join();
}

bool Peer::WaitForEndedConnections(std::size_t count, unsigned timeout_ms) const {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->ended_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                       [&] { return impl_->ended.size() >= count; });
}

std::vector<FrameRecord> Peer::frames() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->frames;
}

std::vector<ConnectionSummary> Peer::ended_connections() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->ended;
}

std::size_t Peer::accepted_connections() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->accepted;
}

std::string Peer::ReadyPayload() {
  return "{\"cmd\":\"DISPATCH\",\"data\":{\"v\":1,"
         "\"config\":{\"cdn_host\":\"cdn.example.com\",\"api_endpoint\":\"//api.example.com\","
         "\"environment\":\"production\"},"
         "\"user\":{\"id\":\"100000000000000001\",\"username\":\"discord-peer\","
         "\"discriminator\":\"0\",\"global_name\":\"Discord Peer\",\"avatar\":null,"
         "\"bot\":false,\"flags\":0,\"premium_type\":0}},"
         "\"evt\":\"READY\",\"nonce\":null}";
}

bool ReadFrameBlocking(void* pipe, tw::discord::FrameHeader* header, std::string* payload) {
  auto read_exactly = [pipe](void* out, std::size_t size) {
    std::size_t got = 0;
    return tw::ReadUpTo(pipe, out, size, &got) && got == size;
  };
  std::uint8_t bytes[tw::discord::kFrameHeaderSize];
  if (!read_exactly(bytes, sizeof bytes)) return false;
  *header = tw::discord::DecodeFrameHeader(bytes);
  payload->assign(header->length, '\0');
  return read_exactly(payload->data(), header->length);
}

}  // namespace discord_peer
