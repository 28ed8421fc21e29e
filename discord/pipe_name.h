// The names of the Discord client's local IPC pipes, \\.\pipe\discord-ipc-0
// to \\.\pipe\discord-ipc-9: the connection tries them in this order, and
// the client stand-in serves one of them.
//
// Portable: no Windows headers.
#ifndef DISCORD_PIPE_NAME_H_
#define DISCORD_PIPE_NAME_H_

#include <string>

namespace tw::discord {

inline constexpr wchar_t kPipeNamePrefix[] = L"\\\\.\\pipe\\discord-ipc-";

// Pipe numbers run from 0 to kPipeCount - 1.
inline constexpr int kPipeCount = 10;

// The prefix followed by `number` in decimal.
inline std::wstring PipeName(int number) { return kPipeNamePrefix + std::to_wstring(number); }

}  // namespace tw::discord

#endif  // DISCORD_PIPE_NAME_H_
