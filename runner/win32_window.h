// The application's top-level window: a DPI-scaled overlapped window with a
// fixed dark title bar that hosts one child window as its content.
//
// Win32Window registers the window class "FLUTTER_RUNNER_WIN32_WINDOW" on the
// first Create of the process and unregisters it when the last Win32Window
// object is destructed. Messages of the native window go to the virtual
// HandleMessage of the object that created it; subclasses hook OnCreate and
// OnDestroy.
//
// Thread: every operation, and the process-wide class bookkeeping, belongs to
// the thread that creates the windows and runs the message loop.
#ifndef RUNNER_WIN32_WINDOW_H_
#define RUNNER_WIN32_WINDOW_H_

#include <windows.h>

#include <string>

namespace tw::runner {

class Win32Window {
 public:
  struct Point {
    int x;
    int y;
  };
  struct Size {
    int width;
    int height;
  };

  Win32Window();
  virtual ~Win32Window();

  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the native window, hidden, with `title`, at `origin` and `size`
  // given in 96-DPI units and scaled to the DPI of the monitor nearest to
  // `origin`. A native window this object still has is destroyed first.
  // True when the window exists and OnCreate succeeded.
  bool Create(const std::wstring& title, const Point& origin, const Size& size);

  // Shows the window (SW_SHOWNORMAL). True when ShowWindow reports success.
  bool Show();

  // Runs OnDestroy, destroys the native window if there is one, and
  // unregisters the window class once no Win32Window object is left.
  void Destroy();

  // Re-parents `content` into this window, sizes it to the whole client area
  // and gives it the keyboard focus. `content` stays owned by its creator.
  void SetContentWindow(HWND content);

  // Client rectangle of the native window.
  RECT GetClientBounds();

  // The native window; null before creation and after WM_DESTROY.
  HWND GetHandle() const { return window_handle_; }

  // When true, the destruction of the native window posts WM_QUIT.
  void SetQuitWhenClosed(bool quit_when_closed);

  // The window procedure of the class; routes to the owning object. An
  // exception from the object's handling never unwinds into the system: it
  // is reported on standard error ("Error: exception in window procedure:
  // <what>") and the message gets the default handling.
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam,
                                     LPARAM lparam) noexcept;

  // Number of live Win32Window objects in the process.
  static int LiveWindowCount();

 protected:
  // Per-window message handling: resize of the content, focus, DPI changes,
  // title-bar colours and destruction; everything else is default handling.
  // May throw: WindowProc catches at the boundary.
  virtual LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  // Called by Create once the native window exists (still hidden). The base
  // returns true.
  virtual bool OnCreate();

  // Called by Destroy, also while the native window is being destroyed. The
  // base does nothing.
  virtual void OnDestroy();

 private:
  bool quit_when_closed_ = false;
  HWND window_handle_ = nullptr;
  HWND content_window_ = nullptr;
};

}  // namespace tw::runner

#endif  // RUNNER_WIN32_WINDOW_H_
