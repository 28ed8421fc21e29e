// Owners for the handle kinds that CloseHandle releases, for every folder.
//
// Windows uses two "no handle" values for them: CreateFileW and
// CreateNamedPipeW fail with INVALID_HANDLE_VALUE, while events, mutexes,
// processes and threads fail with null. Each owner checks against the right
// one, so a failed open is never closed and a valid handle never leaks.
// Owners for the other kinds (registry keys, bcrypt, credentials) live with
// the code that opens them.
#ifndef UTIL_WIN_HANDLES_H_
#define UTIL_WIN_HANDLES_H_

#include <windows.h>

#include "util/unique_handle.h"

namespace tw {

// Files and pipes: INVALID_HANDLE_VALUE means none.
struct FileTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::CloseHandle(h); }
};
using UniqueFile = UniqueHandle<FileTraits>;

// Other kernel objects (events, mutexes, processes, threads): null means none.
struct KernelTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::CloseHandle(h); }
};
using UniqueKernelHandle = UniqueHandle<KernelTraits>;

}  // namespace tw

#endif  // UTIL_WIN_HANDLES_H_
