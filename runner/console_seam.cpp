#include "runner/console_seam.h"

#include <utility>

namespace tw::runner {
namespace {

ConsoleApi g_console;

template <typename Fn>
void FillNull(Fn& entry, Fn platform) {
  if (entry == nullptr) entry = platform;
}

}  // namespace

ConsoleApi CurrentConsoleApi() {
  const ConsoleApi platform;
  ConsoleApi api = g_console;
  FillNull(api.attach_console, platform.attach_console);
  FillNull(api.is_debugger_present, platform.is_debugger_present);
  FillNull(api.alloc_console, platform.alloc_console);
  FillNull(api.reopen_stream, platform.reopen_stream);
  FillNull(api.duplicate_descriptor, platform.duplicate_descriptor);
  return api;
}

ConsoleApi SetConsoleForTesting(const ConsoleApi& api) { return std::exchange(g_console, api); }

}  // namespace tw::runner
