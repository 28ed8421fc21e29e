// View side of the development library: view controller, view, DPI and
// output streams.
//
// This build carries no view yet: creating a view controller fails with a
// line on standard error, as the engine does when it cannot start, and every
// operation on a controller or view handle is reported, since none can have
// been issued.
#include <iostream>

#include "tools/flutter_windows/dev_state.h"

using dev_engine::World;

namespace {

void NoSuchHandle(const char* operation) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  world.Misuse(kDevEngineMisuseBadArguments,
               std::string(operation) + " on a handle this library never issued");
}

}  // namespace

extern "C" {

DEV_ENGINE_EXPORT FlutterDesktopViewControllerRef
FlutterDesktopViewControllerCreate(int width, int height, FlutterDesktopEngineRef engine) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  world.Note("view-controller-create " + std::to_string(width) + "x" + std::to_string(height) +
             (world.FindEngine(engine) != nullptr ? "" : " (unknown engine)"));
  std::cerr << "dev engine: this build has no view; ViewControllerCreate fails" << std::endl;
  return nullptr;
}

DEV_ENGINE_EXPORT void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef) {
  NoSuchHandle("ViewControllerDestroy");
}

DEV_ENGINE_EXPORT FlutterDesktopViewRef
FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef) {
  NoSuchHandle("ViewControllerGetView");
  return nullptr;
}

DEV_ENGINE_EXPORT void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef) {
  NoSuchHandle("ViewControllerForceRedraw");
}

DEV_ENGINE_EXPORT bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef, HWND, UINT, WPARAM, LPARAM, LRESULT*) {
  NoSuchHandle("ViewControllerHandleTopLevelWindowProc");
  return false;
}

DEV_ENGINE_EXPORT HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef) {
  NoSuchHandle("ViewGetHWND");
  return nullptr;
}

DEV_ENGINE_EXPORT UINT FlutterDesktopGetDpiForMonitor(HMONITOR) {
  // Every monitor is treated as 100 % until the view arrives.
  return 96;
}

DEV_ENGINE_EXPORT void FlutterDesktopResyncOutputStreams() {
  // This library writes through the process's shared C runtime streams, so
  // it follows a console that the host reattached them to; nothing to do but
  // record the call.
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  world.Note("resync-output-streams");
}

}  // extern "C"
