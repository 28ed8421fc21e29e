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


// GDI owners. Bitmaps, brushes and fonts are released by DeleteObject, memory
// device contexts by DeleteDC; null means none. A window's device context
// goes back to its window (WindowDc), and an object selected into a context
// is swapped out again before either is released (GdiSelection).
namespace tw {

template <typename Object>
struct GdiObjectTraits {
  using Type = Object;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::DeleteObject(h); }
};
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;

struct MemoryDcTraits {
  using Type = HDC;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::DeleteDC(h); }
};
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;

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
