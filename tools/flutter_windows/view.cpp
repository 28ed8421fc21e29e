// View side of the development library: the view controller that takes over
// an engine and shows it in a real child window, the frames it draws, the
// scripted UI it plays, DPI and output streams.
//
// A frame is drawn into an off-screen bitmap whenever a redraw is asked for
// (also while the top-level window is still hidden, as a real engine renders
// to its surface), then shown by WM_PAINT. After each frame the waiting
// next-frame callback, if any, runs once on the window thread. After the
// first frame the scripted UI plays its steps, one posted message at a time,
// so that the host's message loop runs between them.
#include <windows.h>

#include <psapi.h>
#include <shellscalingapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/flutter_windows/dev_state.h"
#include "tools/flutter_windows/ui_script.h"
#include "util/win_handles.h"

struct FlutterDesktopView {
  HWND hwnd = nullptr;
};

struct FlutterDesktopViewController {
  FlutterDesktopEngine* engine = nullptr;
  FlutterDesktopView view;
  HWND parking = nullptr;  // hidden owner of the view until the host adopts it
  HBITMAP frame = nullptr;
  int frame_width = 0;
  int frame_height = 0;
  int frames = 0;
  bool frame_pending = false;
  bool script_started = false;
  bool script_loaded = false;
  bool close_at_end = false;
  std::vector<dev_engine::ScriptStep> steps;
  size_t next_step = 0;
  int messages_sent = 0;
  std::string destroy_event;
  int destroy_wait_ms = 0;
  std::deque<std::wstring> log;  // what the view shows, newest last
  bool ending = false;           // inside FlutterDesktopViewControllerDestroy
};

namespace {

using dev_engine::World;

constexpr wchar_t kViewClass[] = L"DEV_ENGINE_VIEW";
constexpr wchar_t kParkingClass[] = L"DEV_ENGINE_PARKING";
constexpr UINT kRenderMessage = WM_APP + 0x31;
constexpr UINT kStepMessage = WM_APP + 0x32;
constexpr UINT_PTR kPauseTimer = 0x7057;
constexpr size_t kShownLogLines = 40;
constexpr COLORREF kBackground = RGB(0x10, 0x0E, 0x15);
constexpr COLORREF kTitleColor = RGB(0xFF, 0xB3, 0x29);
constexpr COLORREF kTextColor = RGB(0xFF, 0xED, 0xC6);

// The view controller created last, while it lives (DevEngineViewWindow).
FlutterDesktopViewController* newest_controller = nullptr;

void Note(const std::string& line) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  world.Note(line);
}

