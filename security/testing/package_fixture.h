// Building packages for the decryption tests: records sealed under
// deterministic nonces, a package source that is a pipe, a holder that keeps
// a file open as another program would, and a call of "decryptPackage" on
// files of a scratch folder.
#ifndef SECURITY_TESTING_PACKAGE_FIXTURE_H_
#define SECURITY_TESTING_PACKAGE_FIXTURE_H_

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "security/aes_gcm.h"
#include "security/package_format.h"
#include "security/package_writer.h"
#include "security/testing/package_bytes.h"
#include "security/testing/recording_file_operations.h"
#include "security/testing/security_support.h"
#include "util/file_io.h"

namespace tw::security::test {

inline Bytes TestKey(std::uint8_t first = 0) {
  Bytes key(32);
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(first + i);
  return key;
}

// One record per chunk, with nonces 1, 2, 3... so packages are reproducible.
inline Bytes SealRecords(const std::vector<Bytes>& chunks, const Bytes& key = TestKey()) {
  ChunkSealer sealer;
  std::string error;
  EXPECT_TRUE(sealer.Init(key.data(), key.size(), &error)) << error;
  Bytes records;
  std::uint8_t nonce[12] = {};
  for (const Bytes& chunk : chunks) {
    ++nonce[11];
    EXPECT_TRUE(
        sealer.Seal(chunk.data(), static_cast<std::uint32_t>(chunk.size()), nonce, &records));
  }
  return records;
}

inline Bytes SealPackage(const std::vector<Bytes>& chunks, const Bytes& key = TestKey()) {
  Bytes package = Header();
  const Bytes records = SealRecords(chunks, key);
  package.insert(package.end(), records.begin(), records.end());
  return package;
}

// One record sealed directly, whatever its length: a record the decryptor
// must refuse for its length alone, since its tag is right.
inline Bytes SealRecordOfAnyLength(const Bytes& plain, std::uint8_t nonce_byte,
                                   const Bytes& key = TestKey()) {
  AesGcmKey aes;
  EXPECT_EQ(aes.Init(key.data()), AesGcmKey::Status::kOk);
  const auto length = static_cast<std::uint32_t>(plain.size());
  Bytes record(32 + plain.size());
  EncodeChunkLength(length, record.data());
  record[4 + 11] = nonce_byte;
  EXPECT_TRUE(
      aes.Seal(record.data() + 4, plain.data(), length, record.data() + 32, record.data() + 16));
  return record;
}

// Keeps the file at `path` open, as an indexer, a viewer or a scanner does
// (reading, sharing read, write and delete), from construction until
// `hold_ms` have passed or the object ends, whichever comes first. The
// handle is closed by a thread of the test, so the holder lets go while the
// test's own thread is inside a call.
class FileHolder {
 public:
  FileHolder(const std::wstring& path, DWORD hold_ms) : hold_ms_(hold_ms) {
    file_.reset(::CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(file_) << "cannot hold the file open";
    stop_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    thread_ = std::thread([this] {
      ::WaitForSingleObject(stop_.get(), hold_ms_);
      file_.reset();
    });
  }
  ~FileHolder() {
    ::SetEvent(stop_.get());
    thread_.join();
  }
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;

 private:
  DWORD hold_ms_;
  UniqueFile file_;
  UniqueKernelHandle stop_;
  std::thread thread_;
};

// A package read through a named pipe, served from a thread of the test.
// Once a client connects, `bytes` are written; then the pipe is closed, so
// that a read past them fails (ERROR_BROKEN_PIPE) rather than finding the
// end of a file, or, with `hold_open`, kept open until this object ends, so
// that a read past them waits. Every wait is bounded.
class PipeSource {
 public:
  PipeSource(Bytes bytes, bool hold_open) : bytes_(std::move(bytes)), hold_open_(hold_open) {
    static unsigned sequence = 0;
    path_ = L"\\\\.\\pipe\\tidewarden-package-test-" + std::to_wstring(::GetCurrentProcessId()) +
            L"-" + std::to_wstring(++sequence);
    pipe_.reset(::CreateNamedPipeW(path_.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_WAIT, /*nMaxInstances=*/1,
                                   /*nOutBufferSize=*/1 << 20, /*nInBufferSize=*/0,
                                   /*nDefaultTimeOut=*/0, nullptr));
    EXPECT_TRUE(pipe_);
    stop_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    thread_ = std::thread([this] { Serve(); });
  }
  ~PipeSource() {
    ::SetEvent(stop_.get());
    thread_.join();
  }
  PipeSource(const PipeSource&) = delete;
  PipeSource& operator=(const PipeSource&) = delete;

  const std::wstring& path() const { return path_; }

 private:
  // Ends the overlapped operation on the pipe within 30 s, or when the stop
  // event comes first.
  bool Finish(OVERLAPPED* operation, BOOL started) {
    const DWORD error = started ? ERROR_SUCCESS : ::GetLastError();
    // A client that connected before the call: nothing is pending.
    if (started || error == ERROR_PIPE_CONNECTED) return true;
    DWORD transferred = 0;
    return ::tw::FinishOverlapped(pipe_.get(), operation, started, error, 30000, &transferred,
                                  stop_.get()) == ::tw::IoOutcome::kDone;
  }

  void Serve() {
    UniqueKernelHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED connect = {};
    connect.hEvent = event.get();
    if (!Finish(&connect, ::ConnectNamedPipe(pipe_.get(), &connect))) return;
    if (!bytes_.empty()) {
      OVERLAPPED write = {};
      write.hEvent = event.get();
      ::ResetEvent(event.get());
      if (!Finish(&write, ::WriteFile(pipe_.get(), bytes_.data(), static_cast<DWORD>(bytes_.size()),
                                      nullptr, &write))) {
        return;
      }
    }
    if (hold_open_) ::WaitForSingleObject(stop_.get(), 60000);
    pipe_.reset();
  }

  Bytes bytes_;
  bool hold_open_;
  std::wstring path_;
  UniqueFile pipe_;
  UniqueKernelHandle stop_;
  std::thread thread_;
};

// A temporary name as the decryptor makes them: ".tw", 32 lower-case
// hexadecimal digits, ".part".
inline bool IsTemporaryName(const std::wstring& name) {
  if (name.size() != 3 + 32 + 5 || name.compare(0, 3, L".tw") != 0 ||
      name.compare(35, 5, L".part") != 0) {
    return false;
  }
  for (std::size_t i = 3; i < 35; ++i) {
    const wchar_t c = name[i];
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
  }
  return true;
}

inline flutter::EncodableMap DecryptArguments(const std::string& source,
                                              const std::string& destination, const Bytes& key) {
  flutter::EncodableMap map;
  map.emplace(flutter::EncodableValue("source"), flutter::EncodableValue(source));
  map.emplace(flutter::EncodableValue("destination"), flutter::EncodableValue(destination));
  map.emplace(flutter::EncodableValue("key"), flutter::EncodableValue(key));
  return map;
}

inline Answer DecryptFiles(const std::wstring& source, const std::wstring& destination,
                           const Bytes& key = TestKey()) {
  return Call("decryptPackage",
              flutter::EncodableValue(DecryptArguments(::tw::Utf16ToUtf8Lossy(source),
                                                       ::tw::Utf16ToUtf8Lossy(destination), key)));
}

}  // namespace tw::security::test

#endif  // SECURITY_TESTING_PACKAGE_FIXTURE_H_
