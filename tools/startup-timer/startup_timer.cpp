// Measures how long a GUI program takes from process creation until its
// first top-level window becomes visible, then closes that window and waits
// for the program to exit.
//
// usage: startup-timer [--runs N] [--workdir DIR] PROGRAM [ARGS...]
//
// Prints one line per run ("run 1: 412.3 ms to visible, exit 0") and a
// closing line with the median. Exit code 0 when every run showed a window
// and exited 0, 1 otherwise, 2 on a usage error.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "util/win_handles.h"

namespace {

struct Search {
  DWORD process_id;
  HWND found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM lparam) {
  auto* search = reinterpret_cast<Search*>(lparam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->process_id && IsWindowVisible(window) && GetParent(window) == nullptr) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
    } else if (c == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
      quoted.push_back(c);
      backslashes = 0;
      continue;
    } else {
      backslashes = 0;
    }
    quoted.push_back(c);
  }
  quoted.append(backslashes, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

// One run: the time to the first visible window in ms, or a negative value.
double RunOnce(const std::wstring& command_line, const wchar_t* workdir, DWORD* exit_code) {
  std::wstring mutable_line = command_line;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(/*lpApplicationName=*/nullptr, mutable_line.data(),
                      /*lpProcessAttributes=*/nullptr, /*lpThreadAttributes=*/nullptr,
                      /*bInheritHandles=*/FALSE, /*dwCreationFlags=*/0,
                      /*lpEnvironment=*/nullptr, workdir, &startup, &info)) {
    std::fprintf(stderr, "startup-timer: cannot start the program (error %lu)\n", GetLastError());
    return -1;
  }
  tw::UniqueKernelHandle process(info.hProcess);
  tw::UniqueKernelHandle thread(info.hThread);

  Search search = {info.dwProcessId, nullptr};
  double elapsed = -1;
  const ULONGLONG give_up = GetTickCount64() + 60000;
  while (GetTickCount64() < give_up) {
    EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) {
      LARGE_INTEGER now;
      QueryPerformanceCounter(&now);
      elapsed = Milliseconds(start, now);
      break;
    }
    if (WaitForSingleObject(process.get(), 1) == WAIT_OBJECT_0) break;
  }
  if (search.found != nullptr) PostMessageW(search.found, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), INFINITE);
  }
  GetExitCodeProcess(process.get(), exit_code);
  return elapsed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int runs = 5;
  const wchar_t* workdir = nullptr;
  int i = 1;
  for (; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, _wtoi(argv[++i]));
    } else if (std::wcscmp(argv[i], L"--workdir") == 0 && i + 1 < argc) {
      workdir = argv[++i];
    } else {
      break;
    }
  }
  if (i >= argc) {
    std::fprintf(stderr, "usage: startup-timer [--runs N] [--workdir DIR] PROGRAM [ARGS...]\n");
    return 2;
  }
  std::wstring command_line;
  for (int j = i; j < argc; ++j) {
    if (!command_line.empty()) command_line.push_back(L' ');
    command_line += QuoteArgument(argv[j]);
  }

  std::vector<double> times;
  bool all_ok = true;
  for (int run = 1; run <= runs; ++run) {
    DWORD exit_code = 1;
    const double ms = RunOnce(command_line, workdir, &exit_code);
    std::printf("run %d: %.1f ms to visible, exit %lu\n", run, ms, exit_code);
    if (ms < 0 || exit_code != 0) all_ok = false;
    if (ms >= 0) times.push_back(ms);
  }
  if (!times.empty()) {
    std::sort(times.begin(), times.end());
    std::printf("median: %.1f ms over %zu runs\n", times[times.size() / 2], times.size());
  }
  return all_ok ? 0 : 1;
}
