// discord-peer: the Discord desktop client's local IPC server, played for
// tests and for UI work without Discord. See docs/discord-peer.md.
//
// Prints one line per finished connection on standard output; the serving
// line and errors go to standard error. Exit codes: 0 after Ctrl+C or
// --connections, 1 when the pipe cannot be served, 2 for bad flags.
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "discord/pipe_name.h"
#include "tools/discord-peer/peer.h"
#include "util/utf.h"
#include "util/win_handles.h"

namespace {

// Set by Ctrl+C or by the last expected connection.
tw::UniqueKernelHandle g_stop;

BOOL WINAPI OnConsoleControl(DWORD) {
  ::SetEvent(g_stop.get());
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const auto& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::fputs(discord_peer::Usage(), stdout);
      return 0;
    }
  }
  discord_peer::Options options;
  std::size_t connections = 0;
  std::string error;
  if (!discord_peer::ParseFlags(args, &options, &connections, &error)) {
    std::fprintf(stderr, "discord-peer: %s\n%s", error.c_str(), discord_peer::Usage());
    return 2;
  }

  g_stop.reset(::CreateEventW(/*lpEventAttributes=*/nullptr, /*bManualReset=*/TRUE,
                              /*bInitialState=*/FALSE, /*lpName=*/nullptr));
  if (!g_stop) return 1;
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);

  std::mutex output;
  std::size_t ended = 0;
  discord_peer::Peer peer(options);
  peer.set_on_connection_end([&](const discord_peer::ConnectionSummary& summary) {
    std::lock_guard<std::mutex> lock(output);
    std::fprintf(stdout, "%s\n", summary.text.c_str());
    std::fflush(stdout);
    if (connections != 0 && ++ended >= connections) ::SetEvent(g_stop.get());
  });
  if (!peer.Start(&error)) {
    std::fprintf(stderr, "discord-peer: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "discord-peer: serving %s%s\n",
               tw::WideToUtf8Lossy(tw::discord::PipeName(options.pipe_number)).c_str(),
               connections != 0 ? "" : " (Ctrl+C to stop)");
  std::fflush(stderr);

  ::WaitForSingleObject(g_stop.get(), INFINITE);
  peer.Stop();
  return 0;
}
