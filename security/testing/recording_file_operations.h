// The one stand-in of the file-operations seam (security/file_operations_seam.h):
// it records the write, flush, disposition and rename calls by name, makes
// chosen calls fail, cuts reads short with a read error after a given number
// of bytes, and can check that each write's bytes are wiped before the next
// file call. Every other call goes to the platform.
//
// Example:
//   RecordingFileOperations files;             // installed for this scope
//   files.Fail("flush", ERROR_IO_DEVICE);      // every flush fails
//   ... decrypt ...
//   EXPECT_EQ(files.calls(), (std::vector<std::string>{"delete-on-close", ...}));
//
#ifndef SECURITY_TESTING_RECORDING_FILE_OPERATIONS_H_
#define SECURITY_TESTING_RECORDING_FILE_OPERATIONS_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "security/file_operations_seam.h"
#include "testing/seam_stand_in.h"

namespace tw::security::test {

class RecordingFileOperations
    : public ::tw::test::SeamStandIn<RecordingFileOperations, FileOperations,
                                     &SetFileOperationsForTesting> {
 public:
  RecordingFileOperations() : SeamStandIn(Table()) {}

  // The calls so far, by name: "write", "flush", "delete-on-close", "keep"
  // (the mark cleared), "rename-posix" (FileRenameInfoEx), "rename"
  // (FileRenameInfo), "other". Reads are not listed.
  const std::vector<std::string>& calls() const { return calls_; }

  // Forgets the calls and the bytes read so far.
  void Clear() {
    calls_.clear();
    read_so_far_ = 0;
  }

  // The next `times` calls named `name` (every one when `times` is
  // negative) fail with `error`. An empty name fails nothing.
  void Fail(std::string name, DWORD error, int times = -1) {
    failing_ = std::move(name);
    failing_error_ = error;
    failing_times_ = times;
  }

  // Once `bytes` bytes have been read (counted from this call on), every
  // read fails with ERROR_READ_FAULT, as on a failing disk; the read that
  // reaches the bound returns only the bytes before it.
  void FailReadsAfter(std::uint64_t bytes) {
    read_limit_ = bytes;
    read_so_far_ = 0;
  }

  // From now on, each file call first checks that the bytes the previous
  // write was handed are all zero, and notes every write whose bytes were
  // not. The written buffer must stay allocated until the next call.
  void CheckWipeAfterEachWrite() { check_wipes_ = true; }
  // How many writes were checked, and the ones found not wiped ("write 2 of
  // 4096 bytes").
  int checked_writes() const { return checked_writes_; }
  const std::vector<std::string>& unwiped_writes() const { return unwiped_; }

 private:
  static FileOperations Table() {
    FileOperations table;
    table.read = &Read;
    table.write = &Write;
    table.flush = &Flush;
    table.set_information = &SetInformation;
    return table;
  }

  // Checks the previous write's bytes, records `call` and says whether it
  // should fail (with its error set).
  bool Enter(const char* call, bool record = true) {
    if (last_write_) {
      bool wiped = true;
      for (std::size_t i = 0; i < last_write_size_; ++i) wiped = wiped && last_write_[i] == 0;
      ++checked_writes_;
      if (!wiped) {
        unwiped_.push_back("write " + std::to_string(writes_) + " of " +
                           std::to_string(last_write_size_) + " bytes");
      }
      last_write_ = nullptr;
    }
    if (record) calls_.push_back(call);
    if (failing_.empty() || failing_ != call || failing_times_ == 0) return false;
    if (failing_times_ > 0) --failing_times_;
    ::SetLastError(failing_error_);
    return true;
  }

  static BOOL WINAPI Read(HANDLE file, LPVOID data, DWORD size, LPDWORD got,
                          LPOVERLAPPED overlapped) {
    RecordingFileOperations& self = current();
    if (self.Enter("read", /*record=*/false)) return FALSE;
    if (self.read_limit_) {
      const std::uint64_t left = *self.read_limit_ - self.read_so_far_;
      if (left == 0) {
        ::SetLastError(ERROR_READ_FAULT);
        return FALSE;
      }
      if (size > left) size = static_cast<DWORD>(left);
    }
    const BOOL ok = ::ReadFile(file, data, size, got, overlapped);
    if (ok && got != nullptr) self.read_so_far_ += *got;
    return ok;
  }

  static BOOL WINAPI Write(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                           LPOVERLAPPED overlapped) {
    RecordingFileOperations& self = current();
    if (self.Enter("write")) return FALSE;
    ++self.writes_;
    if (self.check_wipes_) {
      self.last_write_ = static_cast<const std::uint8_t*>(data);
      self.last_write_size_ = size;
    }
    return ::WriteFile(file, data, size, written, overlapped);
  }

  static BOOL WINAPI Flush(HANDLE file) {
    if (current().Enter("flush")) return FALSE;
    return ::FlushFileBuffers(file);
  }

  static BOOL WINAPI SetInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                                    DWORD size) {
    const char* call = "other";
    if (kind == FileDispositionInfo) {
      call = static_cast<FILE_DISPOSITION_INFO*>(info)->DeleteFile ? "delete-on-close" : "keep";
    } else if (kind == kFileRenameInfoEx) {
      call = "rename-posix";
    } else if (kind == FileRenameInfo) {
      call = "rename";
    }
    if (current().Enter(call)) return FALSE;
    return ::SetFileInformationByHandle(file, kind, info, size);
  }

  std::vector<std::string> calls_;
  std::string failing_;
  DWORD failing_error_ = ERROR_SUCCESS;
  int failing_times_ = -1;
  std::optional<std::uint64_t> read_limit_;
  std::uint64_t read_so_far_ = 0;
  bool check_wipes_ = false;
  const std::uint8_t* last_write_ = nullptr;
  std::size_t last_write_size_ = 0;
  int writes_ = 0;
  int checked_writes_ = 0;
  std::vector<std::string> unwiped_;
};

}  // namespace tw::security::test

#endif  // SECURITY_TESTING_RECORDING_FILE_OPERATIONS_H_
