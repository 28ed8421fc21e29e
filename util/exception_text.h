// The text of an exception caught at a boundary that nothing may cross: a
// callback of the engine or of Windows, a channel handler.
//
// Example:
//
//   } catch (...) {
//     std::fprintf(stderr, "Error: exception in %s: %s\n", where, tw::CurrentExceptionWhat());
//   }
#ifndef UTIL_EXCEPTION_TEXT_H_
#define UTIL_EXCEPTION_TEXT_H_

#include <exception>

namespace tw {

// Stands for the what() of an exception that is not a std::exception.
inline constexpr char kUnknownExceptionText[] = "unknown exception";

// For a catch block only: what() of the exception being handled when it is
// a std::exception, otherwise kUnknownExceptionText. The text lives as long
// as the caller's handler does. Neither throws nor allocates.
inline const char* CurrentExceptionWhat() noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return kUnknownExceptionText;
  }
}

}  // namespace tw

#endif  // UTIL_EXCEPTION_TEXT_H_
