// The view side of the development engine, shared by its files: the view
// controller record and what the window procedure (view.cpp), the frame
// renderer (frame_renderer.cpp), the script player (script_player.cpp) and
// the helpers (view_helpers.cpp) offer each other. Windows only.
#ifndef TOOLS_FLUTTER_WINDOWS_VIEW_STATE_H_
#define TOOLS_FLUTTER_WINDOWS_VIEW_STATE_H_

#include <windows.h>

#include <deque>
#include <string>
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
  tw::UniqueBitmap frame;  // the last frame drawn
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

namespace dev_engine {

// Posted to the view: draw a frame; play the next script step.
constexpr UINT kRenderMessage = WM_APP + 0x31;
constexpr UINT kStepMessage = WM_APP + 0x32;
// The view's timer of a script pause.
constexpr UINT_PTR kPauseTimer = 0x7057;

// view_helpers.cpp

// Appends one line to the transcript, taking the World mutex.
void NoteLine(const std::string& line);
std::string RectText(const RECT& r);
// Relative paths are taken from the executable's folder, as the engine
// does, so that the launcher finds its data whatever the working folder.
std::wstring ResolvePath(const std::wstring& path);
// Adds a line to the log the view shows, dropping the oldest beyond a screen.
void AddLog(FlutterDesktopViewController* controller, const std::string& line);
// The top-level window the host put the view in, or null while parked.
HWND TopLevel(FlutterDesktopViewController* controller);
std::string DescribeTopLevel(HWND window);
// Asks for a frame, once until it is drawn.
void RequestFrame(FlutterDesktopViewController* controller);

// frame_renderer.cpp

// Draws the launcher-like surface into the off-screen frame.
void Render(FlutterDesktopViewController* controller);

// script_player.cpp

// Loads the scripted UI: the file named by an entry-point argument
// "--dev-ui-script=<path>", else dev_ui_script.txt in the assets folder.
// Without either the UI stays open for a person to look at.
void LoadScript(FlutterDesktopViewController* controller);
// Plays the next step, then posts the one after (or waits, holds, or asks
// the top-level window to close at the end).
void NextStep(FlutterDesktopViewController* controller);

}  // namespace dev_engine

#endif  // TOOLS_FLUTTER_WINDOWS_VIEW_STATE_H_
