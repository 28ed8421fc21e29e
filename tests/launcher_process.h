// Runs the staged launcher as a user would, in a folder of its own, and
// collects what it leaves behind: exit code, standard error and the
// development engine's transcript.
#ifndef TESTS_LAUNCHER_PROCESS_H_
#define TESTS_LAUNCHER_PROCESS_H_

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace tw::test {

struct LauncherRun {
  bool started = false;
  bool timed_out = false;
  DWORD exit_code = 0;
  std::string standard_error;
  std::string transcript;
};

// A fresh folder for one case: the launcher and the development engine
// copied side by side, and data\ with flutter_assets\, icudtl.dat and app.so.
// `script` (may be empty) becomes the scripted UI in data\flutter_assets.
class LauncherFolder {
 public:
  LauncherFolder(const std::string& case_name, const std::string& script);

  const std::wstring& path() const { return path_; }
  bool ok() const { return ok_; }

  // A path inside the folder.
  std::wstring File(const std::wstring& relative) const { return path_ + L"\\" + relative; }

  // Starts tidewarden_launcher.exe from this folder with `arguments` (the
  // command-line text after the program name; empty for none) and
  // `environment` added to this process's, and waits for it to end.
  LauncherRun Run(const std::wstring& arguments,
                  const std::map<std::wstring, std::wstring>& environment = {},
                  DWORD timeout_ms = 60000) const;

 private:
  std::wstring path_;
  bool ok_ = false;
};

// Whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);

// The transcript lines that start with `prefix`.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix);

}  // namespace tw::test

#endif  // TESTS_LAUNCHER_PROCESS_H_
