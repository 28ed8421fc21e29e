#include "runner/win32_window.h"

#include <dwmapi.h>

#include "runner/callback_exception.h"
#include "runner/dwm_seam.h"
#include "runner/flutter_windows.h"
#include "runner/resources/resource.h"
#include "util/win_handles.h"

namespace tw::runner {
namespace {

constexpr const wchar_t kWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

// Attribute numbers of DwmSetWindowAttribute; older SDK headers lack some.
constexpr DWORD kDwmUseImmersiveDarkMode = 20;
constexpr DWORD kDwmBorderColor = 34;
constexpr DWORD kDwmCaptionColor = 35;
constexpr DWORD kDwmTextColor = 36;

// COLORREF is 0x00BBGGRR.
constexpr COLORREF kCaptionColor = 0x00150E10;
constexpr COLORREF kBorderColor = 0x0029B3FF;
constexpr COLORREF kTextColor = 0x00C6EDFF;

int live_window_count = 0;

// Created on first use so that the flag never depends on the order of static
// initialisation.
bool& ClassRegistered() {
  static bool registered = false;
  return registered;
}

void RegisterWindowClass() {
  WNDCLASSW window_class{};
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = Win32Window::WindowProc;
  window_class.cbClsExtra = 0;
  window_class.cbWndExtra = 0;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.hIcon = ::LoadIconW(window_class.hInstance, MAKEINTRESOURCEW(IDI_APP_ICON));
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = nullptr;
  window_class.lpszMenuName = nullptr;
  window_class.lpszClassName = kWindowClassName;
  // A failure shows up as a failing CreateWindowExW.
  ::RegisterClassW(&window_class);
  ClassRegistered() = true;
}

void UnregisterWindowClass() {
  ::UnregisterClassW(kWindowClassName, nullptr);
  ClassRegistered() = false;
}

// Per-monitor (v1) aware windows need this for a scaled title bar; v2 windows
// get it anyway. Looked up at run time because older systems lack it.
void EnableNonClientScaling(HWND window) {
  UniqueModule user32(::LoadLibraryW(L"User32.dll"));
  if (!user32) return;
  using EnableNonClientDpiScalingFn = BOOL(WINAPI*)(HWND);
  auto enable = reinterpret_cast<EnableNonClientDpiScalingFn>(
      reinterpret_cast<void*>(::GetProcAddress(user32.get(), "EnableNonClientDpiScaling")));
  if (enable != nullptr) enable(window);
}

// The title bar keeps these colours whatever the user's theme; systems that
// do not know an attribute keep their own look for it.
void ApplyTitleBarColors(HWND window) {
  const auto set_attribute = CurrentDwmApi().set_window_attribute;
  const DWORD dark = 1;
  set_attribute(window, kDwmUseImmersiveDarkMode, &dark, sizeof(dark));
  set_attribute(window, kDwmCaptionColor, &kCaptionColor, sizeof(kCaptionColor));
  set_attribute(window, kDwmBorderColor, &kBorderColor, sizeof(kBorderColor));
  set_attribute(window, kDwmTextColor, &kTextColor, sizeof(kTextColor));
}

// Posts WM_QUIT when it goes, if `quit` is true by then.
class QuitOnExit {
 public:
  explicit QuitOnExit(const bool& quit) : quit_(quit) {}
  ~QuitOnExit() {
    if (quit_) ::PostQuitMessage(0);
  }
  QuitOnExit(const QuitOnExit&) = delete;
  QuitOnExit& operator=(const QuitOnExit&) = delete;

