// Creates and owns a view controller of the engine library: the engine it
// was built with runs inside a child window (the view).
//
// When the library cannot create the controller, construction writes
// "Failed to create view controller." to standard error and GetView returns
// null; the object can still be destroyed safely.
//
// Thread: the window thread.
#ifndef RUNNER_WRAPPERS_FLUTTER_VIEW_CONTROLLER_H_
#define RUNNER_WRAPPERS_FLUTTER_VIEW_CONTROLLER_H_

#include <windows.h>

#include <memory>
#include <optional>

#include "runner/flutter_windows.h"
#include "runner/wrappers/engine_project.h"
#include "runner/wrappers/flutter_engine.h"
#include "runner/wrappers/flutter_view.h"

namespace flutter {

class FlutterViewController {
 public:
  // `width` and `height` are the view's size in physical pixels. The engine
  // keeps pointers into `project`'s strings: `project` must outlive this
  // controller.
  FlutterViewController(int width, int height, const tw::runner::EngineProject& project);
  virtual ~FlutterViewController();

  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  // The engine; owned by this controller.
  FlutterEngine* GetEngine() { return engine_.get(); }

  // The view, or null when the controller could not be created.
  FlutterView* GetView() { return view_.get(); }

  // Asks the engine for a frame.
  void ForceRedraw();

  // Offers a message of the top-level window to the engine. Holds the
  // engine's result when the engine handled the message; empty when the
  // caller should handle it.
  std::optional<LRESULT> HandleTopLevelWindowProc(HWND window, UINT message, WPARAM wparam,
                                                  LPARAM lparam);

 private:
  FlutterDesktopViewControllerRef controller_ = nullptr;
  std::shared_ptr<FlutterEngine> engine_;
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter

#endif  // RUNNER_WRAPPERS_FLUTTER_VIEW_CONTROLLER_H_
