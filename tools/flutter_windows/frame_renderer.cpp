// The development engine's frame renderer: a dark launcher-like surface
// with the title and the live log of the scripted UI's calls, drawn with GDI
// into the view's off-screen bitmap, which WM_PAINT then shows.
#include <windows.h>

#include <string>

#include "tools/flutter_windows/view_state.h"
#include "util/win_handles.h"

namespace dev_engine {
namespace {

constexpr COLORREF kBackground = RGB(0x10, 0x0E, 0x15);
constexpr COLORREF kTitleColor = RGB(0xFF, 0xB3, 0x29);
constexpr COLORREF kTextColor = RGB(0xFF, 0xED, 0xC6);

}  // namespace

void Render(FlutterDesktopViewController* controller) {
  RECT client{};
  ::GetClientRect(controller->view.hwnd, &client);
  const int width = client.right > 0 ? client.right : 1;
  const int height = client.bottom > 0 ? client.bottom : 1;
  tw::WindowDc screen(controller->view.hwnd);
  if (!controller->frame || controller->frame_width != width ||
      controller->frame_height != height) {
    controller->frame.reset(::CreateCompatibleBitmap(screen.get(), width, height));
    controller->frame_width = width;
    controller->frame_height = height;
  }
  tw::UniqueMemoryDc dc(::CreateCompatibleDC(screen.get()));
  tw::GdiSelection bitmap(dc.get(), controller->frame.get());
  {
    tw::UniqueBrush background(::CreateSolidBrush(kBackground));
    RECT all{0, 0, width, height};
    ::FillRect(dc.get(), &all, background.get());
  }
  ::SetBkMode(dc.get(), TRANSPARENT);

  tw::UniqueFont title_font(::CreateFontW(-32, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                                          DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                          DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Segoe UI"));
  tw::UniqueFont log_font(::CreateFontW(-14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                        DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                        DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Consolas"));
  {
    tw::GdiSelection font(dc.get(), title_font.get());
    ::SetTextColor(dc.get(), kTitleColor);
    RECT title_rect{24, 16, width - 24, 64};
    ::DrawTextW(dc.get(), L"Tidewarden Launcher", -1, &title_rect,
                DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
  }
  {
    tw::GdiSelection font(dc.get(), log_font.get());
    ::SetTextColor(dc.get(), kTextColor);
    int y = 80;
    for (const std::wstring& line : controller->log) {
      RECT line_rect{24, y, width - 24, y + 18};
      ::DrawTextW(dc.get(), line.c_str(), -1, &line_rect,
                  DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
      y += 18;
    }
  }
  ::InvalidateRect(controller->view.hwnd, nullptr, FALSE);
}

}  // namespace dev_engine
