#include "runner/console.h"

#include <windows.h>
#include <io.h>
#include <stdio.h>

#include <iostream>

#include "runner/console_seam.h"
#include "runner/flutter_windows.h"

namespace tw::runner {

void SetUpConsole() {
  const ConsoleApi api = CurrentConsoleApi();
  if (!api.attach_console(ATTACH_PARENT_PROCESS) && api.is_debugger_present()) {
    CreateConsoleForDebugging();
  }
}

void CreateConsoleForDebugging() {
  const ConsoleApi api = CurrentConsoleApi();
  if (!api.alloc_console()) return;
  FILE* unused = nullptr;
  if (api.reopen_stream(&unused, "CONOUT$", "w", stdout) != 0) {
    if (_fileno(stdout) >= 0) api.duplicate_descriptor(_fileno(stdout), 1);
  }
  if (api.reopen_stream(&unused, "CONOUT$", "w", stderr) != 0) {
    if (_fileno(stdout) >= 0) api.duplicate_descriptor(_fileno(stdout), 2);
  }
  std::ios::sync_with_stdio(true);
  FlutterDesktopResyncOutputStreams();
}

}  // namespace tw::runner
