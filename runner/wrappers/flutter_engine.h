// An owning wrapper of an engine of the engine library and of its messenger.
//
// Created as a shared object; the view controller that runs the engine holds
// the only reference. The wrapper destroys the engine when it is destructed,
// unless the engine's ownership was transferred (TransferEngineOwnership), in
// which case the new owner ends it and the wrapper only clears its fields.
//
// Thread: the window thread.
#ifndef RUNNER_WRAPPERS_FLUTTER_ENGINE_H_
#define RUNNER_WRAPPERS_FLUTTER_ENGINE_H_

#include <functional>
#include <memory>
#include <string>

#include "channels/binary_messenger.h"
#include "runner/flutter_windows.h"
#include "runner/wrappers/engine_project.h"
#include "runner/wrappers/plugin_registry.h"

namespace flutter {

class FlutterEngine : public PluginRegistry {
 public:
  // Creates the engine from `project`. The engine keeps pointers into
  // `project`'s strings: `project` must outlive the engine.
  explicit FlutterEngine(const tw::runner::EngineProject& project);
  ~FlutterEngine() override;

  FlutterEngine(const FlutterEngine&) = delete;
  FlutterEngine& operator=(const FlutterEngine&) = delete;

  // The engine's messenger; owned by this wrapper.
  BinaryMessenger* GetMessenger();

  // Null, with a line on standard error, when there is no engine.
  FlutterDesktopPluginRegistrarRef GetPluginRegistrar(const std::string& plugin_name) override;

  // Makes the engine reread the system's fonts.
  void ReloadSystemFonts();

  // Runs `callback` once, on the window thread, after the engine's next
  // frame. A callback registered earlier and not yet run is dropped.
  void SetNextFrameCallback(std::function<void()> callback);

  // Hands the engine handle to a new owner; this wrapper keeps using it but
  // no longer destroys it.
  FlutterDesktopEngineRef TransferEngineOwnership();

 private:
  // The library's next-frame callback. An exception from the callable is
  // reported on standard error ("Error: exception in next-frame callback:
  // <what>") and never reaches the engine.
  static void OnNextFrame(void* user_data) noexcept;

  FlutterDesktopEngineRef engine_ = nullptr;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  bool owns_engine_ = true;
  std::function<void()> next_frame_callback_;
};

}  // namespace flutter

#endif  // RUNNER_WRAPPERS_FLUTTER_ENGINE_H_
