#include "tests/launcher_process.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "testing/machine_state_lock.h"
#include "util/win_handles.h"

namespace tw::test {
namespace {

namespace fs = std::filesystem;

fs::path TestFolder() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(path).parent_path();
}

// This process's environment with `extra` set on top, as a block for
// CreateProcessW.
std::wstring EnvironmentBlock(const std::map<std::wstring, std::wstring>& extra) {
  std::map<std::wstring, std::wstring> variables;
  wchar_t* strings = ::GetEnvironmentStringsW();
  for (const wchar_t* at = strings; *at != L'\0'; at += wcslen(at) + 1) {
    std::wstring entry(at);
    const size_t eq = entry.find(L'=', 1);
    if (eq == std::wstring::npos) continue;
    variables[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  ::FreeEnvironmentStringsW(strings);
  for (const auto& [name, value] : extra) variables[name] = value;
  std::wstring block;
  for (const auto& [name, value] : variables) block += name + L"=" + value + L'\0';
  block += L'\0';
  return block;
}

}  // namespace

LauncherFolder::LauncherFolder(const std::string& case_name, const std::string& script) {
  const fs::path root = TestFolder();
  const fs::path folder = root / "e2e" / case_name;
  std::error_code error;
  fs::remove_all(folder, error);
  fs::create_directories(folder / "data" / "flutter_assets", error);
  if (error) return;
  for (const char* file : {"tidewarden_launcher.exe", "flutter_windows.dll"}) {
    fs::copy_file(root / "launcher" / file, folder / file, fs::copy_options::overwrite_existing,
                  error);
    if (error) return;
  }
  path_ = folder.wstring();
  ok_ = WriteFileBytes(File(L"data\\icudtl.dat"), "") &&
        WriteFileBytes(File(L"data\\app.so"), "") &&
        WriteFileBytes(File(L"data\\flutter_assets\\dev_ui_script.txt"), script);
}

LauncherRun LauncherFolder::Run(const std::wstring& arguments,
                                const std::map<std::wstring, std::wstring>& environment,
                                DWORD timeout_ms) const {
  LauncherRun run;
  // The launcher reads and writes the one credential and reads MachineGuid,
  // which the security tests change: the same named lock keeps the two apart
  // when ctest runs them in parallel in one prefix.
  const tw::test::MachineStateLock machine_state;
  if (!machine_state.held()) return run;
  const std::wstring transcript_path = File(L"transcript.txt");
  const std::wstring stderr_path = File(L"stderr.txt");
  ::DeleteFileW(transcript_path.c_str());

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  tw::UniqueFile error_file(::CreateFileW(stderr_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                          &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  tw::UniqueFile null_input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          &inherit, OPEN_EXISTING, 0, nullptr));
  if (!error_file || !null_input) return run;

  std::map<std::wstring, std::wstring> variables = environment;
  variables[L"DEV_ENGINE_TRANSCRIPT"] = transcript_path;
  std::wstring block = EnvironmentBlock(variables);

  std::wstring command_line = L"\"" + File(L"tidewarden_launcher.exe") + L"\"";
  if (!arguments.empty()) command_line += L" " + arguments;

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_input.get();
  startup.hStdOutput = error_file.get();
  startup.hStdError = error_file.get();
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, /*bInheritHandles=*/TRUE,
                        CREATE_UNICODE_ENVIRONMENT, block.data(), path_.c_str(), &startup,
                        &process)) {
    return run;
  }
  tw::UniqueKernelHandle process_handle(process.hProcess);
  tw::UniqueKernelHandle thread_handle(process.hThread);
  run.started = true;
  if (::WaitForSingleObject(process.hProcess, timeout_ms) != WAIT_OBJECT_0) {
    run.timed_out = true;
    ::TerminateProcess(process.hProcess, 99);
    ::WaitForSingleObject(process.hProcess, 5000);
  }
  ::GetExitCodeProcess(process.hProcess, &run.exit_code);
  run.standard_error = ReadFileBytes(stderr_path);
  run.transcript = ReadFileBytes(transcript_path);
  return run;
}

std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream file{fs::path(path), std::ios::binary};
  if (!file) return std::string();
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream file{fs::path(path), std::ios::binary | std::ios::trunc};
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace tw::test
