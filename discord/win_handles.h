// Owners for the Windows handles of the Discord connection.
#ifndef DISCORD_WIN_HANDLES_H_
#define DISCORD_WIN_HANDLES_H_

#include <windows.h>

#include "util/unique_handle.h"

namespace discord {

// A pipe or file handle, where INVALID_HANDLE_VALUE (not null) means none.
struct PipeHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type handle) { ::CloseHandle(handle); }
};
using UniquePipe = tw::UniqueHandle<PipeHandleTraits>;

}  // namespace discord

#endif  // DISCORD_WIN_HANDLES_H_
