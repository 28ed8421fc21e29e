// The one stand-in of the console seam (runner/console_seam.h): answers the
// console calls as a test asks and records each one, in order, as text.
// Nothing is passed on to the platform, so the test process keeps its own
// console and streams.
//
//   "AttachConsole(-1)", "IsDebuggerPresent", "AllocConsole",
//   "freopen_s(CONOUT$, w, stdout)" (or stderr), "_dup2(<from>, <to>)"
//
// Example:
//   tw::runner::test::RecordingConsole console({.attach_succeeds = false});
//   tw::runner::SetUpConsole();
//   EXPECT_THAT(console.calls(), ElementsAre("AttachConsole(-1)", "IsDebuggerPresent"));
//
// One may live at a time, on the test's thread.
#ifndef RUNNER_TESTING_RECORDING_CONSOLE_H_
#define RUNNER_TESTING_RECORDING_CONSOLE_H_

#include <windows.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "runner/console_seam.h"
#include "testing/seam_stand_in.h"

namespace tw::runner::test {

struct ConsoleAnswers {
  bool attach_succeeds = true;
  bool debugger_present = false;
  bool alloc_succeeds = true;
  bool reopen_succeeds = true;
};

class RecordingConsole
    : public ::tw::test::SeamStandIn<RecordingConsole, ConsoleApi, &SetConsoleApiForTesting> {
 public:
  explicit RecordingConsole(const ConsoleAnswers& answers)
      : SeamStandIn(Table()), answers_(answers) {}

  const std::vector<std::string>& calls() const { return calls_; }

 private:
  static ConsoleApi Table() {
    ConsoleApi table;
    table.attach_console = &AttachConsole;
    table.is_debugger_present = &IsDebuggerPresent;
    table.alloc_console = &AllocConsole;
    table.reopen_stream = &ReopenStream;
    table.duplicate_descriptor = &DuplicateDescriptor;
    return table;
  }

  static void Note(const std::string& call) noexcept {
    try {
      current().calls_.push_back(call);
    } catch (...) {
      // A call that cannot be recorded shows as a missing one.
    }
  }

  static BOOL WINAPI AttachConsole(DWORD process) {
    Note("AttachConsole(" + std::to_string(static_cast<int>(process)) + ")");
    return current().answers_.attach_succeeds;
  }
  static BOOL WINAPI IsDebuggerPresent() {
    Note("IsDebuggerPresent");
    return current().answers_.debugger_present;
  }
  static BOOL WINAPI AllocConsole() {
    Note("AllocConsole");
    return current().answers_.alloc_succeeds;
  }
  static errno_t __cdecl ReopenStream(FILE** out, const char* path, const char* mode,
                                      FILE* stream) {
    const char* name = stream == stdout ? "stdout" : stream == stderr ? "stderr" : "other";
    Note(std::string("freopen_s(") + path + ", " + mode + ", " + name + ")");
    if (!current().answers_.reopen_succeeds) return EINVAL;
    *out = stream;
    return 0;
  }
  static int __cdecl DuplicateDescriptor(int from, int to) {
    Note("_dup2(" + std::to_string(from) + ", " + std::to_string(to) + ")");
    return 0;
  }

  ConsoleAnswers answers_;
  std::vector<std::string> calls_;
};

}  // namespace tw::runner::test

#endif  // RUNNER_TESTING_RECORDING_CONSOLE_H_
