#include "runner/wrappers/flutter_engine.h"

#include <iostream>
#include <utility>
#include <vector>

#include "runner/callback_exception.h"
#include "runner/wrappers/engine_handles.h"

namespace flutter {

FlutterEngine::FlutterEngine(const tw::runner::EngineProject& project) {
  FlutterDesktopEngineProperties properties{};
  properties.assets_path = project.assets_folder.c_str();
  properties.icu_data_path = project.icu_data_file.c_str();
  properties.aot_library_path = project.aot_library_file.c_str();
  // c_str() of an empty string is "", never null.
  properties.dart_entrypoint = project.entry_point.c_str();

  // Only the pointer array is built for this call; the strings it points to
  // are the project's.
  std::vector<const char*> arguments;
  arguments.reserve(project.entry_point_arguments.size());
  for (const std::string& argument : project.entry_point_arguments) {
    arguments.push_back(argument.c_str());
  }
  properties.dart_entrypoint_argc = static_cast<int32_t>(arguments.size());
  properties.dart_entrypoint_argv = arguments.empty() ? nullptr : arguments.data();
  properties.engine_option_1 = project.engine_option_1;
  properties.engine_option_2 = project.engine_option_2;

  tw::runner::UniqueEngine engine(FlutterDesktopEngineCreate(&properties));
  // A null engine is passed on: what its messenger is rests with the library.
  messenger_ =
      std::make_unique<BinaryMessengerImpl>(FlutterDesktopEngineGetMessenger(engine.get()));
  engine_ = engine.release();
}

FlutterEngine::~FlutterEngine() {
  if (engine_ != nullptr && owns_engine_) FlutterDesktopEngineDestroy(engine_);
  engine_ = nullptr;
  next_frame_callback_ = nullptr;
  messenger_.reset();
}

BinaryMessenger* FlutterEngine::GetMessenger() { return messenger_.get(); }

FlutterDesktopPluginRegistrarRef FlutterEngine::GetPluginRegistrar(const std::string& plugin_name) {
  if (engine_ == nullptr) {
    std::cerr << "Cannot get plugin registrar on an engine that isn't running; call Run first."
              << std::endl;
    return nullptr;
  }
  return FlutterDesktopEngineGetPluginRegistrar(engine_, plugin_name.c_str());
}

void FlutterEngine::ReloadSystemFonts() { FlutterDesktopEngineReloadSystemFonts(engine_); }

void FlutterEngine::SetNextFrameCallback(std::function<void()> callback) {
  next_frame_callback_ = std::move(callback);
  FlutterDesktopEngineSetNextFrameCallback(engine_, &FlutterEngine::OnNextFrame, this);
}

void FlutterEngine::OnNextFrame(void* user_data) noexcept {
  auto* self = static_cast<FlutterEngine*>(user_data);
  // Taken out before it runs, so that the callable may register a new
  // callback without destroying itself mid-call.
  std::function<void()> callback = std::move(self->next_frame_callback_);
  self->next_frame_callback_ = nullptr;
  try {
    if (callback) callback();
  } catch (...) {
    tw::runner::ReportCallbackException("next-frame callback");
  }
}

FlutterDesktopEngineRef FlutterEngine::TransferEngineOwnership() {
  owns_engine_ = false;
  return engine_;
}

}  // namespace flutter
