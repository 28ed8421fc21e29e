// The one stand-in of the Discord connection's pipe seam
// (discord/pipe_io_seam.h), for the tests and the latency benchmark: each
// call records what it was given and when, applies the script's failures,
// and otherwise passes on to the platform call.
//
// Example:
//   tw::discord::test::ScriptedPipeIo pipe_io;  // installed, with a fresh script
//   pipe_io.script().fail_write = 2;            // the command write fails
//   UpdateDiscordPresence(...);
//   EXPECT_EQ(pipe_io.script().writes.size(), 2u);
#ifndef DISCORD_TESTING_SCRIPTED_PIPE_IO_H_
#define DISCORD_TESTING_SCRIPTED_PIPE_IO_H_

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "discord/pipe_io_seam.h"
#include "testing/seam_stand_in.h"
#include "util/win_handles.h"

namespace tw::discord::test {

struct CallTimes {
  std::chrono::steady_clock::time_point begin;
  std::chrono::steady_clock::time_point end;
};

// What the stand-in is told to break (1-based call numbers, 0 for none),
// and what it saw.
struct PipeIoScript {
  int fail_write = 0;      // the WriteFile call that fails (ERROR_NO_DATA)
  int short_write = 0;     // the WriteFile call that writes one byte less
  int short_read = 0;      // the ReadFile call that reads one byte less
  int throw_at_write = 0;  // the WriteFile call that throws std::bad_alloc
  int throw_at_read = 0;   // the ReadFile call that throws std::bad_alloc
  // The ReadFile call left pending for ever, as by a client that announced
  // bytes and never delivered them: the stand-in takes what the pipe holds,
  // then issues the real read with the caller's OVERLAPPED through a second
  // handle of the same pipe (`held_pipe`). That read outlives the
  // connection's own handle, so once the update has returned, `held_event`
  // (the caller's event, duplicated) is set when the update cancelled the
  // read and waited for it, and not set when it left it running.
  int hold_read = 0;

  std::vector<std::wstring> opens;  // name of each CreateFileW call
  std::vector<DWORD> open_flags;    // its flags and attributes
  std::vector<std::string> writes;  // bytes of each WriteFile call
  int reads = 0;                    // ReadFile calls
  std::vector<CallTimes> write_times;
  std::vector<CallTimes> read_times;
  UniqueFile held_pipe;
  UniqueKernelHandle held_event;
};

class ScriptedPipeIo
    : public ::tw::test::SeamStandIn<ScriptedPipeIo, PipeIo, &SetPipeIoForTesting> {
 public:
  ScriptedPipeIo();

  // The script that the calls follow and record into; a test may replace it
  // with a fresh one between updates.
  PipeIoScript& script() { return script_; }

 private:
  static PipeIo Table();
  static HANDLE WINAPI Open(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE templ);
  static BOOL WINAPI Read(HANDLE pipe, LPVOID data, DWORD size, LPDWORD read,
                          LPOVERLAPPED overlapped);
  static BOOL WINAPI Write(HANDLE pipe, LPCVOID data, DWORD size, LPDWORD written,
                           LPOVERLAPPED overlapped);

  PipeIoScript script_;
};

}  // namespace tw::discord::test

#endif  // DISCORD_TESTING_SCRIPTED_PIPE_IO_H_
