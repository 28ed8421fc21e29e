// The launcher run as a user would: the real tidewarden_launcher.exe started
// from a folder with flutter_windows.dll (the development engine) and the
// data folder beside it. The engine's scripted UI makes the channel calls and
// records what it saw in its transcript; the Discord stand-in serves the pipe.
//
// Dev engine transcript lines that these tests read (see
// tools/flutter_windows/README.md):
//   properties assets=.. icu=.. aot=.. entry="" argc=N argv=null|[hex,..] options=A,B
//   frame-callback top-level=hidden|visible      (before the callback runs)
//   frame-callback-done class=.. title=.. visible=0|1 window=L,T,R,B
//   script reply <n> <channel> <method|raw> state=.. bytes=<hex> decoded=<text>
#include <windows.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <wincred.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "security/package_writer.h"
#include "security/token_store.h"
#include "tests/launcher_process.h"
#include "tools/discord-peer/peer.h"
#include "util/hex.h"
#include "util/utf.h"
#include "util/win_handles.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::SizeIs;
using ::testing::StartsWith;
using tw::test::LauncherFolder;
using tw::test::LauncherRun;
using tw::test::LinesStartingWith;

constexpr wchar_t kCredentialTarget[] = L"Fernbrook.Launcher.DiscordSession";

// A string in the script's value syntax: quoted, with backslash and quote
// escaped; other bytes (UTF-8 included) as they are.
std::string Quote(const std::string& text) {
  std::string quoted = "\"";
  for (char ch : text) {
    if (ch == '\\' || ch == '"') quoted += '\\';
    quoted += ch;
  }
  return quoted + "\"";
}

// The decoded reply of the script's `index`-th message (1-based), or a
// marker that makes the expectation fail readably.
std::string Decoded(const LauncherRun& run, int index) {
  const std::string prefix = "script reply " + std::to_string(index) + " ";
  const std::vector<std::string> lines = LinesStartingWith(run.transcript, prefix);
  if (lines.size() != 1) return "(no single reply " + std::to_string(index) + ")";
  const size_t at = lines[0].find(" decoded=");
  return at == std::string::npos ? "(no decoded form)" : lines[0].substr(at + 9);
}

std::string ReplyBytes(const LauncherRun& run, int index) {
  const std::vector<std::string> lines =
      LinesStartingWith(run.transcript, "script reply " + std::to_string(index) + " ");
  if (lines.size() != 1) return "(none)";
  const size_t at = lines[0].find(" bytes=");
  const size_t end = lines[0].find(' ', at + 1);
  return lines[0].substr(at + 7, end - at - 7);
}

// Where `needle` first appears in the transcript; npos fails the test.
size_t At(const LauncherRun& run, const std::string& needle) {
  const size_t at = run.transcript.find(needle);
  EXPECT_NE(at, std::string::npos) << needle << " not in transcript:\n" << run.transcript;
  return at;
}

void ExpectCleanExit(const LauncherRun& run) {
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timed_out) << run.transcript;
  EXPECT_EQ(run.exit_code, 0u) << run.standard_error;
  EXPECT_THAT(run.transcript, Not(HasSubstr("misuse"))) << run.transcript;
}

TEST(LauncherEndToEndTest, WindowAppearsAfterTheFirstFrameAtTheScaledSize) {
  struct Case {
    const char* name;
    const wchar_t* dpi;  // forced on the engine; empty: the monitor's own (96 here)
    const char* window;
  };
  const Case cases[] = {
      {"dpi96", L"", "window=10,10,1290,730"},
      {"dpi120", L"120", "window=12,12,1612,912"},
      {"dpi144", L"144", "window=15,15,1935,1095"},
  };
  for (const Case& c : cases) {
    LauncherFolder folder(std::string("show_") + c.name, "");
    ASSERT_TRUE(folder.ok());
    std::map<std::wstring, std::wstring> environment;
    if (*c.dpi != L'\0') environment[L"DEV_ENGINE_DPI"] = c.dpi;
    const LauncherRun run = folder.Run(L"", environment);
    ExpectCleanExit(run);
    EXPECT_EQ(run.standard_error, "") << c.name;
    // The next-frame callback finds the window hidden and leaves it shown.
    EXPECT_THAT(LinesStartingWith(run.transcript, "frame-callback "),
                ElementsAre("frame-callback top-level=hidden"))
        << c.name;
    EXPECT_THAT(LinesStartingWith(run.transcript, "frame-callback-done "),
                ElementsAre(std::string("frame-callback-done class=FLUTTER_RUNNER_WIN32_WINDOW "
                                        "title=Tidewarden Launcher visible=1 ") +
                            c.window))
        << c.name << "\n"
        << run.transcript;
  }
}

