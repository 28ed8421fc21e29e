#include "runner/console_seam.h"

#include "util/seam.h"

namespace tw::runner {
namespace {

SeamTable<ConsoleApi, &ConsoleApi::attach_console, &ConsoleApi::is_debugger_present,
          &ConsoleApi::alloc_console, &ConsoleApi::reopen_stream, &ConsoleApi::duplicate_descriptor>
    g_seam;

}  // namespace

const ConsoleApi& CurrentConsoleApi() { return g_seam.current(); }

ConsoleApi SetConsoleApiForTesting(const ConsoleApi& api) { return g_seam.Install(api); }

}  // namespace tw::runner
