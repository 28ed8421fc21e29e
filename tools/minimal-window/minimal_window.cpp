// The smallest Win32 program that shows a window: a baseline for start-up
// time measurements. Shows one overlapped window and runs the message loop
// until it is closed.
#include <windows.h>

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = L"MINIMAL_WINDOW";
  if (RegisterClassW(&window_class) == 0) return 1;
  HWND window = CreateWindowExW(/*dwExStyle=*/0, L"MINIMAL_WINDOW", L"Minimal window",
                                WS_OVERLAPPEDWINDOW, 10, 10, 1280, 720, /*hWndParent=*/nullptr,
                                /*hMenu=*/nullptr, instance, /*lpParam=*/nullptr);
  if (window == nullptr) return 1;
  ShowWindow(window, SW_SHOWNORMAL);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
