#include "util/file_io.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace tw {
namespace {

// A file in the temporary folder, removed at the end of the test.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& content) {
    wchar_t folder[MAX_PATH];
    wchar_t name[MAX_PATH];
    EXPECT_NE(::GetTempPathW(MAX_PATH, folder), 0u);
    EXPECT_NE(::GetTempFileNameW(folder, L"tio", /*uUnique=*/0, name), 0u);
    path_ = name;
    const UniqueFile file(::CreateFileW(path_.c_str(), GENERIC_WRITE, /*dwShareMode=*/0,
                                        /*lpSecurityAttributes=*/nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
    EXPECT_TRUE(file);
    EXPECT_TRUE(WriteAll(file.get(), content.data(), content.size()));
  }
  ~TemporaryFile() { ::DeleteFileW(path_.c_str()); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::wstring& path() const { return path_; }
  UniqueFile OpenForReading() const {
    return UniqueFile(::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
  }

 private:
  std::wstring path_;
};

// A read or write call that moves at most one byte, as a pipe handing over
// what it holds may; and one that fails on its third call.
int g_calls = 0;
BOOL WINAPI ReadOneByte(HANDLE file, LPVOID data, DWORD, LPDWORD got, LPOVERLAPPED overlapped) {
  ++g_calls;
  return ::ReadFile(file, data, 1, got, overlapped);
}
BOOL WINAPI FailThirdRead(HANDLE file, LPVOID data, DWORD size, LPDWORD got,
                          LPOVERLAPPED overlapped) {
  if (++g_calls == 3) {
    ::SetLastError(ERROR_BROKEN_PIPE);
    return FALSE;
  }
  return ::ReadFile(file, data, size < 2 ? size : 2, got, overlapped);
}
BOOL WINAPI WriteOneByte(HANDLE file, LPCVOID data, DWORD, LPDWORD written,
                         LPOVERLAPPED overlapped) {
  ++g_calls;
  return ::WriteFile(file, data, 1, written, overlapped);
}
BOOL WINAPI WriteNothing(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
  *written = 0;
  return TRUE;
}

TEST(FileIoTest, ReadUpToStopsAtTheSizeOrTheEnd) {
  const TemporaryFile file("0123456789");
  struct Case {
    const char* name;
    std::size_t size;
    ReadFileCall read;
    bool ok;
    std::string want;
  } cases[] = {
      {"less than the file", 4, &::ReadFile, true, "0123"},
      {"more than the file", 32, &::ReadFile, true, "0123456789"},
      {"nothing", 0, &::ReadFile, true, ""},
      {"one byte per call", 7, &ReadOneByte, true, "0123456"},
      {"error after two pieces", 9, &FailThirdRead, false, "0123"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_calls = 0;
    const UniqueFile in = file.OpenForReading();
    ASSERT_TRUE(in);
    std::string buffer(c.size + 1, '#');
    std::size_t read = 99;
    EXPECT_EQ(ReadUpTo(in.get(), buffer.data(), c.size, &read, c.read), c.ok);
    EXPECT_EQ(buffer.substr(0, read), c.want);
    EXPECT_EQ(buffer[c.size], '#');  // nothing past `size`
  }
  EXPECT_EQ(g_calls, 3);  // the last case read twice, then failed
}

TEST(FileIoTest, ReadWholeFileReadsPastOneBlockAndReplacesTheBuffer) {
  std::string content(200 * 1024 + 3, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  const TemporaryFile file(content);
  std::string text = "left over";
  ASSERT_TRUE(ReadWholeFile(file.path(), &text));
  EXPECT_EQ(text, content);
  std::vector<std::uint8_t> bytes = {1, 2, 3};
  ASSERT_TRUE(ReadWholeFile(file.path(), &bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), content);
  EXPECT_FALSE(ReadWholeFile(file.path() + L".missing", &text));
}

TEST(FileIoTest, WriteAllLoopsOverShortWritesAndFailsOnANoProgressWrite) {
  const TemporaryFile file("");
  {
    const UniqueFile out(::CreateFileW(file.path().c_str(), GENERIC_WRITE, /*dwShareMode=*/0,
                                       nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(out);
    g_calls = 0;
    EXPECT_TRUE(WriteAll(out.get(), "abcdef", 6, &WriteOneByte));
    EXPECT_EQ(g_calls, 6);
    EXPECT_FALSE(WriteAll(out.get(), "xyz", 3, &WriteNothing));
    EXPECT_TRUE(WriteAll(out.get(), "", 0, &WriteNothing));  // nothing to write, no call needed
  }
  std::string text;
  ASSERT_TRUE(ReadWholeFile(file.path(), &text));
  EXPECT_EQ(text, "abcdef");
}

// Both ends of an overlapped pipe of this process; nothing is ever written
// to it unless a test does.
struct OverlappedPipe {
  OverlappedPipe() {
    static int sequence = 0;
    const std::wstring name = L"\\\\.\\pipe\\tw-file-io-test-" +
                              std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++sequence);
    server.reset(::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                    PIPE_TYPE_BYTE | PIPE_WAIT, /*nMaxInstances=*/1,
                                    /*nOutBufferSize=*/4096, /*nInBufferSize=*/4096,
                                    /*nDefaultTimeOut=*/0, nullptr));
    client.reset(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  }
  UniqueFile server;
  UniqueFile client;
};

struct PendingRead {
  explicit PendingRead(HANDLE pipe) : event(CreateIoEvent()) {
    overlapped.hEvent = event.get();
    started = ::ReadFile(pipe, buffer, sizeof buffer, nullptr, &overlapped);
    error = started ? ERROR_SUCCESS : ::GetLastError();
  }
  UniqueKernelHandle event;
  OVERLAPPED overlapped{};
  char buffer[16] = {};
  BOOL started = FALSE;
  DWORD error = ERROR_SUCCESS;
};

TEST(FileIoTest, FinishOverlappedCancelsAPendingReadAtItsBound) {
  OverlappedPipe pipe;
  ASSERT_TRUE(pipe.server);
  ASSERT_TRUE(pipe.client);
  PendingRead read(pipe.client.get());
  ASSERT_FALSE(read.started);
  ASSERT_EQ(read.error, static_cast<DWORD>(ERROR_IO_PENDING));

  const auto start = std::chrono::steady_clock::now();
  DWORD transferred = 99;
  EXPECT_EQ(FinishOverlapped(pipe.client.get(), &read.overlapped, read.started, read.error,
                             /*timeout_ms=*/200, &transferred),
            IoOutcome::kTimedOut);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(180));
  EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
  EXPECT_EQ(transferred, 0u);
  // Cancelled and over: the system no longer owns the OVERLAPPED.
  EXPECT_NE(read.overlapped.Internal, static_cast<ULONG_PTR>(STATUS_PENDING));

  // Bytes written now are not lost into the cancelled read.
  DWORD written = 0;
  OVERLAPPED write{};
  const UniqueKernelHandle write_event = CreateIoEvent();
  write.hEvent = write_event.get();
  const BOOL write_started = ::WriteFile(pipe.server.get(), "hi", 2, nullptr, &write);
  ASSERT_EQ(FinishOverlapped(pipe.server.get(), &write, write_started,
                             write_started ? ERROR_SUCCESS : ::GetLastError(), 2000, &written),
            IoOutcome::kDone);
  PendingRead next(pipe.client.get());
  DWORD got = 0;
  EXPECT_EQ(
      FinishOverlapped(pipe.client.get(), &next.overlapped, next.started, next.error, 2000, &got),
      IoOutcome::kDone);
  EXPECT_EQ(std::string(next.buffer, got), "hi");
}

TEST(FileIoTest, FinishOverlappedStopsWhenTheStopEventComesFirst) {
  OverlappedPipe pipe;
  ASSERT_TRUE(pipe.client);
  PendingRead read(pipe.client.get());
  const UniqueKernelHandle stop = CreateIoEvent();
  ASSERT_TRUE(::SetEvent(stop.get()));
  DWORD transferred = 0;
  EXPECT_EQ(FinishOverlapped(pipe.client.get(), &read.overlapped, read.started, read.error,
                             /*timeout_ms=*/5000, &transferred, stop.get()),
            IoOutcome::kStopped);
  EXPECT_NE(read.overlapped.Internal, static_cast<ULONG_PTR>(STATUS_PENDING));
}

TEST(FileIoTest, FinishOverlappedFailsACallThatDidNotStart) {
  OVERLAPPED overlapped{};
  const UniqueKernelHandle event = CreateIoEvent();
  overlapped.hEvent = event.get();
  DWORD transferred = 5;
  // Not pending: nothing to wait for, and the event (never signalled) is not
  // waited on.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FinishOverlapped(INVALID_HANDLE_VALUE, &overlapped, FALSE, ERROR_BROKEN_PIPE, 5000,
                             &transferred),
            IoOutcome::kFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(transferred, 0u);
}

}  // namespace
}  // namespace tw
