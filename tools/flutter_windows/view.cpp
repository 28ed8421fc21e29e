// View side of the development library: the view controller that takes over
// an engine and shows it in a real child window, its window procedure, DPI
// and output streams.
//
// A frame is drawn into an off-screen bitmap whenever a redraw is asked for
// (also while the top-level window is still hidden, as a real engine renders
// to its surface), then shown by WM_PAINT. After each frame the waiting
// next-frame callback, if any, runs once on the window thread. After the
// first frame the scripted UI plays its steps (script_player.cpp).
#include <windows.h>
#include <shellscalingapi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "tools/flutter_windows/view_state.h"
#include "util/utf.h"
#include "util/win_handles.h"

namespace {

using dev_engine::AddLog;
using dev_engine::CallHost;
using dev_engine::DescribeTopLevel;
using dev_engine::EndEngine;
using dev_engine::EnvironmentValue;
using dev_engine::kPauseTimer;
using dev_engine::kRenderMessage;
using dev_engine::kStepMessage;
using dev_engine::LoadScript;
using dev_engine::NextStep;
using dev_engine::NoteLine;
using dev_engine::Render;
using dev_engine::RequestFrame;
using dev_engine::TopLevel;
using dev_engine::World;

constexpr wchar_t kViewClass[] = L"DEV_ENGINE_VIEW";
constexpr wchar_t kParkingClass[] = L"DEV_ENGINE_PARKING";

// The view controller created last, while it lives (DevEngineViewWindow).
FlutterDesktopViewController* newest_controller = nullptr;

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
    CallHost("next-frame callback", [&] { callback(user_data); });
    NoteLine("frame-callback-done " + DescribeTopLevel(TopLevel(controller)));
  }
  if (!controller->script_started) {
    controller->script_started = true;
    LoadScript(controller);
    ::PostMessageW(controller->view.hwnd, kStepMessage, 0, 0);
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
        if (controller->frame) {
          tw::UniqueMemoryDc source(::CreateCompatibleDC(dc));
          tw::GdiSelection frame(source.get(), controller->frame.get());
          ::BitBlt(dc, 0, 0, controller->frame_width, controller->frame_height, source.get(), 0, 0,
                   SRCCOPY);
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
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
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

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(int width, int height,
                                                                   FlutterDesktopEngineRef handle) {
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

void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller) {
  if (controller == nullptr) return;
  controller->ending = true;
  if (!controller->destroy_event.empty()) {
    tw::UniqueKernelHandle event(
        ::OpenEventW(SYNCHRONIZE, FALSE, tw::Utf8ToUtf16Lossy(controller->destroy_event).c_str()));
    const bool signalled =
        event && ::WaitForSingleObject(
                     event.get(), static_cast<DWORD>(controller->destroy_wait_ms)) == WAIT_OBJECT_0;
    NoteLine("destroy-wait " + controller->destroy_event + (signalled ? " signalled" : " timeout"));
  }
  NoteLine("view-controller-destroy");
  ::SetWindowLongPtrW(controller->view.hwnd, GWLP_USERDATA, 0);
  ::DestroyWindow(controller->view.hwnd);
  ::DestroyWindow(controller->parking);
  EndEngine(controller->engine);
  if (newest_controller == controller) newest_controller = nullptr;
  delete controller;
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller) {
  if (controller == nullptr) return nullptr;
  NoteLine("get-view");
  return &controller->view;
}

void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef controller) {
  if (controller == nullptr) return;
  NoteLine("force-redraw");
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
    world.Misuse(
        kDevEngineMisuseOfferedWhileEnding,
        std::string("HandleTopLevelWindowProc offered ") + text + " during controller destruction");
    return false;
  }
  std::snprintf(text, sizeof text, "offered 0x%X", message);
  NoteLine(text);
  UINT claimed = 0;
  LRESULT claimed_result = 0;
  if (!ParseClaim(&claimed, &claimed_result) || message != claimed) return false;
  std::snprintf(text, sizeof text, "claimed 0x%X", message);
  NoteLine(text);
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
    NoteLine("dpi " + std::to_string(dpi) + " forced");
    return dpi;
  }
  UINT x = 96, y = 96;
  if (::GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &x, &y) == S_OK) dpi = x;
  NoteLine("dpi " + std::to_string(dpi) + " monitor");
  return dpi;
}

DEV_ENGINE_API HWND DevEngineViewWindow(void) {
  return newest_controller != nullptr ? newest_controller->view.hwnd : nullptr;
}

void FlutterDesktopResyncOutputStreams() {
  // This library writes through the process's shared C runtime streams, so
  // it follows a console that the host reattached them to; nothing to do but
  // record the call.
  NoteLine("resync-output-streams");
}

}  // extern "C"