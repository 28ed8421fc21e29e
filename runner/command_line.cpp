#include "runner/command_line.h"

// windows.h first: shellapi.h relies on its types.
#include <windows.h>
#include <shellapi.h>

#include "util/utf.h"
#include "util/win_handles.h"

namespace tw::runner {

std::vector<std::string> ReadCommandLineArguments() {
  int argc = 0;
  UniqueLocal<LPWSTR*> argv(::CommandLineToArgvW(::GetCommandLineW(), &argc));
  std::vector<std::string> arguments;
  if (!argv) return arguments;
  // argv[0] is the program's own name; the UI only gets what follows it.
  // Strict: an argument with an unpaired surrogate is dropped, never passed
  // on with a replacement character in it.
  for (int i = 1; i < argc; ++i) arguments.push_back(WideToUtf8(argv.get()[i]));
  return arguments;
}

}  // namespace tw::runner
