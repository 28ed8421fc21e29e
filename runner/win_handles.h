// Owners for the Win32 handles that the shell itself opens.
#ifndef RUNNER_WIN_HANDLES_H_
#define RUNNER_WIN_HANDLES_H_

#include <windows.h>

#include "util/unique_handle.h"

namespace tw {

// The array that CommandLineToArgvW allocates; one LocalFree releases it.
struct ArgvTraits {
  using Type = LPWSTR*;
  static Type Invalid() { return nullptr; }
  static void Close(Type argv) { ::LocalFree(argv); }
};
using UniqueArgv = UniqueHandle<ArgvTraits>;

// A module loaded with LoadLibrary*.
struct ModuleTraits {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static void Close(Type module) { ::FreeLibrary(module); }
};
using UniqueModule = UniqueHandle<ModuleTraits>;

}  // namespace tw

#endif  // RUNNER_WIN_HANDLES_H_
