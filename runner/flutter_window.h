// The launcher's only top-level window: runs the engine and its view inside
// a Win32Window and serves the UI's two native channels.
//
// Once the native window exists, OnCreate starts the engine and view through
// a view controller, binds "fernbrook/security" and "tidewarden/discord_rpc",
// adopts the view as content and shows the window when the engine has drawn
// its first frame. Every message is offered to the engine first. When the
// native window goes, the Discord connection is closed before the engine is
// torn down.
//
// Thread: the window thread.
#ifndef RUNNER_FLUTTER_WINDOW_H_
#define RUNNER_FLUTTER_WINDOW_H_

#include <memory>

#include "runner/win32_window.h"
#include "runner/wrappers/engine_project.h"
#include "runner/wrappers/flutter_view_controller.h"

namespace tw::runner {

class FlutterWindow : public Win32Window {
 public:
  // Keeps its own copy of `project`, which the engine refers to.
  explicit FlutterWindow(const EngineProject& project);
  ~FlutterWindow() override;

 protected:
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) override;
  bool OnCreate() override;
  void OnDestroy() override;

 private:
  EngineProject project_;
  std::unique_ptr<flutter::FlutterViewController> view_controller_;
};

}  // namespace tw::runner

#endif  // RUNNER_FLUTTER_WINDOW_H_
