#include "runner/utils.h"

// windows.h first: shellapi.h relies on its types.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <exception>

#include "util/utf.h"
#include "util/win_handles.h"

std::vector<std::string> ReadCommandLineArguments() {
  int argc = 0;
  tw::UniqueLocal<LPWSTR*> argv(::CommandLineToArgvW(::GetCommandLineW(), &argc));
  std::vector<std::string> arguments;
  if (!argv) return arguments;
  // argv[0] is the program's own name; the UI only gets what follows it.
  for (int i = 1; i < argc; ++i) arguments.push_back(WideToUtf8(argv.get()[i]));
  return arguments;
}

std::string WideToUtf8(const wchar_t* text) {
  // Strict: an argument with an unpaired surrogate is dropped, never
  // passed on with a replacement character in it.
  std::string utf8;
  if (text == nullptr || !tw::Utf16ToUtf8(std::wstring_view(text), &utf8)) return std::string();
  return utf8;
}

void ReportCallbackException(const char* where, std::exception_ptr error) noexcept {
  const char* what = "unknown exception";
  // what() stays valid while `error` holds the exception.
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  // stdio, not a stream: it neither throws nor allocates on this path.
  std::fprintf(stderr, "Error: exception in %s: %s\n", where, what);
  std::fflush(stderr);
}
