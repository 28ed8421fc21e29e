// The seam of the Discord connection: its pipe opens, reads and writes go
// through this table of calls.
//
// A real pipe never reports a short read after it has announced enough
// bytes, nor leaves a read pending once its bytes are there, and a write
// can only be made to fail by racing the other end; the tests (and the
// latency benchmark, which times each call) swap these calls to produce
// those failures, to count the writes and to see how the pipe is opened.
// The product itself only ever uses the platform calls. Each entry defaults
// to the platform call of the same name, and a null entry stands for it.
#ifndef DISCORD_PIPE_IO_SEAM_H_
#define DISCORD_PIPE_IO_SEAM_H_

#include <windows.h>

#include "util/file_io.h"

namespace tw::discord {

using CreateFileCall = decltype(&::CreateFileW);

// Reads and writes are issued overlapped: the byte-count pointer is null and
// the count comes from the OVERLAPPED.
struct PipeIo {
  CreateFileCall create_file = &::CreateFileW;
  ReadFileCall read_file = &::ReadFile;
  WriteFileCall write_file = &::WriteFile;
};

// The table in use; never holds a null entry.
const PipeIo& CurrentPipeIo();

// Installs `io` for every later pipe open, read and write and returns the
// table it replaces. For tests only; not thread-safe: call only while no
// update runs.
PipeIo SetPipeIoForTesting(const PipeIo& io);

}  // namespace tw::discord

#endif  // DISCORD_PIPE_IO_SEAM_H_
