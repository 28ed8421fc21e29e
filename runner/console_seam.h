// The seam of the console rule at process entry: attaching to the parent's
// console, asking for a debugger, allocating a console and pointing the C
// streams at it.
//
// A test process has no say over whether it has a parent console or a
// debugger, and must not have its own standard streams reopened; tests
// answer and record these calls instead. The product never installs
// anything here. Each entry defaults to the platform call, and a null entry
// stands for it.
//
// Thread: the entry's thread, before any window exists.
#ifndef RUNNER_CONSOLE_SEAM_H_
#define RUNNER_CONSOLE_SEAM_H_

#include <windows.h>
#include <io.h>
#include <stdio.h>

namespace tw::runner {

struct ConsoleApi {
  decltype(&::AttachConsole) attach_console = &::AttachConsole;
  decltype(&::IsDebuggerPresent) is_debugger_present = &::IsDebuggerPresent;
  decltype(&::AllocConsole) alloc_console = &::AllocConsole;
  // freopen_s and _dup2: the C runtime's stream reopening.
  decltype(&::freopen_s) reopen_stream = &::freopen_s;
  decltype(&::_dup2) duplicate_descriptor = &::_dup2;
};

// The table in use; never holds a null entry.
const ConsoleApi& CurrentConsoleApi();

// Installs `api` for every later call and returns the table it replaces.
// For tests only; not thread-safe: the callers are one-threaded.
ConsoleApi SetConsoleApiForTesting(const ConsoleApi& api);

}  // namespace tw::runner

#endif  // RUNNER_CONSOLE_SEAM_H_
