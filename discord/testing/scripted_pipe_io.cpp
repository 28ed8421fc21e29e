#include "discord/testing/scripted_pipe_io.h"

#include <new>

#include "util/file_io.h"

namespace tw::discord::test {
namespace {

using Clock = std::chrono::steady_clock;

// Takes everything the pipe holds now, so that a read issued after it has
// nothing to read.
bool TakeWhatThePipeHolds(HANDLE pipe) {
  DWORD available = 0;
  if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
  if (available == 0) return true;
  std::string taken(available, '\0');
  const UniqueKernelHandle event = CreateIoEvent();
  if (!event) return false;
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  const BOOL started = ::ReadFile(pipe, taken.data(), available, nullptr, &overlapped);
  const DWORD error = started ? ERROR_SUCCESS : ::GetLastError();
  DWORD read = 0;
  return FinishOverlapped(pipe, &overlapped, started, error, /*timeout_ms=*/5000, &read) ==
             IoOutcome::kDone &&
         read == available;
}

BOOL HoldRead(PipeIoScript& script, HANDLE pipe, LPVOID data, DWORD size, LPOVERLAPPED overlapped) {
  if (!TakeWhatThePipeHolds(pipe)) return FALSE;
  const HANDLE process = ::GetCurrentProcess();
  HANDLE held = nullptr;
  if (!::DuplicateHandle(process, pipe, process, &held, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return FALSE;
  }
  script.held_pipe = UniqueFile(held);
  HANDLE event = nullptr;
  if (!::DuplicateHandle(process, overlapped->hEvent, process, &event, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
    return FALSE;
  }
  script.held_event = UniqueKernelHandle(event);
  return ::ReadFile(held, data, size, nullptr, overlapped);
}

}  // namespace

ScriptedPipeIo::ScriptedPipeIo() : SeamStandIn(Table()) {}

PipeIo ScriptedPipeIo::Table() {
  PipeIo table;
  table.create_file = &ScriptedPipeIo::Open;
  table.read_file = &ScriptedPipeIo::Read;
  table.write_file = &ScriptedPipeIo::Write;
  return table;
}

HANDLE WINAPI ScriptedPipeIo::Open(LPCWSTR name, DWORD access, DWORD share,
                                   LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                   HANDLE templ) {
  PipeIoScript& script = current().script_;
  script.opens.emplace_back(name);
  script.open_flags.push_back(flags);
  return ::CreateFileW(name, access, share, security, disposition, flags, templ);
}

// The overlapped calls take the byte count from the OVERLAPPED, so `written`
// and `read` may be null.
BOOL WINAPI ScriptedPipeIo::Write(HANDLE pipe, LPCVOID data, DWORD size, LPDWORD written,
                                  LPOVERLAPPED overlapped) {
  const auto begin = Clock::now();
  PipeIoScript& script = current().script_;
  script.writes.emplace_back(static_cast<const char*>(data), size);
  const int call = static_cast<int>(script.writes.size());
  // What running out of memory anywhere between the open and the answer does.
  if (call == script.throw_at_write) throw std::bad_alloc();
  if (call == script.fail_write) {
    ::SetLastError(ERROR_NO_DATA);
    return FALSE;
  }
  if (call == script.short_write) size -= 1;
  const BOOL started = ::WriteFile(pipe, data, size, written, overlapped);
  const DWORD error = ::GetLastError();
  script.write_times.push_back({begin, Clock::now()});
  ::SetLastError(error);
  return started;
}

BOOL WINAPI ScriptedPipeIo::Read(HANDLE pipe, LPVOID data, DWORD size, LPDWORD read,
                                 LPOVERLAPPED overlapped) {
  const auto begin = Clock::now();
  PipeIoScript& script = current().script_;
  const int call = ++script.reads;
  if (call == script.throw_at_read) throw std::bad_alloc();
  if (call == script.short_read) size -= 1;
  const BOOL started = call == script.hold_read ? HoldRead(script, pipe, data, size, overlapped)
                                                : ::ReadFile(pipe, data, size, read, overlapped);
  const DWORD error = ::GetLastError();
  script.read_times.push_back({begin, Clock::now()});
  ::SetLastError(error);
  return started;
}

}  // namespace tw::discord::test
