#include "runner/wrappers/flutter_view_controller.h"

#include <iostream>

#include "runner/wrappers/engine_handles.h"

namespace flutter {

FlutterViewController::FlutterViewController(int width, int height,
                                             const tw::runner::EngineProject& project) {
  engine_ = std::make_shared<FlutterEngine>(project);
  tw::runner::UniqueViewController controller(
      FlutterDesktopViewControllerCreate(width, height, engine_->TransferEngineOwnership()));
  if (!controller) {
    std::cerr << "Failed to create view controller." << std::endl;
    return;
  }
  view_ = std::make_unique<FlutterView>(FlutterDesktopViewControllerGetView(controller.get()));
  controller_ = controller.release();
}

FlutterViewController::~FlutterViewController() {
  // The controller ends the view and the engine; the wrappers released after
  // it only clear their fields.
  if (controller_ != nullptr) FlutterDesktopViewControllerDestroy(controller_);
  view_.reset();
  engine_.reset();
}

void FlutterViewController::ForceRedraw() { FlutterDesktopViewControllerForceRedraw(controller_); }

std::optional<LRESULT> FlutterViewController::HandleTopLevelWindowProc(HWND window, UINT message,
                                                                       WPARAM wparam,
                                                                       LPARAM lparam) {
  LRESULT result = 0;
  if (FlutterDesktopViewControllerHandleTopLevelWindowProc(controller_, window, message, wparam,
                                                           lparam, &result)) {
    return result;
  }
  return std::nullopt;
}

}  // namespace flutter
