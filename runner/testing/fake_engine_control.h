// Test controls of the fake engine library that the shell's unit tests load
// in place of flutter_windows.dll.
//
// The fake records every call of the engine interface as one text line in a
// log (see fake_flutter_windows.cpp for the lines), answers with fixed
// handles, and lets a test force a DPI, make view-controller creation fail,
// claim one window message and fire the next-frame callback by hand. Its
// state lives inside the library: the log is copied out into the caller's
// buffer, never handed over as a C++ object.
#ifndef RUNNER_TESTING_FAKE_ENGINE_CONTROL_H_
#define RUNNER_TESTING_FAKE_ENGINE_CONTROL_H_

#include <stddef.h>
#include <windows.h>

#ifdef FAKE_ENGINE_IMPLEMENTATION
#define FAKE_ENGINE_API __declspec(dllexport)
#else
#define FAKE_ENGINE_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Clears the log, the next-frame registration and every setting (DPI 96,
// nothing fails, nothing claimed).
FAKE_ENGINE_API void FakeEngineReset();
FAKE_ENGINE_API void FakeEngineSetDpi(UINT dpi);
FAKE_ENGINE_API void FakeEngineFailViewController(bool fail);
// EngineCreate returns null.
FAKE_ENGINE_API void FakeEngineFailEngineCreate(bool fail);
// The view controller claims `message` (0: none) and answers `result`.
FAKE_ENGINE_API void FakeEngineClaimMessage(UINT message, LRESULT result);
// Runs the registered next-frame callback, as after a frame. The
// registration stays, so that a test can check what a second frame does;
// false when there is none.
FAKE_ENGINE_API bool FakeEngineRunNextFrame();
// Copies the log (lines ending in '\n') into `buffer`, NUL-terminated and
// truncated to `size`; returns the log's full length.
FAKE_ENGINE_API size_t FakeEngineLog(char* buffer, size_t size);
// The child window of the live view, or null.
FAKE_ENGINE_API HWND FakeEngineViewWindow();

#ifdef __cplusplus
}  // extern "C"

#include <string>

// The log as a string.
inline std::string FakeEngineLogText() {
  std::string text(FakeEngineLog(nullptr, 0) + 1, '\0');
  FakeEngineLog(text.data(), text.size());
  text.resize(text.size() - 1);
  return text;
}
#endif

#endif  // RUNNER_TESTING_FAKE_ENGINE_CONTROL_H_
