// Something that hands out plug-in registrars.
#ifndef RUNNER_WRAPPERS_PLUGIN_REGISTRY_H_
#define RUNNER_WRAPPERS_PLUGIN_REGISTRY_H_

#include <string>

#include "runner/flutter_windows.h"

namespace flutter {

class PluginRegistry {
 public:
  virtual ~PluginRegistry() = default;

  // The registrar for the plug-in named `plugin_name` (UTF-8), or null. The
  // registrar belongs to the engine.
  virtual FlutterDesktopPluginRegistrarRef GetPluginRegistrar(const std::string& plugin_name) = 0;
};

}  // namespace flutter

#endif  // RUNNER_WRAPPERS_PLUGIN_REGISTRY_H_
