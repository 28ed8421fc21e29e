// Support for the shell's tests, which run against the development engine
// (tools/flutter_windows) loaded from the test's own folder.
//
// DevEngineSession is the fixture: it clears the engine's transcript and
// misuse counts before each test and, after it, fails the test for every
// misuse of the engine interface it did not expect. EngineSetting switches
// one of the engine's DEV_ENGINE_* settings for its lifetime (the engine reads
// them from the process environment at each call). DataProject is the
// project the tests start the engine with.
#ifndef RUNNER_TESTING_DEV_ENGINE_SESSION_H_
#define RUNNER_TESTING_DEV_ENGINE_SESSION_H_

#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner/wrappers/engine_project.h"
#include "tools/flutter_windows/dev_engine.h"

namespace tw::runner::test {

// The engine's transcript since the last reset.
inline std::string Transcript() {
  std::string text(DevEngineTranscript(nullptr, 0) + 1, '\0');
  text.resize(DevEngineTranscript(text.data(), text.size()));
  return text;
}

inline std::vector<std::string> TranscriptLines() {
  std::vector<std::string> lines;
  const std::string text = Transcript();
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// Sets an environment variable of the process, and removes it again.
class EngineSetting {
 public:
  EngineSetting(const char* name, const char* value) : name_(name) {
    ::SetEnvironmentVariableA(name, value);
  }
  ~EngineSetting() { ::SetEnvironmentVariableA(name_.c_str(), nullptr); }
  EngineSetting(const EngineSetting&) = delete;
  EngineSetting& operator=(const EngineSetting&) = delete;

 private:
  std::string name_;
};

// The project of a launcher with its data folder beside it, in the layout of
// the release folder.
inline EngineProject DataProject() {
  EngineProject project;
  project.assets_folder = L"data\\flutter_assets";
  project.icu_data_file = L"data\\icudtl.dat";
  project.aot_library_file = L"data\\app.so";
  return project;
}

class DevEngineSession : public ::testing::Test {
 protected:
  void SetUp() override { DevEngineReset(); }
  void TearDown() override {
    EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseAny), expected_misuse_) << Transcript();
  }

  // Misuse the test provokes on purpose.
  size_t expected_misuse_ = 0;
};

}  // namespace tw::runner::test

#endif  // RUNNER_TESTING_DEV_ENGINE_SESSION_H_
