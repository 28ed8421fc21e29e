// tidewarden-pack run as a child process, as a user runs it; its packages
// are checked with the launcher's decryption and by reading their bytes.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "security/encrypted_package.h"
#include "security/package_test_fixture.h"

namespace tw::security {
namespace {

using namespace testing;  // NOLINT: the fixture helpers

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
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
  std::string text;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (!(data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n')) text.push_back(data[i]);
  }
  return text;
}

ToolRun RunTool(const std::vector<std::wstring>& args) {
  std::wstring command = L"\"" + ToolPath() + L"\"";
  for (const std::wstring& a : args) command += L" \"" + a + L"\"";
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
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
    ADD_FAILURE() << "cannot start the tool";
    return run;
  }
  UniqueKernelHandle child(process.hProcess), thread(process.hThread);
  out_w.reset();
  err_w.reset();
  // The outputs are small: stdout is drained first, then stderr.
  run.out = Drain(out_r.get());
  run.err = Drain(err_r.get());
  ::WaitForSingleObject(child.get(), INFINITE);
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

  const ToolRun sealed = RunTool({L"seal", L"--key", Path(L"k.key"), L"--chunk-size", L"4", Path(L"plain.bin"),
                              Path(L"p.vqe")});
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
  const PackageStatus status = DecryptPackageFile(Path(L"p.vqe"), Path(L"direct.bin"), key.data(), key.size());
  ASSERT_TRUE(status.ok) << status.message;
  EXPECT_EQ(ReadWholeFile(Path(L"direct.bin")), plain);

  const ToolRun opened = RunTool({L"open", L"--key", Path(L"k.key"), Path(L"p.vqe"), Path(L"out.bin")});
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
    ASSERT_EQ(RunTool({L"seal", Path(L"plain.bin"), Path(L"p.vqe"), L"--key", Path(L"k.key")}).exit_code, 0u);
    EXPECT_EQ(RunTool({L"inspect", Path(L"p.vqe")}).out, c.inspect);
    ASSERT_EQ(RunTool({L"open", L"--key", Path(L"k.key"), Path(L"p.vqe"), Path(L"out.bin")}).exit_code, 0u);
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
      {{L"open", L"--key", Path(L"other.key"), Path(L"p.vqe"), Path(L"out.bin")}, "Package authentication failed\n"},
      {{L"open", L"--key", Path(L"k.key"), Path(L"junk.vqe"), Path(L"out.bin")}, "Invalid encrypted package\n"},
      {{L"open", L"--key", Path(L"short.key"), Path(L"p.vqe"), Path(L"out.bin")}, "Invalid AES key\n"},
      {{L"open", L"--key", Path(L"none.key"), Path(L"p.vqe"), Path(L"out.bin")}, "Unable to read the key file\n"},
      {{L"seal", L"--key", Path(L"short.key"), Path(L"plain.bin"), Path(L"out.bin")}, "Invalid AES key\n"},
      {{L"seal", L"--key", Path(L"k.key"), Path(L"none.bin"), Path(L"out.bin")}, "Unable to open the plain file\n"},
      {{L"inspect", Path(L"junk.vqe")}, "Invalid encrypted package\n"},
      {{L"inspect", Path(L"cut.vqe")}, "Truncated chunk record at offset 8\n"},
      {{L"inspect", Path(L"zero.vqe")}, "Invalid chunk length 0 at offset 8\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.args[0]) + " " + c.err);
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
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.empty() ? std::string("(none)") : Utf8(args.back()));
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

}  // namespace
}  // namespace tw::security
