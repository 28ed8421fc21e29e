// Process-entry helpers: console set-up and the command line.
#ifndef RUNNER_UTILS_H_
#define RUNNER_UTILS_H_

#include <string>
#include <vector>

// Gives a GUI process started under a debugger a console of its own and
// points the C and C++ standard streams, and the engine library's output, at
// it. Does nothing when no console can be allocated.
void CreateConsoleForDebugging();

// The process's command-line arguments, without the program name, each as
// UTF-8 and in order. An argument that is not valid UTF-16 becomes an empty
// string in its place. Empty when the command line cannot be split.
std::vector<std::string> ReadCommandLineArguments();

// `text` (null-terminated UTF-16, may be null) as UTF-8. Null text, empty
// text and text that is not valid UTF-16 (an unpaired surrogate) all give the
// empty string.
std::string WideToUtf8(const wchar_t* text);

#endif  // RUNNER_UTILS_H_
