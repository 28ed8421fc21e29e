// How long one successful update takes against a client that answers at
// once, and where the time goes. Prints medians and ratios against
// baselines measured in the same run:
//   raw exchange   the same two frames and replies over the same kind of
//                  connection, with blocking reads instead of polling;
//   poll step      one 20 ms sleep, the unit the connection waits in.
//
// The update's phases are timed through the connection's pipe seam, with
// its stand-in recording when each read and write call began and returned
// (the calls themselves are the real ones): writes W1 (handshake) and W2
// (command), reads R1 R2 (READY header and payload) and R3 R4 (reply
// header and payload). The calls are overlapped: a read is issued once the
// peek has seen its bytes, and a write's completion is waited for after the
// call returns.
//
// Run: cmake/wine-run <build>/wineprefix <build>/benchmarks/discord_latency_benchmark.exe [rounds]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "discord/activity_message.h"
#include "discord/discord_ipc.h"
#include "discord/ipc_frame.h"
#include "discord/pipe_name.h"
#include "discord/testing/scripted_pipe_io.h"
#include "tools/discord-peer/peer.h"
#include "util/win_handles.h"

namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

bool RawFrameExchange(HANDLE pipe, uint32_t opcode, const std::string& payload) {
  const std::string frame = tw::discord::EncodeFrame(opcode, payload);
  DWORD written = 0;
  if (!::WriteFile(pipe, frame.data(), static_cast<DWORD>(frame.size()), &written, nullptr)) {
    return false;
  }
  tw::discord::FrameHeader header;
  std::string reply;
  return discord_peer::ReadFrameBlocking(pipe, &header, &reply);
}

// The protocol without the polling: open, handshake, command, blocking reads.
// Fills the time of each of the two round trips.
bool RawExchange(double* handshake_ms, double* command_ms) {
  tw::UniqueFile pipe(::CreateFileW(tw::discord::PipeName(0).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!pipe) return false;
  auto t0 = Clock::now();
  if (!RawFrameExchange(pipe.get(), tw::discord::kOpHandshake,
                        tw::discord::BuildHandshakePayload("1234567890"))) {
    return false;
  }
  *handshake_ms = Millis(Clock::now() - t0);
  t0 = Clock::now();
  if (!RawFrameExchange(
          pipe.get(), tw::discord::kOpFrame,
          tw::discord::BuildSetActivityMessage("In the hub", "Idle", "tidewarden", "T"))) {
    return false;
  }
  *command_ms = Millis(Clock::now() - t0);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
  discord_peer::Peer peer(discord_peer::Options{});
  std::string error;
  if (!peer.Start(&error)) {
    std::fprintf(stderr, "cannot serve the pipe: %s\n", error.c_str());
    return 1;
  }

  tw::discord::test::ScriptedPipeIo timed_pipe_io;
  std::vector<double> update_ms, raw_ms, raw_handshake_ms, raw_command_ms, sleep_ms;
  std::vector<double> open_ms, ready_wait_ms, ready_read_ms, command_ms, reply_wait_ms, tail_ms;
  for (int i = 0; i < rounds; ++i) {
    timed_pipe_io.script() = tw::discord::test::PipeIoScript();
    auto t0 = Clock::now();
    const bool ok = tw::discord::UpdateDiscordPresence("1234567890", "In the hub", "Idle",
                                                       "tidewarden", "T", nullptr, &error);
    const auto t_end = Clock::now();
    update_ms.push_back(Millis(t_end - t0));
    const auto& w = timed_pipe_io.script().write_times;
    const auto& r = timed_pipe_io.script().read_times;
    if (!ok || w.size() != 2 || r.size() != 4) {
      std::fprintf(stderr, "update failed: %s\n", error.c_str());
      return 1;
    }
    open_ms.push_back(Millis(w[0].begin - t0));
    ready_wait_ms.push_back(Millis(r[0].begin - w[0].begin));
    ready_read_ms.push_back(Millis(r[1].end - r[0].begin));
    command_ms.push_back(Millis(w[1].end - r[1].end));
    reply_wait_ms.push_back(Millis(r[2].begin - w[1].end));
    tail_ms.push_back(Millis(t_end - r[2].begin));
    tw::discord::StopDiscordPresence();

    t0 = Clock::now();
    double handshake_rtt = 0, command_rtt = 0;
    if (!RawExchange(&handshake_rtt, &command_rtt)) {
      std::fprintf(stderr, "raw exchange failed\n");
      return 1;
    }
    raw_ms.push_back(Millis(Clock::now() - t0));
    raw_handshake_ms.push_back(handshake_rtt);
    raw_command_ms.push_back(command_rtt);

    t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sleep_ms.push_back(Millis(Clock::now() - t0));
  }

  const double update = Median(update_ms);
  const double raw = Median(raw_ms);
  const double step = Median(sleep_ms);
  std::printf("rounds: %d (medians)\n", rounds);
  std::printf("update (UpdateDiscordPresence): %8.2f ms  min %.2f  max %.2f\n", update,
              *std::min_element(update_ms.begin(), update_ms.end()),
              *std::max_element(update_ms.begin(), update_ms.end()));
  std::printf(
      "raw exchange (blocking reads):  %8.2f ms  handshake round trip %.2f, command round trip "
      "%.2f\n",
      raw, Median(raw_handshake_ms), Median(raw_command_ms));
  std::printf("poll step (20 ms sleep):        %8.2f ms\n", step);
  std::printf("update / raw exchange:          %8.1f x\n", raw > 0 ? update / raw : 0.0);
  std::printf("update / poll step:             %8.2f x\n", step > 0 ? update / step : 0.0);
  std::printf("update phases (medians):\n");
  std::printf("  open the pipe                          %8.2f ms\n", Median(open_ms));
  std::printf("  handshake write, wait for READY        %8.2f ms\n", Median(ready_wait_ms));
  std::printf("  READY header + payload reads           %8.2f ms\n", Median(ready_read_ms));
  std::printf("  build + write command                  %8.2f ms\n", Median(command_ms));
  std::printf("  command write done, wait for the reply %8.2f ms\n", Median(reply_wait_ms));
  std::printf("  reply reads                            %8.2f ms\n", Median(tail_ms));
  return 0;
}
