// Test access to the Discord connection's pipe opens, reads and writes.
//
// A real pipe never reports a short read after it has announced enough
// bytes, and a write can only be made to fail by racing the other end; the
// tests swap these calls to produce those failures, to count the writes and
// to see how the pipe is opened. Not for product code.
#ifndef DISCORD_DISCORD_IPC_TESTING_H_
#define DISCORD_DISCORD_IPC_TESTING_H_

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

#endif  // DISCORD_DISCORD_IPC_TESTING_H_