std::string EnvironmentValue(const char* name) {
  char value[256];
  const DWORD n = ::GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(),
                        size, nullptr, nullptr);
  return utf8;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size =
      ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string RectText(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

// Relative paths are taken from the executable's folder, as the engine
// does, so that the launcher finds its data whatever the working folder.
std::wstring ResolvePath(const std::wstring& path) {
  if (path.size() >= 2 && (path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\'))) return path;
  wchar_t module[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring folder(module);
  folder.resize(folder.find_last_of(L'\\') + 1);
  return folder + path;
}

bool ReadWholeFile(const std::wstring& path, std::string* text) {
  tw::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  char buffer[4096];
  DWORD read = 0;
  text->clear();
  while (::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    text->append(buffer, read);
  }
  return true;
}

void AddLog(FlutterDesktopViewController* controller, const std::string& line) {
  controller->log.push_back(Wide(line));
  while (controller->log.size() > kShownLogLines) controller->log.pop_front();
}

// Loads the scripted UI: the file named by an entry-point argument
// "--dev-ui-script=<path>", else dev_ui_script.txt in the assets folder.
// Without either the UI stays open for a person to look at.
void LoadScript(FlutterDesktopViewController* controller) {
  std::wstring path;
  {
    World& world = World::Get();
    std::lock_guard<std::mutex> guard(world.mutex);
    const std::string flag = "--dev-ui-script=";
    for (const std::string& argument : controller->engine->entry_point_arguments) {
      if (argument.compare(0, flag.size(), flag) == 0) path = Wide(argument.substr(flag.size()));
    }
    if (path.empty()) path = controller->engine->assets_path + L"\\dev_ui_script.txt";
  }
  std::string text;
  if (!ReadWholeFile(ResolvePath(path), &text)) {
    Note("script none (" + Utf8(path) + "): the UI stays open");
    AddLog(controller, "No UI script; close the window to quit.");
    return;
  }
  std::string error;
  if (!dev_engine::ParseScript(text, &controller->steps, &error)) {
    std::cerr << "dev engine: UI script " << Utf8(path) << ": " << error << std::endl;
    Note("script error " + error);
    controller->steps.clear();
  }
  controller->script_loaded = true;
  controller->close_at_end = true;
  Note("script loaded " + std::to_string(controller->steps.size()) + " steps");
}

HWND TopLevel(FlutterDesktopViewController* controller) {
  HWND root = ::GetAncestor(controller->view.hwnd, GA_ROOT);
  return root != controller->parking ? root : nullptr;
}

std::string DescribeTopLevel(HWND window) {
  if (window == nullptr) return "none";
  wchar_t class_name[128] = {};
  ::GetClassNameW(window, class_name, 128);
  wchar_t title[256] = {};
  ::GetWindowTextW(window, title, 256);
  RECT rect{};
  ::GetWindowRect(window, &rect);
  return "class=" + Utf8(class_name) + " title=" + Utf8(title) +
         " visible=" + (::IsWindowVisible(window) ? "1" : "0") + " window=" + RectText(rect);
}

void RequestFrame(FlutterDesktopViewController* controller) {
  if (controller->frame_pending) return;
  controller->frame_pending = true;
  ::PostMessageW(controller->view.hwnd, kRenderMessage, 0, 0);
}

// Draws the launcher-like surface into the off-screen frame.
void Render(FlutterDesktopViewController* controller) {
  RECT client{};
  ::GetClientRect(controller->view.hwnd, &client);
  const int width = client.right > 0 ? client.right : 1;
  const int height = client.bottom > 0 ? client.bottom : 1;
  HDC screen = ::GetDC(controller->view.hwnd);
  if (controller->frame == nullptr || controller->frame_width != width ||
      controller->frame_height != height) {
    if (controller->frame != nullptr) ::DeleteObject(controller->frame);
    controller->frame = ::CreateCompatibleBitmap(screen, width, height);
    controller->frame_width = width;
    controller->frame_height = height;
  }
  HDC dc = ::CreateCompatibleDC(screen);
  HGDIOBJ old_bitmap = ::SelectObject(dc, controller->frame);
  HBRUSH background = ::CreateSolidBrush(kBackground);
  RECT all{0, 0, width, height};
  ::FillRect(dc, &all, background);
  ::DeleteObject(background);
  ::SetBkMode(dc, TRANSPARENT);

  HFONT title_font = ::CreateFontW(-32, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                   DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
  HGDIOBJ old_font = ::SelectObject(dc, title_font);
  ::SetTextColor(dc, kTitleColor);
  RECT title_rect{24, 16, width - 24, 64};
  ::DrawTextW(dc, L"Tidewarden Launcher", -1, &title_rect, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);

  HFONT log_font = ::CreateFontW(-14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                 FIXED_PITCH | FF_MODERN, L"Consolas");
  ::SelectObject(dc, log_font);
  ::SetTextColor(dc, kTextColor);
  int y = 80;
  for (const std::wstring& line : controller->log) {
    RECT line_rect{24, y, width - 24, y + 18};
    ::DrawTextW(dc, line.c_str(), -1, &line_rect,
                DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    y += 18;
  }
  ::SelectObject(dc, old_font);
  ::DeleteObject(title_font);
  ::DeleteObject(log_font);
  ::SelectObject(dc, old_bitmap);
  ::DeleteDC(dc);
  ::ReleaseDC(controller->view.hwnd, screen);
  ::InvalidateRect(controller->view.hwnd, nullptr, FALSE);
}

void Frame(FlutterDesktopViewController* controller) {
  controller->frame_pending = false;
  Render(controller);
  ++controller->frames;

  FlutterDesktopNextFrameCallback callback = nullptr;
  void* user_data = nullptr;
  {
    World& world = World::Get();
    std::lock_guard<std::mutex> guard(world.mutex);
    FlutterDesktopEngine* engine = controller->engine;
    callback = engine->TakeNextFrameCallback(&user_data);
    world.Note("frame " + std::to_string(controller->frames));
    if (callback != nullptr) {
      HWND top = TopLevel(controller);
      world.Note(std::string("frame-callback top-level=") +
                 (top != nullptr && ::IsWindowVisible(top) ? "visible" : "hidden"));
    }
  }
  if (callback != nullptr) {
    dev_engine::CallHost("next-frame callback", [&] { callback(user_data); });
    Note("frame-callback-done " + DescribeTopLevel(TopLevel(controller)));
  }
  if (!controller->script_started) {
    controller->script_started = true;
    LoadScript(controller);
    ::PostMessageW(controller->view.hwnd, kStepMessage, 0, 0);
  }
}

std::string StateName(int32_t state) {
  switch (state) {
    case kDevEngineReplyPending: return "pending";
    case kDevEngineReplyAnswered: return "answered";
    case kDevEngineReplyUnhandled: return "unhandled";
    case kDevEngineReplyAbandoned: return "abandoned";
    default: return "none";
  }
}

void RunMessageStep(FlutterDesktopViewController* controller, const dev_engine::ScriptStep& step) {
  const int number = ++controller->messages_sent;
  Note("script send " + std::to_string(number) + " " + step.channel + " " + step.label +
       " bytes=" + dev_engine::Hex(step.message.data(), step.message.size()));
  const uint64_t id = DevEngineDeliverMessage(controller->engine, step.channel.c_str(),
                                              step.message.data(), step.message.size());
  DevEngineReplyInfo info{};
  std::vector<uint8_t> reply(1 << 16);
  DevEngineGetReply(id, &info, reply.data(), reply.size());
  if (info.size > reply.size()) {
    reply.resize(info.size);
    DevEngineGetReply(id, &info, reply.data(), reply.size());
  }
  reply.resize(std::min(reply.size(), info.size));
  const std::string decoded = dev_engine::DescribeReply(reply.data(), reply.size());
  Note("script reply " + std::to_string(number) + " " + step.channel + " " + step.label +
       " state=" + StateName(info.state) + " bytes=" + dev_engine::Hex(reply.data(), reply.size()) +
       " decoded=" + decoded);
  AddLog(controller, step.channel + " " + step.label + " -> " + decoded);
  if (!World::KeepHistory() && info.state != kDevEngineReplyPending) DevEngineForgetMessage(id);
}

size_t CountInTranscript(const std::string& needle) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  size_t count = 0;
  for (size_t at = world.transcript.find(needle); at != std::string::npos;
       at = world.transcript.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

void RunStep(FlutterDesktopViewController* controller, const dev_engine::ScriptStep& step) {
  using Kind = dev_engine::ScriptStep::Kind;
  HWND top = TopLevel(controller);
  switch (step.kind) {
    case Kind::kCall:
    case Kind::kRaw:
      RunMessageStep(controller, step);
      break;
    case Kind::kFontChange: {
      const size_t before = CountInTranscript("reload-system-fonts");
      ::SendMessageW(top, WM_FONTCHANGE, 0, 0);
      const size_t reloads = CountInTranscript("reload-system-fonts") - before;
      Note("script font-change fonts-reloaded=" + std::to_string(reloads));
      AddLog(controller, "WM_FONTCHANGE");
      break;
    }
    case Kind::kResize: {
      RECT before{};
      ::GetClientRect(controller->view.hwnd, &before);
      ::SetWindowPos(top, nullptr, 0, 0, step.numbers[0], step.numbers[1],
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      RECT view{}, client{};
      ::GetClientRect(controller->view.hwnd, &view);
      ::GetClientRect(top, &client);
      const bool follows = view.right == client.right && view.bottom == client.bottom;
      const bool unchanged = view.right == before.right && view.bottom == before.bottom;
      Note(std::string("script resize view=") +
           (follows && !unchanged ? "follows" : unchanged ? "unchanged" : "other") +
           " client=" + RectText(client) + " view=" + RectText(view));
      break;
    }
    case Kind::kDpiChanged: {
      RECT suggested{step.numbers[1], step.numbers[2], step.numbers[3], step.numbers[4]};
      ::SendMessageW(top, WM_DPICHANGED, MAKEWPARAM(step.numbers[0], step.numbers[0]),
                     reinterpret_cast<LPARAM>(&suggested));
      RECT window{};
      ::GetWindowRect(top, &window);
      Note("script dpi-changed window=" + RectText(window));
      break;
    }
    case Kind::kDestroyWaitsForEvent:
      controller->destroy_event = step.name;
      controller->destroy_wait_ms = step.numbers[0];
      Note("script destroy-waits-for-event " + step.name);
      break;
    case Kind::kPause:
      Note("script pause " + std::to_string(step.numbers[0]));
      break;
    case Kind::kStats: {
      // The launcher and this library share the process: these are the
      // launcher's figures, plus this library's own bookkeeping, which
      // DEV_ENGINE_HISTORY=off keeps from growing. Handles are counted by
      // probing handle values, since not every platform layer implements
      // GetProcessHandleCount; memory is the commit charge and working set.
      size_t handles = 0;
      for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++handles;
      }
      PROCESS_MEMORY_COUNTERS memory{};
      memory.cb = sizeof(memory);
      ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory));
      Note("script stats messages=" + std::to_string(controller->messages_sent) +
           " handles=" + std::to_string(handles) +
           " commit=" + std::to_string(memory.PagefileUsage) +
           " working-set=" + std::to_string(memory.WorkingSetSize));
      break;
    }
    case Kind::kHold:
      Note("script hold");
      break;
  }
}

void NextStep(FlutterDesktopViewController* controller) {
  if (controller->next_step < controller->steps.size()) {
    const dev_engine::ScriptStep& step = controller->steps[controller->next_step++];
    RunStep(controller, step);
    RequestFrame(controller);
    using Kind = dev_engine::ScriptStep::Kind;
    if (step.kind == Kind::kHold) {
      controller->next_step = controller->steps.size();
      controller->close_at_end = false;
      return;
    }
    if (step.kind == Kind::kPause) {
      ::SetTimer(controller->view.hwnd, kPauseTimer, static_cast<UINT>(step.numbers[0]), nullptr);
      return;
    }
    ::PostMessageW(controller->view.hwnd, kStepMessage, 0, 0);
    return;
  }
  if (controller->close_at_end) {
    controller->close_at_end = false;
    Note("script end");
    HWND top = TopLevel(controller);
    if (top != nullptr) ::PostMessageW(top, WM_CLOSE, 0, 0);
  }
}

LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* controller =
      reinterpret_cast<FlutterDesktopViewController*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (controller != nullptr) {
    switch (message) {
      case kRenderMessage:
        Frame(controller);
        return 0;
      case kStepMessage:
        NextStep(controller);
        return 0;
      case WM_TIMER:
        if (wparam == kPauseTimer) {
          ::KillTimer(window, kPauseTimer);
          NextStep(controller);
          return 0;
        }
        break;
      case WM_SIZE:
        RequestFrame(controller);
        return 0;
      case WM_ERASEBKGND:
        return 1;
      case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(window, &paint);
        if (controller->frame != nullptr) {
          HDC source = ::CreateCompatibleDC(dc);
          HGDIOBJ old = ::SelectObject(source, controller->frame);
          ::BitBlt(dc, 0, 0, controller->frame_width, controller->frame_height, source, 0, 0,
                   SRCCOPY);
          ::SelectObject(source, old);
          ::DeleteDC(source);
        }
        ::EndPaint(window, &paint);
        return 0;
      }
    }
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void RegisterClasses() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  HINSTANCE instance = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ViewProc), &instance);
  WNDCLASSW view{};
  view.lpfnWndProc = ViewProc;
  view.hInstance = instance;
  view.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  view.lpszClassName = kViewClass;
  ::RegisterClassW(&view);
  WNDCLASSW parking{};
  parking.lpfnWndProc = ::DefWindowProcW;
  parking.hInstance = instance;
  parking.lpszClassName = kParkingClass;
  ::RegisterClassW(&parking);
}

bool ParseClaim(UINT* message, LRESULT* result) {
  const std::string claim = EnvironmentValue("DEV_ENGINE_CLAIM");
  if (claim.empty()) return false;
  char* end = nullptr;
  *message = static_cast<UINT>(std::strtoul(claim.c_str(), &end, 0));
  *result = (*end == ':') ? static_cast<LRESULT>(std::strtoll(end + 1, nullptr, 0)) : 0;
  return true;
}


}  // namespace

extern "C" {

FlutterDesktopViewControllerRef
FlutterDesktopViewControllerCreate(int width, int height, FlutterDesktopEngineRef handle) {
  World& world = World::Get();
  {
    std::lock_guard<std::mutex> guard(world.mutex);
    FlutterDesktopEngine* engine = world.FindEngine(handle);
    world.Note("view-controller-create " + std::to_string(width) + "x" + std::to_string(height) +
               (engine != nullptr ? "" : " (unknown engine)"));
    if (engine == nullptr || !engine->alive) {
      world.Misuse(kDevEngineMisuseBadArguments, "ViewControllerCreate without a live engine");
      return nullptr;
    }
    if (EnvironmentValue("DEV_ENGINE_FAIL_VIEW_CONTROLLER") == "1") {
      // Failure mode: as an engine that cannot start. The engine stays with
      // its creator, as if never handed over.
      world.Note("view-controller-create failed (DEV_ENGINE_FAIL_VIEW_CONTROLLER)");
      return nullptr;
    }
    engine->owned_by_controller = true;
  }
  RegisterClasses();
  auto controller = std::make_unique<FlutterDesktopViewController>();
  controller->engine = handle;
  controller->parking = ::CreateWindowExW(0, kParkingClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                          nullptr, nullptr, nullptr);
  controller->view.hwnd =
      ::CreateWindowExW(0, kViewClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, width,
                        height, controller->parking, nullptr, nullptr, nullptr);
  ::SetWindowLongPtrW(controller->view.hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(controller.get()));
  AddLog(controller.get(), "Engine started.");
  newest_controller = controller.get();
  return controller.release();
}

void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller) {
  if (controller == nullptr) return;
  controller->ending = true;
  if (!controller->destroy_event.empty()) {
    tw::UniqueKernelHandle event(
        ::OpenEventW(SYNCHRONIZE, FALSE, Wide(controller->destroy_event).c_str()));
    const bool signalled =
        event && ::WaitForSingleObject(event.get(), static_cast<DWORD>(
                                                        controller->destroy_wait_ms)) ==
                     WAIT_OBJECT_0;
    Note("destroy-wait " + controller->destroy_event + (signalled ? " signalled" : " timeout"));
  }
  Note("view-controller-destroy");
  ::SetWindowLongPtrW(controller->view.hwnd, GWLP_USERDATA, 0);
  ::DestroyWindow(controller->view.hwnd);
  ::DestroyWindow(controller->parking);
  if (controller->frame != nullptr) ::DeleteObject(controller->frame);
  dev_engine::EndEngine(controller->engine);
  if (newest_controller == controller) newest_controller = nullptr;
  delete controller;
}

FlutterDesktopViewRef
FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller) {
  if (controller == nullptr) return nullptr;
  Note("get-view");
  return &controller->view;
}

