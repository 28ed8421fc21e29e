// What an engine is started with.
#ifndef RUNNER_WRAPPERS_ENGINE_PROJECT_H_
#define RUNNER_WRAPPERS_ENGINE_PROJECT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace tw::runner {

// A plain value, copied whole by whoever keeps it. The engine is handed
// pointers into the copy it was created from, so that copy must outlive the
// engine.
struct EngineProject {
  std::wstring assets_folder;                      // folder of the application's assets
  std::wstring icu_data_file;                      // the ICU data file
  std::wstring aot_library_file;                   // the application's compiled library
  std::string entry_point;                         // UTF-8; empty for the default
  std::vector<std::string> entry_point_arguments;  // UTF-8, handed to the entry point
  int32_t engine_option_1 = 0;                     // passed through
  int32_t engine_option_2 = 0;                     // passed through
};

}  // namespace tw::runner

#endif  // RUNNER_WRAPPERS_ENGINE_PROJECT_H_
