// A recording stand-in for the engine library, for the shell's unit tests.
//
// Log lines, one per call:
//   EngineCreate assets=<a> icu=<i> aot=<o> entry="<e>" argc=<n> argv=null|["x","y"] options=<1>,<2>
//   EngineGetMessenger <engine|null>
//   EngineDestroy <engine|null>
//   EngineGetPluginRegistrar <engine|null> <name>
//   EngineReloadSystemFonts
//   EngineSetNextFrameCallback
//   ViewControllerCreate <w>x<h> <engine|null>      (then "-> null" on failure)
//   ViewControllerGetView
//   ViewControllerDestroy
//   SendParentNotify                                (the view, as it goes, to its parent)
//   ViewControllerForceRedraw
//   HandleTopLevelWindowProc 0x<message>            (" during controller destruction" when
//                                                    offered from inside ViewControllerDestroy)
//   GetDpiForMonitor
//   MessengerSetCallback <channel> <set|clear>
// Message traffic (send, respond, lock, references) is not logged.
#define FAKE_ENGINE_IMPLEMENTATION
#include "runner/testing/fake_engine_control.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "runner/flutter_windows.h"

namespace {

// Distinct addresses that serve as the opaque handles.
struct FakeHandle {
  int unused;
};
FakeHandle engine_object;
FakeHandle messenger_object;
FakeHandle controller_object;
FakeHandle view_object;
FakeHandle registrar_object;

FlutterDesktopEngineRef EngineHandle() {
  return reinterpret_cast<FlutterDesktopEngineRef>(&engine_object);
}

std::string log_text;
UINT forced_dpi = 96;
bool fail_view_controller = false;
bool fail_engine_create = false;
UINT claimed_message = 0;
LRESULT claimed_result = 0;
FlutterDesktopNextFrameCallback next_frame = nullptr;
void* next_frame_user_data = nullptr;
HWND view_window = nullptr;
bool destroying_controller = false;

void Log(const std::string& line) { log_text += line + "\n"; }

std::string Narrow(const wchar_t* text) {
  if (text == nullptr) return "(null)";
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

std::string EngineName(FlutterDesktopEngineRef engine) {
  return engine == EngineHandle() ? "engine" : engine == nullptr ? "null" : "unknown";
}

}  // namespace

extern "C" {

void FakeEngineReset() {
  log_text.clear();
  forced_dpi = 96;
  fail_view_controller = false;
  fail_engine_create = false;
  claimed_message = 0;
  claimed_result = 0;
  next_frame = nullptr;
  next_frame_user_data = nullptr;
  destroying_controller = false;
}

void FakeEngineSetDpi(UINT dpi) { forced_dpi = dpi; }
void FakeEngineFailViewController(bool fail) { fail_view_controller = fail; }
void FakeEngineFailEngineCreate(bool fail) { fail_engine_create = fail; }

void FakeEngineClaimMessage(UINT message, LRESULT result) {
  claimed_message = message;
  claimed_result = result;
}

bool FakeEngineRunNextFrame() {
  if (next_frame == nullptr) return false;
  next_frame(next_frame_user_data);
  return true;
}

size_t FakeEngineLog(char* buffer, size_t size) {
  if (buffer != nullptr && size > 0) {
    const size_t n = log_text.size() < size - 1 ? log_text.size() : size - 1;
    std::memcpy(buffer, log_text.data(), n);
    buffer[n] = '\0';
  }
  return log_text.size();
}

HWND FakeEngineViewWindow() { return view_window; }

// Engine.

__declspec(dllexport) FlutterDesktopEngineRef
FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* properties) {
  std::ostringstream line;
  line << "EngineCreate assets=" << Narrow(properties->assets_path)
       << " icu=" << Narrow(properties->icu_data_path)
       << " aot=" << Narrow(properties->aot_library_path) << " entry=";
  if (properties->dart_entrypoint == nullptr) {
    line << "null";
  } else {
    line << '"' << properties->dart_entrypoint << '"';
  }
  line << " argc=" << properties->dart_entrypoint_argc << " argv=";
  if (properties->dart_entrypoint_argv == nullptr) {
    line << "null";
  } else {
    line << "[";
    for (int i = 0; i < properties->dart_entrypoint_argc; ++i) {
      line << (i > 0 ? "," : "") << '"' << properties->dart_entrypoint_argv[i] << '"';
    }
    line << "]";
  }
  line << " options=" << properties->engine_option_1 << "," << properties->engine_option_2;
  Log(line.str());
  return fail_engine_create ? nullptr : EngineHandle();
}

__declspec(dllexport) bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  Log("EngineDestroy " + EngineName(engine));
  return true;
}

