// Owners for the Windows handles of the Discord connection.
#ifndef DISCORD_WIN_HANDLES_H_
#define DISCORD_WIN_HANDLES_H_

#include <windows.h>

#include "util/win_handles.h"

namespace discord {

// A pipe handle, where INVALID_HANDLE_VALUE (not null) means none.
using UniquePipe = tw::UniqueFile;

}  // namespace discord

#endif  // DISCORD_WIN_HANDLES_H_
