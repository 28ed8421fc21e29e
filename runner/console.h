// The console of a GUI process: the launcher has none of its own.
//
// Thread: the entry's thread, before any window exists.
#ifndef RUNNER_CONSOLE_H_
#define RUNNER_CONSOLE_H_

namespace tw::runner {

// Started from a command prompt, the process shares that console and its
// standard streams stay as they were. Only when there is no console to
// attach to and a debugger is present does it get one of its own
// (CreateConsoleForDebugging).
void SetUpConsole();

// Gives a GUI process started under a debugger a console of its own and
// points the C and C++ standard streams, and the engine library's output, at
// it. Does nothing when no console can be allocated.
void CreateConsoleForDebugging();

}  // namespace tw::runner

#endif  // RUNNER_CONSOLE_H_
