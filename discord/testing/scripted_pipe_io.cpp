#include "discord/testing/scripted_pipe_io.h"

#include <new>

#include "util/file_io.h"

namespace tw::discord::test {
namespace {

using Clock = std::chrono::steady_clock;

PipeIoScript g_script;

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

BOOL HoldRead(HANDLE pipe, LPVOID data, DWORD size, LPOVERLAPPED overlapped) {
  if (!TakeWhatThePipeHolds(pipe)) return FALSE;
  const HANDLE process = ::GetCurrentProcess();
  HANDLE held = nullptr;
  if (!::DuplicateHandle(process, pipe, process, &held, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return FALSE;
  }
  g_script.held_pipe = UniqueFile(held);
  HANDLE event = nullptr;
  if (!::DuplicateHandle(process, overlapped->hEvent, process, &event, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
    return FALSE;
  }
  g_script.held_event = UniqueKernelHandle(event);
  return ::ReadFile(held, data, size, nullptr, overlapped);
}

HANDLE WINAPI ScriptedCreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                  HANDLE templ) {
  g_script.opens.emplace_back(name);
  g_script.open_flags.push_back(flags);
  return ::CreateFileW(name, access, share, security, disposition, flags, templ);
}

// The overlapped calls take the byte count from the OVERLAPPED, so `written`
// and `read` may be null.
BOOL WINAPI ScriptedWriteFile(HANDLE pipe, LPCVOID data, DWORD size, LPDWORD written,
                              LPOVERLAPPED overlapped) {
  const auto begin = Clock::now();
  g_script.writes.emplace_back(static_cast<const char*>(data), size);
  const int call = static_cast<int>(g_script.writes.size());
  // What running out of memory anywhere between the open and the answer does.
  if (call == g_script.throw_at_write) throw std::bad_alloc();
  if (call == g_script.fail_write) {
    ::SetLastError(ERROR_NO_DATA);
    return FALSE;
  }
  if (call == g_script.short_write) size -= 1;
  const BOOL started = ::WriteFile(pipe, data, size, written, overlapped);
  const DWORD error = ::GetLastError();
  g_script.write_times.push_back({begin, Clock::now()});
  ::SetLastError(error);
  return started;
}

BOOL WINAPI ScriptedReadFile(HANDLE pipe, LPVOID data, DWORD size, LPDWORD read,
                             LPOVERLAPPED overlapped) {
  const auto begin = Clock::now();
  const int call = ++g_script.reads;
  if (call == g_script.throw_at_read) throw std::bad_alloc();
  if (call == g_script.short_read) size -= 1;
  const BOOL started = call == g_script.hold_read ? HoldRead(pipe, data, size, overlapped)
                                                  : ::ReadFile(pipe, data, size, read, overlapped);
  const DWORD error = ::GetLastError();
  g_script.read_times.push_back({begin, Clock::now()});
  ::SetLastError(error);
  return started;
}

PipeIo WithFreshScript() {
  g_script = PipeIoScript();
  return PipeIo{&ScriptedCreateFileW, &ScriptedReadFile, &ScriptedWriteFile};
}

}  // namespace

PipeIoScript& Script() { return g_script; }

PipeIo ScriptedPipeIo() {
  return PipeIo{&ScriptedCreateFileW, &ScriptedReadFile, &ScriptedWriteFile};
}

ScopedScriptedPipeIo::ScopedScriptedPipeIo() : override_(WithFreshScript()) {}

}  // namespace tw::discord::test
