// discord-peer itself: its flags, its strict mode, and the program run as a
// separate process.
#include "tools/discord-peer/peer.h"

#include <windows.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "discord/ipc_frame.h"
#include "discord/pipe_name.h"
#include "util/file_io.h"
#include "util/win_handles.h"

namespace {

using ::testing::HasSubstr;

tw::UniqueFile Connect(int number) {
  const std::wstring name = tw::discord::PipeName(number);
  return tw::UniqueFile(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
}

bool WriteAll(HANDLE pipe, const std::string& bytes) {
  return tw::WriteAll(pipe, bytes.data(), bytes.size());
}

TEST(DiscordPeerFlagsTest, ParsesEveryFlagAndRejectsBadValues) {
  discord_peer::Options options;
  std::size_t connections = 0;
  std::string error;
  ASSERT_TRUE(discord_peer::ParseFlags({}, &options, &connections, &error));
  EXPECT_EQ(options.pipe_number, 0);
  EXPECT_EQ(connections, 0u);
  EXPECT_FALSE(options.strict || options.silent || options.close || options.never_read);
  EXPECT_EQ(options.pipe_buffer, 2u * 1024 * 1024);
  ASSERT_TRUE(discord_peer::ParseFlags(
      {"--pipe",   "4",        "--log=peer.log", "--connections", "2",
       "--strict", "--at",     "command",        "--delay",       "250",
       "--reply",  "{}",       "--pad=64",       "--opcode",      "9",
       "--length", "1048577",  "--short",        "--silent",      "--close",
       "--refuse", "--reject", "4005",           "--buffer",      "0",
       "--no-read"},
      &options, &connections, &error))
      << error;
  EXPECT_EQ(options.pipe_number, 4);
  EXPECT_EQ(options.log_path, "peer.log");
  EXPECT_EQ(connections, 2u);
  EXPECT_TRUE(options.strict);
  EXPECT_EQ(options.stage, discord_peer::Stage::kCommand);
  EXPECT_EQ(options.delay_ms, 250);
  EXPECT_EQ(options.reply_text, "{}");
  EXPECT_EQ(options.pad_to, std::size_t{64});
  EXPECT_EQ(options.reply_opcode, 9u);
  EXPECT_EQ(options.announce_length, 1048577u);
  EXPECT_TRUE(options.short_frame && options.silent && options.close && options.refuse_handshake);
  EXPECT_EQ(options.reject_code, 4005);
  EXPECT_EQ(options.pipe_buffer, 0u);
  EXPECT_TRUE(options.never_read);

  const std::vector<std::vector<std::string>> bad = {
      {"--pipe", "10"},   {"--pipe", "-1"},       {"--pipe"}, {"--pipe", "3x"}, {"--at", "ready"},
      {"--strict=1"},     {"--connections", "0"}, {"--wat"},  {"--delay", ""},  {"--log="},
      {"--buffer", "-1"}, {"--no-read=1"},
  };
  for (const auto& args : bad) {
    SCOPED_TRACE(args[0]);
    discord_peer::Options ignored;
    error.clear();
    EXPECT_FALSE(discord_peer::ParseFlags(args, &ignored, &connections, &error));
    EXPECT_FALSE(error.empty());
  }
}

// A frame written in two pieces, the second after the peer has read the
// first, is what the strict mode refuses; in one piece it is accepted.
TEST(DiscordPeerTest, StrictModeRefusesASplitFrame) {
  discord_peer::Options options;
  options.strict = true;
  discord_peer::Peer peer(options);
  std::string error;
  ASSERT_TRUE(peer.Start(&error)) << error;

  const std::string handshake = tw::discord::EncodeFrame(0, "{\"v\":1,\"client_id\":\"1\"}");
  {
    auto pipe = Connect(0);
    ASSERT_TRUE(pipe);
    ASSERT_TRUE(WriteAll(pipe.get(), handshake));
    tw::discord::FrameHeader header;
    std::string payload;
    ASSERT_TRUE(discord_peer::ReadFrameBlocking(pipe.get(), &header, &payload));
    EXPECT_EQ(header.opcode, 1u);
    EXPECT_EQ(payload, discord_peer::Peer::ReadyPayload());
  }
  {
    auto pipe = Connect(0);
    ASSERT_TRUE(pipe);
    ASSERT_TRUE(WriteAll(pipe.get(), handshake.substr(0, 8)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    WriteAll(pipe.get(), handshake.substr(8));
    tw::discord::FrameHeader header;
    std::string payload;
    EXPECT_FALSE(discord_peer::ReadFrameBlocking(pipe.get(), &header, &payload))
        << "answered a split frame";
  }
  ASSERT_TRUE(peer.WaitForEndedConnections(2, 5000));
  const auto ended = peer.ended_connections();
  const auto& refused = ended[0].connection == 2 ? ended[0] : ended[1];
  EXPECT_THAT(refused.text, HasSubstr("refused a frame split over 2 reads"));
  const auto frames = peer.frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].reads, 1);
  EXPECT_EQ(frames[1].reads, 2);
}

// The SET_ACTIVITY echo carries the activity and the command's nonce.
TEST(DiscordPeerTest, EchoesTheActivityWithTheNonce) {
  discord_peer::Peer peer(discord_peer::Options{});
  std::string error;
  ASSERT_TRUE(peer.Start(&error)) << error;
  auto pipe = Connect(0);
  ASSERT_TRUE(pipe);
  tw::discord::FrameHeader header;
  std::string payload;
  ASSERT_TRUE(WriteAll(pipe.get(), tw::discord::EncodeFrame(0, "{\"v\":1,\"client_id\":\"1\"}")));
  ASSERT_TRUE(discord_peer::ReadFrameBlocking(pipe.get(), &header, &payload));
  ASSERT_TRUE(WriteAll(
      pipe.get(),
      tw::discord::EncodeFrame(
          1,
          "{\"cmd\":\"SET_ACTIVITY\",\"args\":{\"pid\":1,\"activity\":{\"state\":\"a}\\\"{\","
          "\"assets\":{}}},\"nonce\":\"7-1\"}")));
  ASSERT_TRUE(discord_peer::ReadFrameBlocking(pipe.get(), &header, &payload));
  EXPECT_EQ(payload,
            "{\"cmd\":\"SET_ACTIVITY\",\"data\":{\"state\":\"a}\\\"{\",\"assets\":{}},"
            "\"evt\":null,\"nonce\":\"7-1\"}");
}

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Unix paths from the build reach Windows programs through Wine's Z: drive.
std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// The program: serves one connection, logs its frames, prints one line for
// it and exits.
TEST(DiscordPeerProgramTest, ServesLogsPrintsAndExits) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring log_path = std::wstring(temp) + L"discord-peer-test.log";
  const std::wstring out_path = std::wstring(temp) + L"discord-peer-test.out";
  ::DeleteFileW(log_path.c_str());

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  tw::UniqueFile out(::CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                   CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(out);
  std::wstring command = L"\"" + Widen(WindowsPath(DISCORD_PEER_EXE)) +
                         L"\" --pipe 6 --connections 1 --log \"" + log_path + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out.get();
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &process))
      << ::GetLastError();
  tw::UniqueKernelHandle process_handle(process.hProcess);
  tw::UniqueKernelHandle thread_handle(process.hThread);
  out.reset();

