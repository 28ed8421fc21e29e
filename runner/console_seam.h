// The seam of the console rule at process entry: attaching to the parent's
// console, asking for a debugger, allocating a console and pointing the C
// streams at it.
//
// A test process has no say over whether it has a parent console or a
// debugger, and must not have its own standard streams reopened; tests
// answer and record these calls instead. The product never installs
// anything here.
//
// Thread: the entry's thread, before any window exists.
#ifndef RUNNER_CONSOLE_SEAM_H_
#define RUNNER_CONSOLE_SEAM_H_

#include <windows.h>
#include <io.h>
#include <stdio.h>

namespace tw::runner {

// A null entry stands for the platform call.
struct ConsoleApi {
  decltype(&::AttachConsole) attach_console = &::AttachConsole;
  decltype(&::IsDebuggerPresent) is_debugger_present = &::IsDebuggerPresent;
  decltype(&::AllocConsole) alloc_console = &::AllocConsole;
  // freopen_s and _dup2: the C runtime's stream reopening.
  decltype(&::freopen_s) reopen_stream = &::freopen_s;
  decltype(&::_dup2) duplicate_descriptor = &::_dup2;
};

// The installed table with every null entry replaced by the platform call.
ConsoleApi CurrentConsoleApi();

// Installs `api` and returns the table it replaced. For tests only, through
// tw::test::ScopedOverride.
ConsoleApi SetConsoleForTesting(const ConsoleApi& api);

}  // namespace tw::runner

#endif  // RUNNER_CONSOLE_SEAM_H_