TEST(LauncherEndToEndTest, ArgumentsReachTheEntryPointAsUtf8WithoutTheProgramName) {
  struct Case {
    const char* name;
    const wchar_t* command_line;
    const char* arguments;  // as recorded: count and each argument's bytes
  };
  const Case cases[] = {
      {"none", L"", "argc=0 argv=null"},
      // --profile "two words"
      {"quoted", L"--profile \"two words\"", "argc=2 argv=[2d2d70726f66696c65,74776f20776f726473]"},
      // caf\u00e9-\u20ac-\U0001D11E
      {"non_ascii", L"caf\u00e9-\u20ac-\U0001D11E", "argc=1 argv=[636166c3a92de282ac2df09d849e]"},
  };
  for (const Case& c : cases) {
    LauncherFolder folder(std::string("args_") + c.name, "");
    ASSERT_TRUE(folder.ok());
    const LauncherRun run = folder.Run(c.command_line);
    ExpectCleanExit(run);
    EXPECT_THAT(LinesStartingWith(run.transcript, "properties "),
                ElementsAre(std::string("properties assets=data\\flutter_assets "
                                        "icu=data\\icudtl.dat aot=data\\app.so entry=\"\" ") +
                            c.arguments + " options=0,0"))
        << c.name;
  }
}

// Every method of fernbrook/security through the whole stack, with the token
// checked in the prefix's Credential Manager from outside the launcher.
TEST(LauncherEndToEndTest, SecurityChannelAnswersEveryMethod) {
  ::CredDeleteW(kCredentialTarget, CRED_TYPE_GENERIC, 0);
  LauncherFolder folder("security", "");
  ASSERT_TRUE(folder.ok());

  // A package of three chunks and its plain file.
  std::string plain;
  for (int i = 0; i < 5000; ++i) plain += static_cast<char>('a' + i % 26);
  const std::wstring plain_path = folder.File(L"plain.bin");
  const std::wstring package_path = folder.File(L"package.vqe");
  const std::wstring output_path = folder.File(L"out.bin");
  ASSERT_TRUE(tw::test::WriteFileBytes(plain_path, plain));
  std::string key(32, '\0');
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<char>(i * 7 + 1);
  const tw::security::PackageStatus sealed = tw::security::SealPackageFile(
      plain_path, package_path, reinterpret_cast<const uint8_t*>(key.data()), key.size(), 2048);
  ASSERT_TRUE(sealed.ok) << sealed.message;

  const std::string token = "tok\xC3\xA9n-42";  // UTF-8, widened byte by byte when stored
  const std::string script =
      "call fernbrook/security deleteToken\n"  // 1
      "call fernbrook/security readToken\n"    // 2
      "call fernbrook/security writeToken " +
      Quote(token) +
      "\n"                                       // 3
      "call fernbrook/security readToken\n"      // 4
      "call fernbrook/security getHardwareId\n"  // 5
      "call fernbrook/security decryptPackage {\"source\": " +
      Quote(tw::Utf16ToUtf8Lossy(package_path)) +
      ", \"destination\": " + Quote(tw::Utf16ToUtf8Lossy(output_path)) +
      ", \"key\": bytes:" + tw::ToLowerHex(key) +
      "}\n"                                      // 6
      "call fernbrook/security writeToken 42\n"  // 7
      "call fernbrook/security fetchToken\n"     // 8
      "raw fernbrook/security 00\n"              // 9
      "raw fernbrook/security\n";                // 10
  ASSERT_TRUE(
      tw::test::WriteFileBytes(folder.File(L"data\\flutter_assets\\dev_ui_script.txt"), script));

  const LauncherRun run = folder.Run(L"");
  ExpectCleanExit(run);
  EXPECT_EQ(Decoded(run, 1), "success true");
  EXPECT_EQ(Decoded(run, 2), "success null");
  EXPECT_EQ(Decoded(run, 3), "success true");
  EXPECT_EQ(Decoded(run, 4), "success " + Quote(token));
  const std::string hardware_id = Decoded(run, 5);
  ASSERT_EQ(hardware_id.size(), std::string("success \"\"").size() + 64) << hardware_id;
  EXPECT_EQ(hardware_id.find_first_not_of("0123456789abcdef", 9), hardware_id.size() - 1)
      << hardware_id;
  EXPECT_EQ(Decoded(run, 6), "success true");
  EXPECT_EQ(tw::test::ReadFileBytes(output_path), plain);
  EXPECT_EQ(Decoded(run, 7), "error \"invalid\" \"Missing token\" null");
  EXPECT_EQ(Decoded(run, 8), "empty");
  EXPECT_EQ(Decoded(run, 9), "empty");
  EXPECT_EQ(Decoded(run, 10), "empty");
  // The success envelope of true is 00 01; an unknown method is no bytes.
  EXPECT_EQ(ReplyBytes(run, 1), "0001");
  EXPECT_EQ(ReplyBytes(run, 8), "");

  // The token stayed in the Credential Manager after the launcher ended.
  tw::security::UniqueCredential credential;
  ASSERT_TRUE(::CredReadW(kCredentialTarget, CRED_TYPE_GENERIC, 0, credential.put()));
  std::string stored;
  for (DWORD i = 0; i + 1 < credential.get()->CredentialBlobSize; i += 2) {
    stored += static_cast<char>(credential.get()->CredentialBlob[i]);
  }
  EXPECT_EQ(stored, token);
  EXPECT_EQ(credential.get()->CredentialBlobSize, 2 * token.size());
  ::CredDeleteW(kCredentialTarget, CRED_TYPE_GENERIC, 0);
}

