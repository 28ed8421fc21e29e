// The view of a view controller: the child window that shows the UI.
#ifndef RUNNER_WRAPPERS_FLUTTER_VIEW_H_
#define RUNNER_WRAPPERS_FLUTTER_VIEW_H_

#include "runner/flutter_windows.h"

namespace flutter {

// Does not own the view handle; the view controller that made it ends it.
class FlutterView {
 public:
  explicit FlutterView(FlutterDesktopViewRef view) : view_(view) {}
  virtual ~FlutterView() = default;

  FlutterView(const FlutterView&) = delete;
  FlutterView& operator=(const FlutterView&) = delete;

  // The view's child window.
  HWND GetHWND() { return FlutterDesktopViewGetHWND(view_); }

 private:
  FlutterDesktopViewRef view_;
};

}  // namespace flutter

#endif  // RUNNER_WRAPPERS_FLUTTER_VIEW_H_
