// Process entry of the launcher.
#include <windows.h>
#include <objbase.h>

#include <string>
#include <utility>
#include <vector>

#include "runner/command_line.h"
#include "runner/console.h"
#include "runner/flutter_window.h"
#include "runner/wrappers/engine_project.h"

namespace {

using tw::runner::EngineProject;
using tw::runner::FlutterWindow;
using tw::runner::Win32Window;

constexpr int kExitOk = 0;
constexpr int kExitCreateFailed = 1;

// The engine library resolves these relative to the executable.
EngineProject MakeProject(const std::wstring& data_folder) {
  EngineProject project;
  project.assets_folder = data_folder + L"\\flutter_assets";
  project.icu_data_file = data_folder + L"\\icudtl.dat";
  project.aot_library_file = data_folder + L"\\app.so";
  return project;
}

}  // namespace

int APIENTRY wWinMain(HINSTANCE /*instance*/, HINSTANCE /*prev*/, wchar_t* /*command_line*/,
                      int /*show_command*/) {
  tw::runner::SetUpConsole();

  ::CoInitializeEx(/*pvReserved=*/nullptr, COINIT_APARTMENTTHREADED);

  EngineProject project = MakeProject(L"data");
  project.entry_point_arguments = tw::runner::ReadCommandLineArguments();

  int exit_code = kExitOk;
  {
    FlutterWindow window(project);
    if (!window.Create(L"Tidewarden Launcher", Win32Window::Point{10, 10},
                       Win32Window::Size{1280, 720})) {
      exit_code = kExitCreateFailed;
    } else {
      window.SetQuitWhenClosed(true);
      MSG message;
      while (::GetMessageW(&message, /*hWnd=*/nullptr, /*wMsgFilterMin=*/0,
                           /*wMsgFilterMax=*/0)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
      ::CoUninitialize();
    }
  }  // The window object goes here, and with the last one the window class.
  return exit_code;
}
