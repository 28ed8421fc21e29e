// Process-entry helpers: the command line; the line that reports an
// exception caught at a callback boundary.
#ifndef RUNNER_UTILS_H_
#define RUNNER_UTILS_H_

#include <exception>
#include <string>
#include <vector>

// The process's command-line arguments, without the program name, each as
// UTF-8 and in order. An argument that is not valid UTF-16 becomes an empty
// string in its place. Empty when the command line cannot be split.
std::vector<std::string> ReadCommandLineArguments();

// `text` (null-terminated UTF-16, may be null) as UTF-8. Null text, empty
// text and text that is not valid UTF-16 (an unpaired surrogate) all give the
// empty string.
std::string WideToUtf8(const wchar_t* text);

// For the catch block of a function that Windows or the engine calls back,
// which must never let an exception unwind into its caller: writes
// "Error: exception in <where>: <what>" (the text of a std::exception,
// otherwise "unknown exception") and a line end to standard error, flushed.
void ReportCallbackException(const char* where, std::exception_ptr error) noexcept;

#endif  // RUNNER_UTILS_H_
