// tidewarden-pack run as a child process, as a user runs it; its packages
// are checked with the launcher's decryption and by reading their bytes.
#include <windows.h>
#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "security/encrypted_package.h"
#include "security/key_file.h"
#include "security/package_writer.h"
#include "security/testing/package_fixture.h"
#include "util/file_io.h"

namespace tw::security::test {
namespace {

struct ToolRun {
  DWORD exit_code = 0xFFFFFFFF;
  std::string out;
  std::string err;
};

std::wstring ToolPath() {
  wchar_t self[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, n);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"tidewarden-pack.exe";
}

// Reads everything from a pipe's read end until the writer closes it. The
// tool writes text mode, CR LF line ends; they are compared as LF.
std::string Drain(HANDLE pipe) {
  std::string data;
  // The end of the output is the writer closing its end (a broken pipe).
  ::tw::ReadToEnd(pipe, &data);
  std::string text;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (!(data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n')) text.push_back(data[i]);
  }
  return text;
}

std::wstring CommandLine(const std::vector<std::wstring>& args) {
  std::wstring command = L"\"" + ToolPath() + L"\"";
  for (const std::wstring& a : args) command += L" \"" + a + L"\"";
  return command;
}

ToolRun RunTool(const std::vector<std::wstring>& args) {
  std::wstring command = CommandLine(args);
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE out_read, out_write, err_read, err_write;
  EXPECT_TRUE(::CreatePipe(&out_read, &out_write, &inherit, 0));
  EXPECT_TRUE(::CreatePipe(&err_read, &err_write, &inherit, 0));
  UniqueKernelHandle out_r(out_read), out_w(out_write), err_r(err_read), err_w(err_write);
  ::SetHandleInformation(out_r.get(), HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(err_r.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = out_w.get();
  startup.hStdError = err_w.get();
  PROCESS_INFORMATION process = {};
  ToolRun run;
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
    ADD_FAILURE() << "cannot start the tool";
    return run;
  }
  UniqueKernelHandle child(process.hProcess), thread(process.hThread);
  out_w.reset();
  err_w.reset();
  // The outputs are small: stdout is drained first, then stderr.
  run.out = Drain(out_r.get());
  run.err = Drain(err_r.get());
  EXPECT_EQ(::WaitForSingleObject(child.get(), 60000), WAIT_OBJECT_0);
  ::GetExitCodeProcess(child.get(), &run.exit_code);
  return run;
}

class PackToolTest : public ::testing::Test {
 protected:
  std::wstring Path(const wchar_t* name) const { return folder_ / name; }
  ScratchFolder folder_;
};

TEST_F(PackToolTest, KeygenWritesThirtyTwoRandomBytesAndNeverOverwrites) {
  const ToolRun first = RunTool({L"keygen", Path(L"a.key")});
  ASSERT_EQ(first.exit_code, 0u) << first.err;
  ASSERT_EQ(RunTool({L"keygen", Path(L"b.key")}).exit_code, 0u);
  const auto a = ReadWholeFile(Path(L"a.key"));
  const auto b = ReadWholeFile(Path(L"b.key"));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->size(), 32u);
  EXPECT_NE(*a, *b);

  const ToolRun again = RunTool({L"keygen", Path(L"a.key")});
  EXPECT_EQ(again.exit_code, 1u);
  EXPECT_EQ(again.err, "The key file already exists\n");
  EXPECT_EQ(ReadWholeFile(Path(L"a.key")), a);
}

TEST_F(PackToolTest, SealInspectAndOpenRoundTrip) {
  ASSERT_TRUE(WriteWholeFile(Path(L"k.key"), TestKey()));
  const Bytes plain = Pattern(10, 4);
  ASSERT_TRUE(WriteWholeFile(Path(L"plain.bin"), plain));

  const ToolRun sealed = RunTool({L"seal", L"--key", Path(L"k.key"), L"--chunk-size", L"4",
                                  Path(L"plain.bin"), Path(L"p.vqe")});
  ASSERT_EQ(sealed.exit_code, 0u) << sealed.err;
  EXPECT_EQ(sealed.out, "");
  EXPECT_EQ(sealed.err, "");

  // Layout: header, then records of 4, 4 and 2 bytes, each with its own nonce.
  const auto package = ReadWholeFile(Path(L"p.vqe"));
  ASSERT_TRUE(package);
  ASSERT_EQ(package->size(), 8u + 3 * 32 + 10);
  EXPECT_EQ(Bytes(package->begin(), package->begin() + 8), Header());
  std::set<Bytes> nonces;
  std::size_t offset = 8;
  for (std::uint32_t want : {4u, 4u, 2u}) {
    EXPECT_EQ(DecodeChunkLength(package->data() + offset), want);
    nonces.insert(Bytes(package->begin() + offset + 4, package->begin() + offset + 16));
    offset += 32 + want;
  }
  EXPECT_EQ(nonces.size(), 3u);

  const ToolRun inspected = RunTool({L"inspect", Path(L"p.vqe")});
  ASSERT_EQ(inspected.exit_code, 0u) << inspected.err;
  EXPECT_EQ(inspected.out, "header: VQEXE01\nchunks: 3\nplain bytes: 10\nchunk sizes: 4 x 2, 2\n");

  // The launcher's own code opens the package.
  const Bytes key = TestKey();
  const PackageStatus status =
      DecryptPackageFile(Path(L"p.vqe"), Path(L"direct.bin"), key.data(), key.size());
  ASSERT_TRUE(status.ok) << status.message;
  EXPECT_EQ(ReadWholeFile(Path(L"direct.bin")), plain);

  const ToolRun opened =
      RunTool({L"open", L"--key", Path(L"k.key"), Path(L"p.vqe"), Path(L"out.bin")});
  ASSERT_EQ(opened.exit_code, 0u) << opened.err;
  EXPECT_EQ(ReadWholeFile(Path(L"out.bin")), plain);
}

TEST_F(PackToolTest, DefaultChunkSizeAndEdgeSizes) {
  ASSERT_TRUE(WriteWholeFile(Path(L"k.key"), TestKey()));
  struct Case {
    std::size_t plain_size;
    const char* inspect;
  };
  const Case cases[] = {
      {0, "header: VQEXE01\nchunks: 0\nplain bytes: 0\nchunk sizes: none\n"},
      {1048576, "header: VQEXE01\nchunks: 1\nplain bytes: 1048576\nchunk sizes: 1048576\n"},
      {1048577, "header: VQEXE01\nchunks: 2\nplain bytes: 1048577\nchunk sizes: 1048576, 1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plain_size);
    const Bytes plain = Pattern(c.plain_size, 7);
    ASSERT_TRUE(WriteWholeFile(Path(L"plain.bin"), plain));
    ASSERT_EQ(
        RunTool({L"seal", Path(L"plain.bin"), Path(L"p.vqe"), L"--key", Path(L"k.key")}).exit_code,
        0u);
    EXPECT_EQ(RunTool({L"inspect", Path(L"p.vqe")}).out, c.inspect);
    ASSERT_EQ(
        RunTool({L"open", L"--key", Path(L"k.key"), Path(L"p.vqe"), Path(L"out.bin")}).exit_code,
        0u);
    EXPECT_EQ(ReadWholeFile(Path(L"out.bin")), plain);
  }
}

TEST_F(PackToolTest, FailuresExitOneWithTheLaunchersMessages) {
  ASSERT_TRUE(WriteWholeFile(Path(L"k.key"), TestKey()));
  ASSERT_TRUE(WriteWholeFile(Path(L"other.key"), TestKey(9)));
  ASSERT_TRUE(WriteWholeFile(Path(L"short.key"), Bytes(16, 1)));
  ASSERT_TRUE(WriteWholeFile(Path(L"plain.bin"), Text("hello")));
  ASSERT_TRUE(WriteWholeFile(Path(L"p.vqe"), SealPackage({Text("hello")})));
  ASSERT_TRUE(WriteWholeFile(Path(L"junk.vqe"), Text("VQEXE01\r rest")));
  ASSERT_TRUE(WriteWholeFile(Path(L"cut.vqe"), Concat({Header(), {0, 0, 0, 5}, Bytes(30, 0)})));
  ASSERT_TRUE(WriteWholeFile(Path(L"zero.vqe"), Concat({Header(), {0, 0, 0, 0}, Bytes(40, 0)})));
  ASSERT_TRUE(WriteWholeFile(Path(L"out.bin"), Text("keep me")));
  struct Case {
    std::vector<std::wstring> args;
    std::string err;
  };
  const Case cases[] = {
      {{L"open", L"--key", Path(L"other.key"), Path(L"p.vqe"), Path(L"out.bin")},
       "Package authentication failed\n"},
      {{L"open", L"--key", Path(L"k.key"), Path(L"junk.vqe"), Path(L"out.bin")},
       "Invalid encrypted package\n"},
      {{L"open", L"--key", Path(L"short.key"), Path(L"p.vqe"), Path(L"out.bin")},
       "Invalid AES key\n"},
      {{L"open", L"--key", Path(L"none.key"), Path(L"p.vqe"), Path(L"out.bin")},
       "Unable to read the key file\n"},
      {{L"seal", L"--key", Path(L"short.key"), Path(L"plain.bin"), Path(L"out.bin")},
       "Invalid AES key\n"},
      {{L"seal", L"--key", Path(L"k.key"), Path(L"none.bin"), Path(L"out.bin")},
       "Unable to open the plain file\n"},
      {{L"inspect", Path(L"junk.vqe")}, "Invalid encrypted package\n"},
      {{L"inspect", Path(L"cut.vqe")}, "Truncated chunk record at offset 8\n"},
      {{L"inspect", Path(L"zero.vqe")}, "Invalid chunk length 0 at offset 8\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::tw::Utf16ToUtf8Lossy(c.args[0]) + " " + c.err);
    const ToolRun run = RunTool(c.args);
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(ReadWholeFile(Path(L"out.bin")), Text("keep me"));
  }
}

TEST_F(PackToolTest, UsageErrorsExitTwo) {
  ASSERT_TRUE(WriteWholeFile(Path(L"k.key"), TestKey()));
  ASSERT_TRUE(WriteWholeFile(Path(L"plain.bin"), Text("hello")));
  const std::wstring key = Path(L"k.key"), plain = Path(L"plain.bin"), out = Path(L"p.vqe");
  const std::vector<std::wstring> cases[] = {
      {},
      {L"frobnicate"},
      {L"keygen"},
      {L"seal", plain, out},
      {L"seal", L"--key", key, plain},
      {L"seal", L"--key", key, L"--chunk-size", L"0", plain, out},
      {L"seal", L"--key", key, L"--chunk-size", L"1048577", plain, out},
      {L"seal", L"--key", key, L"--chunk-size", L"12k", plain, out},
      {L"seal", L"--key", key, L"--chunk-size", L"-1", plain, out},
      {L"seal", L"--key"},
      {L"open", key, out, plain},
      {L"inspect"},
      {L"inspect", out, L"--verbose"},
      // An option where a path or a value belongs.
      {L"open", L"--key", L"--chunk-size", plain, out},
      {L"seal", L"--key", L"--key", key, plain, out},
      {L"seal", L"--key", key, L"--chunk-size", L"--key", plain, out},
      {L"open", L"--key", L"-h", plain, out},
      // Chunk sizes: digits only, in range however many leading zeros.
      {L"seal", L"--key", key, L"--chunk-size", L"+1024", plain, out},
      {L"seal", L"--key", key, L"--chunk-size", L" 1024", plain, out},
      {L"seal", L"--key", key, L"--chunk-size", L"", plain, out},
      {L"seal", L"--key", key, L"--chunk-size", L"0000000", plain, out},
      {L"seal", L"--key", key, L"--chunk-size", L"00001048577", plain, out},
      {L"seal", L"--key", key, L"--chunk-size", L"99999999999999999999", plain, out},
      {L"seal", L"--key", key, L"--chunk-size", L"4294967297", plain, out},
      {L"seal", L"--key", key, L"--chunk-size", L"0x400", plain, out},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.empty() ? std::string("(none)") : ::tw::Utf16ToUtf8Lossy(args.back()));
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_NE(run.err.find("usage: tidewarden-pack"), std::string::npos) << run.err;
    EXPECT_FALSE(FileExists(out));
  }
}

TEST_F(PackToolTest, NonAsciiFileNames) {
  const std::wstring key = Path(L"\u043a\u043b\u044e\u0447.key");
  const std::wstring plain = Path(L"donn\u00e9es \u6587.bin");
  const std::wstring package = Path(L"\u043f\u0430\u043a\u0435\u0442.vqe");
  ASSERT_EQ(RunTool({L"keygen", key}).exit_code, 0u);
  ASSERT_TRUE(WriteWholeFile(plain, Text("text")));
  ASSERT_EQ(RunTool({L"seal", L"--key", key, plain, package}).exit_code, 0u);
  ASSERT_EQ(RunTool({L"open", L"--key", key, package, Path(L"\u00e9.out")}).exit_code, 0u);
  EXPECT_EQ(ReadWholeFile(Path(L"\u00e9.out")), Text("text"));
}

TEST_F(PackToolTest, HelpPrintsTheUsageAndExitsZero) {
  const std::vector<std::wstring> cases[] = {
      {L"--help"},
      {L"-h"},
      {L"seal", L"--help"},
      {L"open", L"--key", Path(L"k.key"), L"-h"},
      {L"inspect", L"-h", L"x"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(::tw::Utf16ToUtf8Lossy(args.back()));
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out.rfind("usage: tidewarden-pack keygen KEYFILE\n", 0), 0u) << run.out;
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(PackToolTest, ChunkSizeIsTheSameNumberHoweverWritten) {
  ASSERT_TRUE(WriteWholeFile(Path(L"k.key"), TestKey()));
  ASSERT_TRUE(WriteWholeFile(Path(L"plain.bin"), Pattern(2500, 3)));
  struct Case {
    const wchar_t* text;
    const char* sizes;
  };
  const Case cases[] = {
      {L"1024", "1024 x 2, 452"},
      {L"0001024", "1024 x 2, 452"},
      {L"000000000000001024", "1024 x 2, 452"},
      {L"01", "1 x 2500"},
      {L"1048576", "2500"},
      {L"0001048576", "2500"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::tw::Utf16ToUtf8Lossy(c.text));
    const ToolRun sealed = RunTool({L"seal", L"--key", Path(L"k.key"), L"--chunk-size", c.text,
                                    Path(L"plain.bin"), Path(L"p.vqe")});
    ASSERT_EQ(sealed.exit_code, 0u) << sealed.err;
    const ToolRun inspected = RunTool({L"inspect", Path(L"p.vqe")});
    EXPECT_NE(inspected.out.find(std::string("chunk sizes: ") + c.sizes + "\n"), std::string::npos)
        << inspected.out;
  }
}

TEST_F(PackToolTest, OutputThatIsAnInputIsRefused) {
  ASSERT_TRUE(WriteWholeFile(Path(L"k.key"), TestKey()));
  ASSERT_TRUE(WriteWholeFile(Path(L"a.bin"), Text("plain")));
  ASSERT_TRUE(WriteWholeFile(Path(L"p.vqe"), SealPackage({Text("sealed")})));
  ASSERT_TRUE(::CreateDirectoryW(Path(L"sub").c_str(), nullptr));
  const Bytes key = *ReadWholeFile(Path(L"k.key"));
  const Bytes plain = *ReadWholeFile(Path(L"a.bin"));
  const Bytes package = *ReadWholeFile(Path(L"p.vqe"));
  const std::wstring dir = folder_.path();
  struct Case {
    const char* name;
    std::vector<std::wstring> args;
  };
  const Case cases[] = {
      {"seal onto its plain file",
       {L"seal", L"--key", Path(L"k.key"), Path(L"a.bin"), Path(L"a.bin")}},
      {"seal onto .\\ of it",
       {L"seal", L"--key", Path(L"k.key"), Path(L"a.bin"), dir + L"\\.\\a.bin"}},
      {"seal onto sub\\..\\ of it",
       {L"seal", L"--key", Path(L"k.key"), Path(L"a.bin"), dir + L"\\sub\\..\\a.bin"}},
      {"seal onto it in capitals",
       {L"seal", L"--key", Path(L"k.key"), Path(L"a.bin"), Path(L"A.BIN")}},
      {"seal onto the key",
       {L"seal", L"--key", Path(L"k.key"), Path(L"a.bin"), dir + L"\\.\\k.key"}},
      {"open onto its package",
       {L"open", L"--key", Path(L"k.key"), Path(L"p.vqe"), dir + L"\\sub\\..\\p.vqe"}},
      {"open onto the key", {L"open", L"--key", Path(L"k.key"), Path(L"p.vqe"), Path(L"k.key")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ToolRun run = RunTool(c.args);
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.err, "The output file is one of the files this command reads\n");
    EXPECT_EQ(ReadWholeFile(Path(L"k.key")), key);
    EXPECT_EQ(ReadWholeFile(Path(L"a.bin")), plain);
    EXPECT_EQ(ReadWholeFile(Path(L"p.vqe")), package);
    EXPECT_EQ(ListFolder(dir), (std::vector<std::wstring>{L"a.bin", L"k.key", L"p.vqe", L"sub"}));
  }
  // A different file of the same name elsewhere is fine.
  ASSERT_EQ(
      RunTool({L"open", L"--key", Path(L"k.key"), Path(L"p.vqe"), dir + L"\\sub\\p.vqe"}).exit_code,
      0u);
  EXPECT_EQ(ReadWholeFile(dir + L"\\sub\\p.vqe"), Text("sealed"));
}

TEST_F(PackToolTest, KeyFileIsReadableByItsCreatorOnly) {
  ASSERT_EQ(RunTool({L"keygen", Path(L"a.key")}).exit_code, 0u);
  UniqueFile file(::CreateFileW(Path(L"a.key").c_str(), READ_CONTROL, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(::GetSecurityInfo(file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  const tw::UniqueLocal<PSECURITY_DESCRIPTOR> descriptor_owner(descriptor);
  ASSERT_NE(dacl, nullptr);

  HANDLE token_handle = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token_handle));
  UniqueKernelHandle token(token_handle);
  std::vector<std::uint64_t> user(64);
  DWORD size = 0;
  ASSERT_TRUE(::GetTokenInformation(token.get(), TokenUser, user.data(),
                                    static_cast<DWORD>(user.size() * sizeof user[0]), &size));
  const PSID user_sid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
  std::uint8_t system_sid[SECURITY_MAX_SID_SIZE];
  DWORD system_size = sizeof system_sid;
  ASSERT_TRUE(::CreateWellKnownSid(WinLocalSystemSid, nullptr, system_sid, &system_size));

  // One entry for the user, with full access. Wine reports a file's DACL
  // from its Unix mode and always lists Local System beside the owner, so
  // that one entry is allowed too; any other (Everyone, Users) is a fault.
  bool user_has_full_access = false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    ASSERT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    PSID sid = &allowed->SidStart;
    if (::EqualSid(sid, user_sid)) {
      user_has_full_access = (allowed->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS;
    } else {
      tw::UniqueLocal<LPWSTR> text;
      ::ConvertSidToStringSidW(sid, text.put());
      EXPECT_TRUE(::EqualSid(sid, system_sid))
          << "access for " << ::tw::Utf16ToUtf8Lossy(text ? text.get() : L"?");
    }
  }
  EXPECT_TRUE(user_has_full_access);
}

TEST_F(PackToolTest, KeyFileThatCannotBeWrittenIsRemoved) {
  struct Case {
    const char* name;
    const char* failing;
    DWORD error;
  };
  const Case cases[] = {{"write fails", "write", ERROR_DISK_FULL},
                        {"flush fails", "flush", ERROR_IO_DEVICE},
                        {"mark cannot be cleared", "keep", ERROR_ACCESS_DENIED}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingFileOperations files;
    files.Fail(c.failing, c.error);
    const PackageStatus status = CreateKeyFile(Path(L"a.key"));
    EXPECT_FALSE(status.ok);
    EXPECT_EQ(status.message, "Unable to write the key file");
    EXPECT_EQ(ListFolder(folder_.path()), std::vector<std::wstring>{});
  }
  const PackageStatus status = CreateKeyFile(Path(L"a.key"));
  ASSERT_TRUE(status.ok) << status.message;
  EXPECT_EQ(ReadWholeFile(Path(L"a.key"))->size(), 32u);
}

// Names in the folder with their sizes.
std::vector<std::pair<std::wstring, std::uint64_t>> FolderSizes(const std::wstring& folder) {
  std::vector<std::pair<std::wstring, std::uint64_t>> entries;
  for (const std::wstring& name : ListFolder(folder)) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    std::uint64_t size = 0;
    if (::GetFileAttributesExW((folder + L"\\" + name).c_str(), GetFileExInfoStandard, &data)) {
      size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    }
    entries.emplace_back(name, size);
  }
  return entries;
}

TEST_F(PackToolTest, KilledOpenLeavesNoPlainBytesBehind) {
  ASSERT_TRUE(WriteWholeFile(Path(L"k.key"), TestKey()));
  // Four 1 MiB chunks into a destination that the test holds open, as a
  // scanner would: the tool writes and flushes the plain file, then waits
  // for the destination to be free, until it is killed.
  const std::vector<Bytes> chunks = {Pattern(1 << 20, 1), Pattern(1 << 20, 2), Pattern(1 << 20, 3),
                                     Pattern(1 << 20, 4)};
  ASSERT_TRUE(WriteWholeFile(Path(L"p.vqe"), SealPackage(chunks)));
  const Bytes earlier = Text("earlier plain file");
  ASSERT_TRUE(WriteWholeFile(Path(L"out.bin"), earlier));
  FileHolder holder(Path(L"out.bin"), 30000);
  std::wstring command =
      CommandLine({L"open", L"--key", Path(L"k.key"), Path(L"p.vqe"), Path(L"out.bin")});
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
  UniqueKernelHandle child(process.hProcess), thread(process.hThread);

  std::uint64_t plain_on_disk = 0;
  for (int i = 0; i < 1000 && plain_on_disk < (4u << 20); ++i) {
    ::Sleep(20);
    for (const auto& [name, size] : FolderSizes(folder_.path())) {
      if (name != L"k.key" && name != L"p.vqe" && name != L"out.bin") plain_on_disk = size;
    }
  }
  ASSERT_EQ(plain_on_disk, 4u << 20) << "the tool never wrote the four chunks";
  // Past the flush, well inside the wait for the destination.
  ::Sleep(1000);
  ASSERT_EQ(::WaitForSingleObject(child.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(::TerminateProcess(child.get(), 9));
  ASSERT_EQ(::WaitForSingleObject(child.get(), 10000), WAIT_OBJECT_0);
  std::printf("plain bytes on disk when killed: %llu; left after: %zu entries besides the inputs\n",
              static_cast<unsigned long long>(plain_on_disk),
              ListFolder(folder_.path()).size() - 3);
  EXPECT_EQ(ListFolder(folder_.path()),
            (std::vector<std::wstring>{L"k.key", L"out.bin", L"p.vqe"}));
  EXPECT_EQ(ReadWholeFile(Path(L"out.bin")), earlier);
}

TEST_F(PackToolTest, SourceThatIsNoDiskFileIsRefusedAtOnce) {
  ASSERT_TRUE(WriteWholeFile(Path(L"k.key"), TestKey()));
  // A pipe whose server connects and then never writes: a read of it would
  // wait until the server goes (a minute here).
  const std::vector<std::vector<std::wstring>> commands = {{L"inspect"},
                                                           {L"open", L"--key", Path(L"k.key")}};
  for (const std::vector<std::wstring>& command : commands) {
    SCOPED_TRACE(::tw::Utf16ToUtf8Lossy(command[0]));
    PipeSource source(Bytes{}, /*hold_open=*/true);
    std::vector<std::wstring> args = command;
    args.push_back(source.path());
    if (command[0] == L"open") args.push_back(Path(L"out.bin"));
    const ULONGLONG start = ::GetTickCount64();
    const ToolRun run = RunTool(args);
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.err, "Invalid encrypted package\n");
    EXPECT_EQ(run.out, "");
    EXPECT_LT(elapsed, 5000u);
    EXPECT_EQ(ListFolder(folder_.path()), std::vector<std::wstring>{L"k.key"});
  }
}

}  // namespace
}  // namespace tw::security::test
