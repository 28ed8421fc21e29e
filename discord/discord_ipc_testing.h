// Test access to the Discord connection's pipe reads and writes.
//
// A real pipe never reports a short read after it has announced enough
// bytes, and a write can only be made to fail by racing the other end; the
// tests swap these two calls to produce those failures (and to count the
// writes). Not for product code.
#ifndef DISCORD_DISCORD_IPC_TESTING_H_
#define DISCORD_DISCORD_IPC_TESTING_H_

#include <windows.h>

namespace discord {

using ReadFileFn = BOOL(WINAPI*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
using WriteFileFn = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

struct PipeIo {
  ReadFileFn read_file;
  WriteFileFn write_file;
};

// The real ::ReadFile and ::WriteFile.
PipeIo DefaultPipeIo();

// Installs `io` for every later pipe read and write; returns what it
// replaces. Call only while no update runs.
PipeIo SetPipeIoForTesting(PipeIo io);

}  // namespace discord

#endif  // DISCORD_DISCORD_IPC_TESTING_H_