// The Discord stand-in, in this process, signalling a named event when a
// connection ends so that the engine can tell whether the pipe was closed
// before it was destroyed.
class DiscordStandIn {
 public:
  explicit DiscordStandIn(const std::wstring& ended_event_name) {
    ended_.reset(::CreateEventW(nullptr, TRUE, FALSE, ended_event_name.c_str()));
    discord_peer::Options options;
    options.pipe_number = 0;
    peer_ = std::make_unique<discord_peer::Peer>(options);
    HANDLE ended = ended_.get();
    peer_->set_on_connection_end(
        [ended](const discord_peer::ConnectionSummary&) { ::SetEvent(ended); });
    std::string error;
    started_ = peer_->Start(&error);
    EXPECT_TRUE(started_) << error;
  }

  bool started() const { return started_; }
  discord_peer::Peer& peer() { return *peer_; }

 private:
  tw::UniqueKernelHandle ended_;
  std::unique_ptr<discord_peer::Peer> peer_;
  bool started_ = false;
};

TEST(LauncherEndToEndTest, DiscordChannelStartsAndStopsAgainstTheStandIn) {
  DiscordStandIn discord(L"Local\\tw-e2e-discord-start-stop");
  ASSERT_TRUE(discord.started());
  LauncherFolder folder("discord",
                        "call tidewarden/discord_rpc start {\"clientId\": \"1234567890\", "
                        "\"details\": \"In the library\"}\n"    // 1
                        "call tidewarden/discord_rpc stop\n"    // 2
                        "call tidewarden/discord_rpc stop 5\n"  // 3
                        "call tidewarden/discord_rpc pause\n"   // 4
                        "raw tidewarden/discord_rpc 0705\n");   // 5
  ASSERT_TRUE(folder.ok());
  const LauncherRun run = folder.Run(L"");
  ExpectCleanExit(run);
  EXPECT_THAT(Decoded(run, 1), StartsWith("success \""));
  EXPECT_THAT(Decoded(run, 1), HasSubstr("SET_ACTIVITY"));
  EXPECT_EQ(Decoded(run, 2), "success true");
  EXPECT_EQ(Decoded(run, 3), "success true");
  EXPECT_EQ(Decoded(run, 4), "empty");
  EXPECT_EQ(Decoded(run, 5), "empty");

  ASSERT_TRUE(discord.peer().WaitForEndedConnections(1, 5000));
  const std::vector<discord_peer::FrameRecord> frames = discord.peer().frames();
  ASSERT_THAT(frames, SizeIs(2));
  EXPECT_EQ(frames[0].opcode, 0u);
  EXPECT_THAT(frames[0].payload, HasSubstr("\"client_id\":\"1234567890\""));
  EXPECT_EQ(frames[1].opcode, 1u);
  EXPECT_THAT(frames[1].payload, HasSubstr("\"details\":\"In the library\""));
  EXPECT_TRUE(discord.peer().ended_connections().at(0).closed_by_client);
}

