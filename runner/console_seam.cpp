#include "runner/console_seam.h"

#include "util/seam.h"

namespace tw::runner {
namespace {

ConsoleApi g_api;

}  // namespace

const ConsoleApi& CurrentConsoleApi() { return g_api; }

ConsoleApi SetConsoleApiForTesting(const ConsoleApi& api) {
  const ConsoleApi previous = g_api;
  const ConsoleApi platform;
  g_api.attach_console = OrPlatform(api.attach_console, platform.attach_console);
  g_api.is_debugger_present = OrPlatform(api.is_debugger_present, platform.is_debugger_present);
  g_api.alloc_console = OrPlatform(api.alloc_console, platform.alloc_console);
  g_api.reopen_stream = OrPlatform(api.reopen_stream, platform.reopen_stream);
  g_api.duplicate_descriptor = OrPlatform(api.duplicate_descriptor, platform.duplicate_descriptor);
  return previous;
}

}  // namespace tw::runner