__declspec(dllexport) FlutterDesktopMessengerRef
FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine) {
  Log("EngineGetMessenger " + EngineName(engine));
  return reinterpret_cast<FlutterDesktopMessengerRef>(&messenger_object);
}

__declspec(dllexport) FlutterDesktopPluginRegistrarRef
FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine, const char* name) {
  Log("EngineGetPluginRegistrar " + EngineName(engine) + " " + name);
  return reinterpret_cast<FlutterDesktopPluginRegistrarRef>(&registrar_object);
}

__declspec(dllexport) void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef) {
  Log("EngineReloadSystemFonts");
}

__declspec(dllexport) void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef, FlutterDesktopNextFrameCallback callback, void* user_data) {
  Log("EngineSetNextFrameCallback");
  next_frame = callback;
  next_frame_user_data = user_data;
}

// View controller and view.

__declspec(dllexport) FlutterDesktopViewControllerRef
FlutterDesktopViewControllerCreate(int width, int height, FlutterDesktopEngineRef engine) {
  Log("ViewControllerCreate " + std::to_string(width) + "x" + std::to_string(height) + " " +
      EngineName(engine));
  if (fail_view_controller) {
    Log("-> null");
    return nullptr;
  }
  view_window = ::CreateWindowExW(0, L"STATIC", L"fake view", WS_POPUP, 0, 0, width, height,
                                  nullptr, nullptr, nullptr, nullptr);
  return reinterpret_cast<FlutterDesktopViewControllerRef>(&controller_object);
}

__declspec(dllexport) void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef) {
  Log("ViewControllerDestroy");
  destroying_controller = true;
  if (view_window != nullptr) {
    // The real view is a child window, and a child that is destroyed tells
    // its parent with WM_PARENTNOTIFY, from inside this call. The stand-in
    // is a re-parented pop-up, which the system does not do that for.
    HWND parent = ::GetAncestor(view_window, GA_PARENT);
    if (parent != nullptr && parent != ::GetDesktopWindow() && ::IsWindow(parent)) {
      Log("SendParentNotify");
      ::SendMessageW(parent, WM_PARENTNOTIFY, MAKEWPARAM(WM_DESTROY, 0),
                     reinterpret_cast<LPARAM>(view_window));
    }
    ::DestroyWindow(view_window);
  }
  view_window = nullptr;
  next_frame = nullptr;
  destroying_controller = false;
}

__declspec(dllexport) FlutterDesktopViewRef
FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef) {
  Log("ViewControllerGetView");
  return reinterpret_cast<FlutterDesktopViewRef>(&view_object);
}

__declspec(dllexport) void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef) {
  Log("ViewControllerForceRedraw");
}

__declspec(dllexport) bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef, HWND, UINT message, WPARAM, LPARAM, LRESULT* result) {
  char line[96];
  std::snprintf(line, sizeof(line), "HandleTopLevelWindowProc 0x%X%s", message,
                destroying_controller ? " during controller destruction" : "");
  Log(line);
  if (claimed_message != 0 && message == claimed_message) {
    *result = claimed_result;
    return true;
  }
  return false;
}

__declspec(dllexport) HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef) { return view_window; }

__declspec(dllexport) UINT FlutterDesktopGetDpiForMonitor(HMONITOR) {
  Log("GetDpiForMonitor");
  return forced_dpi;
}

__declspec(dllexport) void FlutterDesktopResyncOutputStreams() { Log("ResyncOutputStreams"); }

// Messenger: registrations are logged; traffic is accepted and dropped.

__declspec(dllexport) void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef,
                                                              const char* channel,
                                                              FlutterDesktopMessageCallback callback,
                                                              void*) {
  Log(std::string("MessengerSetCallback ") + channel + (callback != nullptr ? " set" : " clear"));
}

__declspec(dllexport) bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef, const char*,
                                                       const uint8_t*, size_t) {
  return true;
}

__declspec(dllexport) bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef,
                                                                const char*, const uint8_t*, size_t,
                                                                FlutterDesktopBinaryReply, void*) {
  return false;
}

__declspec(dllexport) void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef, const FlutterDesktopMessageResponseHandle*, const uint8_t*,
    size_t) {}

__declspec(dllexport) FlutterDesktopMessengerRef
FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  return messenger;
}

__declspec(dllexport) void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef) {}

__declspec(dllexport) bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef) {
  return true;
}

__declspec(dllexport) FlutterDesktopMessengerRef
FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  return messenger;
}

__declspec(dllexport) void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef) {}

}  // extern "C"
