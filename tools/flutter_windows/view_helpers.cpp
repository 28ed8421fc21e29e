// Helpers of the development engine's view: transcript lines, text and
// path conversions, the shown log, the top-level window.
#include <windows.h>

#include <string>

#include "tools/flutter_windows/view_state.h"
#include "util/utf.h"

namespace dev_engine {
namespace {

constexpr size_t kShownLogLines = 40;

}  // namespace

void NoteLine(const std::string& line) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  world.Note(line);
}

std::string RectText(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

std::wstring ResolvePath(const std::wstring& path) {
  if (path.size() >= 2 && (path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\'))) return path;
  wchar_t module[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring folder(module);
  folder.resize(folder.find_last_of(L'\\') + 1);
  return folder + path;
}

void AddLog(FlutterDesktopViewController* controller, const std::string& line) {
  controller->log.push_back(tw::Utf8ToUtf16Lossy(line));
  while (controller->log.size() > kShownLogLines) controller->log.pop_front();
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
  return "class=" + tw::WideToUtf8Lossy(class_name) + " title=" + tw::WideToUtf8Lossy(title) +
         " visible=" + (::IsWindowVisible(window) ? "1" : "0") + " window=" + RectText(rect);
}

void RequestFrame(FlutterDesktopViewController* controller) {
  if (controller->frame_pending) return;
  controller->frame_pending = true;
  ::PostMessageW(controller->view.hwnd, kRenderMessage, 0, 0);
}

}  // namespace dev_engine