void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller) {
  if (controller == nullptr) return;
  Note("force-redraw");
  RequestFrame(controller);
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND, UINT message, WPARAM, LPARAM,
    LRESULT* result) {
  if (controller == nullptr) return false;
  char text[64];
  if (controller->ending) {
    // The view tells its parent that it goes (WM_PARENTNOTIFY) from inside
    // the destruction; a host must not offer that to the controller.
    std::snprintf(text, sizeof text, "0x%X", message);
    World& world = World::Get();
    std::lock_guard<std::mutex> guard(world.mutex);
    world.Misuse(kDevEngineMisuseOfferedWhileEnding,
                 std::string("HandleTopLevelWindowProc offered ") + text +
                     " during controller destruction");
    return false;
  }
  std::snprintf(text, sizeof text, "offered 0x%X", message);
  Note(text);
  UINT claimed = 0;
  LRESULT claimed_result = 0;
  if (!ParseClaim(&claimed, &claimed_result) || message != claimed) return false;
  std::snprintf(text, sizeof text, "claimed 0x%X", message);
  Note(text);
  *result = claimed_result;
  return true;
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) {
  return view != nullptr ? view->hwnd : nullptr;
}

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  const std::string forced = EnvironmentValue("DEV_ENGINE_DPI");
  UINT dpi = 96;
  if (!forced.empty()) {
    dpi = static_cast<UINT>(std::strtoul(forced.c_str(), nullptr, 10));
    Note("dpi " + std::to_string(dpi) + " forced");
    return dpi;
  }
  UINT x = 96, y = 96;
  if (::GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &x, &y) == S_OK) dpi = x;
  Note("dpi " + std::to_string(dpi) + " monitor");
  return dpi;
}

DEV_ENGINE_API HWND DevEngineViewWindow(void) {
  return newest_controller != nullptr ? newest_controller->view.hwnd : nullptr;
}

void FlutterDesktopResyncOutputStreams() {
  // This library writes through the process's shared C runtime streams, so
  // it follows a console that the host reattached them to; nothing to do but
  // record the call.
  Note("resync-output-streams");
}

}  // extern "C"