 private:
  const bool& quit_;
};

int Scale(int value, double scale) { return static_cast<int>(value * scale); }

}  // namespace

Win32Window::Win32Window() { ++live_window_count; }

Win32Window::~Win32Window() {
  --live_window_count;
  Destroy();
}

int Win32Window::LiveWindowCount() { return live_window_count; }

bool Win32Window::Create(const std::wstring& title, const Point& origin, const Size& size) {
  Destroy();
  if (!ClassRegistered()) RegisterWindowClass();

  const POINT target_point{origin.x, origin.y};
  HMONITOR monitor = ::MonitorFromPoint(target_point, MONITOR_DEFAULTTONEAREST);
  const UINT dpi = FlutterDesktopGetDpiForMonitor(monitor);
  const double scale = dpi / 96.0;

  HWND window = ::CreateWindowExW(
      /*dwExStyle=*/0, kWindowClassName, title.c_str(), WS_OVERLAPPEDWINDOW, Scale(origin.x, scale),
      Scale(origin.y, scale), Scale(size.width, scale), Scale(size.height, scale),
      /*hWndParent=*/nullptr, /*hMenu=*/nullptr, ::GetModuleHandleW(nullptr), this);
  if (window == nullptr) return false;

  ApplyTitleBarColors(window);
  return OnCreate();
}

bool Win32Window::Show() { return ::ShowWindow(window_handle_, SW_SHOWNORMAL) != 0; }

void Win32Window::Destroy() {
  OnDestroy();
  if (window_handle_ != nullptr) {
    // The WM_DESTROY sent from here re-enters Destroy with the handle already
    // cleared, so the window is destroyed once.
    ::DestroyWindow(window_handle_);
    window_handle_ = nullptr;
  }
  if (live_window_count == 0) UnregisterWindowClass();
}

void Win32Window::SetContentWindow(HWND content) {
  content_window_ = content;
  ::SetParent(content, window_handle_);
  const RECT frame = GetClientBounds();
  ::MoveWindow(content, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
               /*bRepaint=*/TRUE);
  ::SetFocus(content_window_);
}

RECT Win32Window::GetClientBounds() {
  RECT frame{};
  ::GetClientRect(window_handle_, &frame);
  return frame;
}

void Win32Window::SetQuitWhenClosed(bool quit_when_closed) { quit_when_closed_ = quit_when_closed; }

LRESULT CALLBACK Win32Window::WindowProc(HWND window, UINT message, WPARAM wparam,
                                         LPARAM lparam) noexcept {
  if (message == WM_NCCREATE) {
    auto* create_struct = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* self = static_cast<Win32Window*>(create_struct->lpCreateParams);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    EnableNonClientScaling(window);
    self->window_handle_ = window;
    return ::DefWindowProcW(window, message, wparam, lparam);
  }
  // Messages sent before WM_NCCREATE (WM_GETMINMAXINFO) find no object yet.
  auto* self = reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
  try {
    return self->HandleMessage(window, message, wparam, lparam);
  } catch (...) {
    // Unwinding through user32's frames is undefined; the message gets what
    // the system would have answered.
    ReportCallbackException("window procedure");
    return ::DefWindowProcW(window, message, wparam, lparam);
  }
}

LRESULT Win32Window::HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_DESTROY: {
      window_handle_ = nullptr;
      // Posted however the teardown ends: if OnDestroy throws, the window is
      // gone all the same, and without the quit message the loop would wait
      // for ever on a process with no window.
      const QuitOnExit post_quit(quit_when_closed_);
      Destroy();
      return 0;
    }

    case WM_SIZE: {
      const RECT frame = GetClientBounds();
      if (content_window_ != nullptr) {
        ::MoveWindow(content_window_, frame.left, frame.top, frame.right - frame.left,
                     frame.bottom - frame.top, /*bRepaint=*/TRUE);
      }
      return 0;
    }

    case WM_ACTIVATE:
      if (content_window_ != nullptr) ::SetFocus(content_window_);
      return 0;

    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      ::SetWindowPos(window, /*hWndInsertAfter=*/nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }

    case WM_DWMCOLORIZATIONCOLORCHANGED:
      // The system repaints the caption in the new accent colour; put ours
      // back.
      ApplyTitleBarColors(window);
      return 0;
  }
  // The message's own window, also for WM_NCDESTROY after the handle has
  // been cleared: default handling must never run on a null window.
  return ::DefWindowProcW(window, message, wparam, lparam);
}

bool Win32Window::OnCreate() { return true; }

void Win32Window::OnDestroy() {}

}  // namespace tw::runner
