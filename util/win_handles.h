// Owners for every Win32 handle kind the project opens, one line per kind.
//
// Windows uses two "no handle" values: CreateFileW and CreateNamedPipeW fail
// with INVALID_HANDLE_VALUE, while events, mutexes, processes, threads,
// registry keys, modules and bcrypt objects fail with null. Each owner checks
// against the right one, so a failed open is never closed and a valid handle
// never leaks.
//
// Example:
//
//   tw::UniqueHKey key;
//   if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, /*ulOptions=*/0, KEY_READ,
//                       key.put()) != ERROR_SUCCESS) { ... }
//
//   tw::MutexOwnership held = tw::WaitForMutex(mutex.get(), /*timeout_ms=*/120000);
//   if (!held) { ... }   // otherwise released when `held` goes, on every path
//
// The credential record of the token store has its own owner in
// security/token_store.h, since its blob is wiped before it is released.
#ifndef UTIL_WIN_HANDLES_H_
#define UTIL_WIN_HANDLES_H_

#include <windows.h>
#include <bcrypt.h>

#include "util/unique_handle.h"

namespace tw {

// Traits for the kernel handles where INVALID_HANDLE_VALUE (not null) means
// none: files and pipes (CreateFileW, CreateNamedPipeW) and searches
// (FindFirstFileW).
template <auto CloseFn>
struct InvalidValueMeansNone {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type handle) noexcept { CloseFn(handle); }
};

// The flags argument of BCryptCloseAlgorithmProvider, which has no other value.
inline void CloseAlgorithmProvider(BCRYPT_ALG_HANDLE h) noexcept {
  ::BCryptCloseAlgorithmProvider(h, /*dwFlags=*/0);
}

template <typename Interface>
void ReleaseCom(Interface* p) noexcept {
  p->Release();
}

using UniqueFile = UniqueHandle<InvalidValueMeansNone<&::CloseHandle>>;
using UniqueFind = UniqueHandle<InvalidValueMeansNone<&::FindClose>>;
// Events, mutexes, processes, threads, tokens.
using UniqueKernelHandle = UniqueHandle<NullMeansNone<HANDLE, &::CloseHandle>>;
using UniqueHKey = UniqueHandle<NullMeansNone<HKEY, &::RegCloseKey>>;
using UniqueModule = UniqueHandle<NullMeansNone<HMODULE, &::FreeLibrary>>;
using UniqueAlgorithm = UniqueHandle<NullMeansNone<BCRYPT_ALG_HANDLE, &CloseAlgorithmProvider>>;
using UniqueCryptKey = UniqueHandle<NullMeansNone<BCRYPT_KEY_HANDLE, &::BCryptDestroyKey>>;
using UniqueHash = UniqueHandle<NullMeansNone<BCRYPT_HASH_HANDLE, &::BCryptDestroyHash>>;
// Memory an API hands out to be freed with LocalFree: CommandLineToArgvW's
// array, ConvertSidToStringSidW's text, a security descriptor.
template <typename T>
using UniqueLocal = UniqueHandle<NullMeansNone<T, &::LocalFree>>;
// A COM interface pointer; closing it is Release().
template <typename Interface>
using UniqueCom = UniqueHandle<NullMeansNone<Interface*, &ReleaseCom<Interface>>>;

// Scope guard for an owned mutex: ReleaseMutex when it goes. It holds the
// mutex handle without owning it; the handle's own owner must outlive it.
using MutexOwnership = UniqueHandle<NullMeansNone<HANDLE, &::ReleaseMutex>>;

// Waits up to `timeout_ms` for `mutex` and returns its ownership; empty on a
// time-out or a failed wait. An abandoned mutex counts as taken: its last
// owner ended without releasing it.
inline MutexOwnership WaitForMutex(HANDLE mutex, DWORD timeout_ms) noexcept {
  const DWORD wait = ::WaitForSingleObject(mutex, timeout_ms);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return MutexOwnership();
  return MutexOwnership(mutex);
}

// GDI owners. Bitmaps, brushes and fonts are released by DeleteObject, memory
// device contexts by DeleteDC; null means none. A window's device context
// goes back to its window (WindowDc), and an object selected into a context
// is swapped out again before either is released (GdiSelection).
using UniqueBitmap = UniqueHandle<NullMeansNone<HBITMAP, &::DeleteObject>>;
using UniqueBrush = UniqueHandle<NullMeansNone<HBRUSH, &::DeleteObject>>;
using UniqueFont = UniqueHandle<NullMeansNone<HFONT, &::DeleteObject>>;
using UniqueMemoryDc = UniqueHandle<NullMeansNone<HDC, &::DeleteDC>>;

// The device context of a window (GetDC), released to it at scope exit.
class WindowDc {
 public:
  explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
  ~WindowDc() {
    if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const noexcept { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects an object into a device context and selects the previous one back
// at scope exit. Declare it after the owners of both, so that it ends first.
class GdiSelection {
 public:
  GdiSelection(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ~GdiSelection() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
  }
  GdiSelection(const GdiSelection&) = delete;
  GdiSelection& operator=(const GdiSelection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace tw

#endif  // UTIL_WIN_HANDLES_H_
