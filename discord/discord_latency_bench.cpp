// How long one successful update takes against a client that answers at
// once, and where the time goes. Prints medians and ratios against
// baselines measured in the same run:
//   raw exchange   the same two frames and replies over the same kind of
//                  connection, with blocking reads instead of polling;
//   poll step      one 20 ms sleep, the unit the connection waits in.
//
// Run: cmake/wine-run <build>/wineprefix <build>/discord/discord_latency_bench.exe [rounds]
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
#include "discord/win_handles.h"
#include "tools/discord-peer/peer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

bool ReadExactly(HANDLE pipe, char* out, DWORD size) {
  while (size > 0) {
    DWORD read = 0;
    if (!::ReadFile(pipe, out, size, &read, nullptr) || read == 0) return false;
    out += read;
    size -= read;
  }
  return true;
}

bool RawFrameExchange(HANDLE pipe, uint32_t opcode, const std::string& payload) {
  const std::string frame = discord::EncodeFrame(opcode, payload);
  DWORD written = 0;
  if (!::WriteFile(pipe, frame.data(), static_cast<DWORD>(frame.size()), &written, nullptr)) {
    return false;
  }
  uint8_t header[discord::kFrameHeaderSize];
  if (!ReadExactly(pipe, reinterpret_cast<char*>(header), sizeof header)) return false;
  std::string reply(discord::DecodeFrameHeader(header).length, '\0');
  return ReadExactly(pipe, reply.data(), static_cast<DWORD>(reply.size()));
}

// The protocol without the polling: open, handshake, command, blocking reads.
bool RawExchange() {
  discord::UniquePipe pipe(::CreateFileW(L"\\\\.\\pipe\\discord-ipc-0",
                                         GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         0, nullptr));
  return pipe &&
         RawFrameExchange(pipe.get(), discord::kOpHandshake,
                          discord::BuildHandshakePayload("1234567890")) &&
         RawFrameExchange(pipe.get(), discord::kOpFrame,
                          BuildSetActivityMessage("In the hub", "Idle", "tidewarden", "T"));
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

  std::vector<double> update_ms, raw_ms, sleep_ms;
  for (int i = 0; i < rounds; ++i) {
    auto t0 = Clock::now();
    const bool ok = UpdateDiscordPresence("1234567890", "In the hub", "Idle", "tidewarden", "T",
                                          nullptr, &error);
    update_ms.push_back(Millis(Clock::now() - t0));
    if (!ok) {
      std::fprintf(stderr, "update failed: %s\n", error.c_str());
      return 1;
    }
    StopDiscordPresence();

    t0 = Clock::now();
    if (!RawExchange()) {
      std::fprintf(stderr, "raw exchange failed\n");
      return 1;
    }
    raw_ms.push_back(Millis(Clock::now() - t0));

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
  std::printf("raw exchange (blocking reads):  %8.2f ms\n", raw);
  std::printf("poll step (20 ms sleep):        %8.2f ms\n", step);
  std::printf("update / raw exchange:          %8.1f x\n", raw > 0 ? update / raw : 0.0);
  std::printf("update / poll step:             %8.2f x\n", step > 0 ? update / step : 0.0);
  return 0;
}
