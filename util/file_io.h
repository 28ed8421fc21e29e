// Reading and writing Win32 file and pipe handles to the end, and ending an
// overlapped operation within a bound.
//
// ReadFile and WriteFile may move fewer bytes than asked (a pipe hands over
// what it holds, a disk write can stop short when the disk fills), so every
// caller that needs "all of it" loops; these are those loops, written once.
// The read and write calls can be given, so that code behind a seam passes
// its seam's call.
//
// Example:
//   std::size_t got = 0;
//   if (!tw::ReadUpTo(file.get(), header, sizeof header, &got)) ...  // read error
//   if (got != sizeof header) ...                                     // the file ended
//
//   OVERLAPPED overlapped{};
//   overlapped.hEvent = event.get();
//   const BOOL started = ::ReadFile(pipe, buffer, size, nullptr, &overlapped);
//   const DWORD error = started ? ERROR_SUCCESS : ::GetLastError();
//   DWORD read = 0;
//   switch (tw::FinishOverlapped(pipe, &overlapped, started, error, 2500, &read)) { ... }
#ifndef UTIL_FILE_IO_H_
#define UTIL_FILE_IO_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "util/win_handles.h"

namespace tw {

using ReadFileCall = decltype(&::ReadFile);
using WriteFileCall = decltype(&::WriteFile);

// ReadFile and WriteFile take a DWORD count; larger requests go in pieces.
inline constexpr DWORD kLargestIoPiece = 0x40000000;

// Reads from the handle's current position until `size` bytes have arrived
// or the file ends; `*read` holds how many arrived. False on a read error (a
// broken pipe included), with `*read` counting what came before it. The
// handle must be open for synchronous reads.
inline bool ReadUpTo(HANDLE file, void* data, std::size_t size, std::size_t* read,
                     ReadFileCall read_file = &::ReadFile) {
  auto* p = static_cast<std::uint8_t*>(data);
  *read = 0;
  while (*read < size) {
    const std::size_t left = size - *read;
    const DWORD piece = left > kLargestIoPiece ? kLargestIoPiece : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!read_file(file, p + *read, piece, &got, /*lpOverlapped=*/nullptr)) return false;
    if (got == 0) break;
    *read += got;
  }
  return true;
}

// Appends everything from the handle's current position to its end to
// `*out` (a std::string or a std::vector of bytes). False on a read error;
// what arrived before it stays in `*out`.
template <typename Buffer>
bool ReadToEnd(HANDLE file, Buffer* out, ReadFileCall read_file = &::ReadFile) {
  char block[64 * 1024];
  for (;;) {
    DWORD got = 0;
    if (!read_file(file, block, sizeof block, &got, /*lpOverlapped=*/nullptr)) return false;
    if (got == 0) return true;
    out->insert(out->end(), block, block + got);
  }
}

// Replaces `*out` with the whole content of the file at `path`, opened for
// reading while others may read it or delete it. False when it cannot be
// opened or read.
template <typename Buffer>
bool ReadWholeFile(const std::wstring& path, Buffer* out) {
  const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
  if (!file) return false;
  out->clear();
  return ReadToEnd(file.get(), out);
}

// Writes all `size` bytes at the handle's current position. False when a
// write fails or moves nothing (a full disk), with some bytes perhaps
// written. The handle must be open for synchronous writes.
inline bool WriteAll(HANDLE file, const void* data, std::size_t size,
                     WriteFileCall write_file = &::WriteFile) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const DWORD piece = size > kLargestIoPiece ? kLargestIoPiece : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!write_file(file, p, piece, &written, /*lpOverlapped=*/nullptr) || written == 0) {
      return false;
    }
    p += written;
    size -= written;
  }
  return true;
}

// A manual-reset event for one OVERLAPPED; empty when none can be made.
inline UniqueKernelHandle CreateIoEvent() {
  return UniqueKernelHandle(::CreateEventW(/*lpEventAttributes=*/nullptr, /*bManualReset=*/TRUE,
                                           /*bInitialState=*/FALSE, /*lpName=*/nullptr));
}

enum class IoOutcome {
  kDone,      // the operation completed successfully
  kFailed,    // it could not start, or it completed with an error
  kTimedOut,  // the bound passed first; it was cancelled and is over
  kStopped,   // `stop` was signalled first; it was cancelled and is over
};

// Ends the overlapped operation on `file` that a call began: `started` is
// what the call returned and `error` the last error read right after it.
// Waits at most `timeout_ms` for its event (and for `stop`, when given).
// When the bound passes, or `stop` comes first, the operation is cancelled
// and waited for, so that the system is done with `overlapped` and the
// buffer before the caller lets them go. An operation that completed before
// the cancel took hold counts as done. `*transferred` holds the byte count.
inline IoOutcome FinishOverlapped(HANDLE file, OVERLAPPED* overlapped, BOOL started, DWORD error,
                                  DWORD timeout_ms, DWORD* transferred, HANDLE stop = nullptr) {
  *transferred = 0;
  if (!started && error != ERROR_IO_PENDING) return IoOutcome::kFailed;
  const HANDLE waits[2] = {overlapped->hEvent, stop};
  const DWORD count = stop != nullptr ? 2 : 1;
  const DWORD waited = ::WaitForMultipleObjects(count, waits, /*bWaitAll=*/FALSE, timeout_ms);
  if (waited == WAIT_OBJECT_0) {
    return ::GetOverlappedResult(file, overlapped, transferred, /*bWait=*/FALSE)
               ? IoOutcome::kDone
               : IoOutcome::kFailed;
  }
  ::CancelIoEx(file, overlapped);
  if (::GetOverlappedResult(file, overlapped, transferred, /*bWait=*/TRUE)) return IoOutcome::kDone;
  return waited == WAIT_OBJECT_0 + 1 ? IoOutcome::kStopped : IoOutcome::kTimedOut;
}

}  // namespace tw

#endif  // UTIL_FILE_IO_H_