  // Wait until the pipe is being served, then talk to it.
  tw::UniqueFile pipe;
  for (int i = 0; i < 500 && !pipe; ++i) {
    pipe = Connect(6);
    if (!pipe) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(pipe) << "discord-peer did not serve pipe 6";
  tw::discord::FrameHeader header;
  std::string payload;
  ASSERT_TRUE(WriteAll(pipe.get(), tw::discord::EncodeFrame(0, "{\"v\":1,\"client_id\":\"77\"}")));
  ASSERT_TRUE(discord_peer::ReadFrameBlocking(pipe.get(), &header, &payload));
  EXPECT_THAT(payload, HasSubstr("\"READY\""));
  pipe.reset();

  ASSERT_EQ(::WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
  DWORD exit_code = 99;
  ::GetExitCodeProcess(process.hProcess, &exit_code);
  EXPECT_EQ(exit_code, 0u);

  std::ifstream log_file(std::filesystem::path(log_path), std::ios::binary);
  std::stringstream log;
  log << log_file.rdbuf();
  EXPECT_EQ(log.str(),
            "connection=1 opcode=0 length=24 reads=1 payload={\"v\":1,\"client_id\":\"77\"}\n");
  std::ifstream out_file(std::filesystem::path(out_path), std::ios::binary);
  std::stringstream printed;
  printed << out_file.rdbuf();
  EXPECT_EQ(printed.str(),
            "connection 1: handshake for client_id \"77\"; answered the handshake; closed by the "
            "client (1 frame received)\r\n");
  ::DeleteFileW(log_path.c_str());
  ::DeleteFileW(out_path.c_str());
}

}  // namespace
