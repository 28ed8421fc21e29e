// The seam of the Discord connection: its pipe opens, reads and writes go
// through this table of calls.
//
// A real pipe never reports a short read after it has announced enough
// bytes, and a write can only be made to fail by racing the other end; the
// tests (and the latency benchmark, which times each call) swap these calls
// to produce those failures, to count the writes and to see how the pipe is
// opened. The product itself only ever uses DefaultPipeIo().
#ifndef DISCORD_PIPE_IO_SEAM_H_
#define DISCORD_PIPE_IO_SEAM_H_

#include <windows.h>

namespace discord {

using CreateFileFn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                     HANDLE);
using ReadFileFn = BOOL(WINAPI*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
using WriteFileFn = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

// Reads and writes are issued overlapped: the byte-count pointer is null and
// the count comes from the OVERLAPPED.
struct PipeIo {
  CreateFileFn create_file;
  ReadFileFn read_file;
  WriteFileFn write_file;
};

// The real ::CreateFileW, ::ReadFile and ::WriteFile.
PipeIo DefaultPipeIo();

// Installs `io` for every later pipe read and write; returns what it
// replaces. Call only while no update runs.
PipeIo SetPipeIoForTesting(PipeIo io);

}  // namespace discord

#endif  // DISCORD_PIPE_IO_SEAM_H_