TEST(LauncherEndToEndTest, ClosingWithAnActivityClosesThePipeBeforeTheEngineGoes) {
  DiscordStandIn discord(L"Local\\tw-e2e-discord-close");
  ASSERT_TRUE(discord.started());
  LauncherFolder folder("discord_close",
                        "call tidewarden/discord_rpc start {\"clientId\": \"42\"}\n"
                        "destroy-waits-for-event Local\\tw-e2e-discord-close 5000\n");
  ASSERT_TRUE(folder.ok());
  const LauncherRun run = folder.Run(L"");
  ExpectCleanExit(run);
  EXPECT_THAT(Decoded(run, 1), StartsWith("success \""));
  // The engine, while being destroyed, found the stand-in's connection
  // already ended: the launcher closed the pipe first.
  EXPECT_LT(At(run, "destroy-wait Local\\tw-e2e-discord-close signalled"),
            At(run, "view-controller-destroy"));
  ASSERT_TRUE(discord.peer().WaitForEndedConnections(1, 5000));
  // Handshake and one SET_ACTIVITY; no frame clearing the activity.
  const std::vector<discord_peer::FrameRecord> frames = discord.peer().frames();
  ASSERT_THAT(frames, SizeIs(2));
  EXPECT_THAT(frames[1].payload, Not(HasSubstr("\"activity\":null")));
}

TEST(LauncherEndToEndTest, ViewControllerFailureExitsWithCodeOneAndNoWindow) {
  LauncherFolder folder("no_view", "call fernbrook/security getHardwareId\n");
  ASSERT_TRUE(folder.ok());
  const LauncherRun run = folder.Run(L"", {{L"DEV_ENGINE_FAIL_VIEW_CONTROLLER", L"1"}});
  ASSERT_TRUE(run.started);
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, 1u);
  // Standard error is a text-mode stream: its line end is CR LF on Windows.
  EXPECT_EQ(run.standard_error, "Failed to create view controller.\r\n");
  EXPECT_THAT(run.transcript, HasSubstr("view-controller-create"));
  EXPECT_THAT(LinesStartingWith(run.transcript, "set-callback "), IsEmpty());
  EXPECT_THAT(LinesStartingWith(run.transcript, "frame"), IsEmpty());
  EXPECT_THAT(LinesStartingWith(run.transcript, "script reply"), IsEmpty());
}

TEST(LauncherEndToEndTest, WindowMessagesTheEngineCanProvoke) {
  struct Case {
    const char* name;
    const wchar_t* claim;  // DEV_ENGINE_CLAIM, empty for none
    const char* script;
    const char* want;  // a transcript line
  };
  const Case cases[] = {
      // Unclaimed, a resize of the top-level window resizes the view.
      {"resize", L"", "resize 1000 700\n", "script resize view=follows"},
      // Claimed WM_SIZE (5): the window leaves the view as it was.
      {"resize_claimed", L"5", "resize 1000 700\n", "script resize view=unchanged"},
      {"font_change", L"", "font-change\n", "script font-change fonts-reloaded=1"},
      {"dpi_changed", L"", "dpi-changed 144 40 50 1000 800\n",
       "script dpi-changed window=40,50,1000,800"},
  };
  for (const Case& c : cases) {
    LauncherFolder folder(std::string("messages_") + c.name, c.script);
    ASSERT_TRUE(folder.ok());
    std::map<std::wstring, std::wstring> environment;
    if (*c.claim != L'\0') environment[L"DEV_ENGINE_CLAIM"] = c.claim;
    const LauncherRun run = folder.Run(L"", environment);
    ExpectCleanExit(run);
    EXPECT_THAT(LinesStartingWith(run.transcript, "script "),
                ::testing::Contains(StartsWith(c.want)))
        << c.name << "\n"
        << run.transcript;
  }
}

}  // namespace
