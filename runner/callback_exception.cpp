#include "runner/callback_exception.h"

#include <cstdio>

#include "util/exception_text.h"

namespace tw::runner {

void ReportCallbackException(const char* where) noexcept {
  // stdio, not a stream: it neither throws nor allocates on this path.
  std::fprintf(stderr, "Error: exception in %s: %s\n", where, CurrentExceptionWhat());
  std::fflush(stderr);
}

}  // namespace tw::runner
