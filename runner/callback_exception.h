// The one line the shell writes for an exception it stops at a function that
// Windows or the engine calls back (a window procedure, the next-frame
// callback), where unwinding into the caller's frames is undefined.
//
// Thread: any; the line is written with stdio in one call.
#ifndef RUNNER_CALLBACK_EXCEPTION_H_
#define RUNNER_CALLBACK_EXCEPTION_H_

namespace tw::runner {

// For a catch block only: writes "Error: exception in <where>: <what>" (the
// text of a std::exception, otherwise "unknown exception") and a line end to
// standard error, flushed.
void ReportCallbackException(const char* where) noexcept;

}  // namespace tw::runner

#endif  // RUNNER_CALLBACK_EXCEPTION_H_
