// Reads back, inside a Wine prefix, what the setup program left there, for
// tests/installer/installer_test:
//
//   installer_probe shortcut LINK.lnk   target=, working-folder=, arguments=, icon=PATH,INDEX
//   installer_probe values HKCU-SUBKEY  one NAME=VALUE line per value (DWORDs in decimal)
//   installer_probe entries DISPLAYNAME the uninstall entries (HKCU) with that DisplayName
//   installer_probe credential TARGET   the launcher's token in a generic credential
//   installer_probe version FILE        the file's fixed product version, a.b.c.d
//   installer_probe close WINDOWCLASS   posts WM_CLOSE to the first such top-level window
//   installer_probe run COMMANDLINE     runs the command line as given (setup's /D= must
//                                       stay unquoted) and exits with its exit code
//
// Output is UTF-8, one item per line. Exit code 0 on success, 3 when the
// thing asked about does not exist, 1 on any other failure.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wincred.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "security/token_codec.h"
#include "security/token_store.h"
#include "util/secure_buffer.h"
#include "util/utf.h"
#include "util/win_handles.h"

namespace {

constexpr int kMissing = 3;
constexpr int kFailed = 1;
// Setup and the uninstaller take a few seconds; a hung one fails the run.
constexpr DWORD kRunTimeoutMs = 120000;
constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

void Print(std::wstring_view text) {
  const std::string utf8 = tw::Utf16ToUtf8Lossy(text);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fputc('\n', stdout);
}

// Reports a failed call and returns the exit code for it.
int Fail(std::wstring_view what, DWORD error) {
  std::fwprintf(stderr, L"installer_probe: %.*ls failed (error 0x%lx)\n",
                static_cast<int>(what.size()), what.data(), static_cast<unsigned long>(error));
  return kFailed;
}

int Shortcut(const wchar_t* link_path) {
  if (::GetFileAttributesW(link_path) == INVALID_FILE_ATTRIBUTES) return kMissing;
  tw::UniqueCom<IShellLinkW> link;
  HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, /*pUnkOuter=*/nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IShellLinkW, reinterpret_cast<void**>(link.put()));
  if (FAILED(hr)) return Fail(L"CoCreateInstance(ShellLink)", static_cast<DWORD>(hr));
  tw::UniqueCom<IPersistFile> file;
  hr = link.get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()));
  if (FAILED(hr)) return Fail(L"QueryInterface(IPersistFile)", static_cast<DWORD>(hr));
  hr = file.get()->Load(link_path, STGM_READ);
  if (FAILED(hr)) return Fail(L"IPersistFile::Load", static_cast<DWORD>(hr));

  wchar_t text[MAX_PATH] = {};
  int icon_index = 0;
  if (FAILED(link.get()->GetPath(text, MAX_PATH, /*pfd=*/nullptr, SLGP_RAWPATH))) text[0] = L'\0';
  Print(std::wstring(L"target=") + text);
  if (FAILED(link.get()->GetWorkingDirectory(text, MAX_PATH))) text[0] = L'\0';
  Print(std::wstring(L"working-folder=") + text);
  if (FAILED(link.get()->GetArguments(text, MAX_PATH))) text[0] = L'\0';
  Print(std::wstring(L"arguments=") + text);
  if (FAILED(link.get()->GetIconLocation(text, MAX_PATH, &icon_index))) text[0] = L'\0';
  Print(std::wstring(L"icon=") + text + L"," + std::to_wstring(icon_index));
  return 0;
}

int Values(const wchar_t* subkey) {
  tw::UniqueHKey key;
  const LONG opened =
      ::RegOpenKeyExW(HKEY_CURRENT_USER, subkey, /*ulOptions=*/0, KEY_READ, key.put());
  if (opened == ERROR_FILE_NOT_FOUND) return kMissing;
  if (opened != ERROR_SUCCESS) return Fail(L"RegOpenKeyExW", static_cast<DWORD>(opened));
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD name_length = 256;
    DWORD type = 0;
    std::vector<BYTE> data(64 * 1024);
    DWORD data_size = static_cast<DWORD>(data.size());
    const LONG status = ::RegEnumValueW(key.get(), index, name, &name_length,
                                        /*lpReserved=*/nullptr, &type, data.data(), &data_size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return Fail(L"RegEnumValueW", static_cast<DWORD>(status));
    std::wstring line = std::wstring(name, name_length) + L"=";
    if (type == REG_DWORD && data_size == sizeof(DWORD)) {
      DWORD value = 0;
      std::memcpy(&value, data.data(), sizeof(value));
      line += std::to_wstring(value);
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
      std::wstring value(reinterpret_cast<const wchar_t*>(data.data()),
                         data_size / sizeof(wchar_t));
      while (!value.empty() && value.back() == L'\0') value.pop_back();
      line += value;
    } else {
      line += L"(type " + std::to_wstring(type) + L")";
    }
    Print(line);
  }
  return 0;
}

int Entries(std::wstring_view display_name) {
  tw::UniqueHKey uninstall;
  const LONG opened =
      ::RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, /*ulOptions=*/0, KEY_READ, uninstall.put());
  if (opened == ERROR_FILE_NOT_FOUND) return 0;
  if (opened != ERROR_SUCCESS) return Fail(L"RegOpenKeyExW", static_cast<DWORD>(opened));
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD name_length = 256;
    const LONG status =
        ::RegEnumKeyExW(uninstall.get(), index, name, &name_length, /*lpReserved=*/nullptr,
                        /*lpClass=*/nullptr, /*lpcchClass=*/nullptr, /*lpftLastWriteTime=*/nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return Fail(L"RegEnumKeyExW", static_cast<DWORD>(status));
    wchar_t value[512] = {};
    DWORD value_size = sizeof(value);
    if (::RegGetValueW(uninstall.get(), name, L"DisplayName", RRF_RT_REG_SZ, /*pdwType=*/nullptr,
                       value, &value_size) == ERROR_SUCCESS &&
        display_name == value) {
      Print(name);
    }
  }
  return 0;
}

int Credential(const wchar_t* target) {
  tw::security::UniqueCredential credential;
  if (!::CredReadW(target, CRED_TYPE_GENERIC, /*Flags=*/0, credential.put())) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_NOT_FOUND) return kMissing;
    return Fail(L"CredReadW", error);
  }
  std::string token;
  tw::WipeOnDestroy<std::string> wiped(token);
  tw::security::NarrowToken(credential.get()->CredentialBlob, credential.get()->CredentialBlobSize,
                            wiped);
  std::fwrite(token.data(), 1, token.size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}

int Version(const wchar_t* file) {
  const DWORD size = ::GetFileVersionInfoSizeW(file, /*lpdwHandle=*/nullptr);
  if (size == 0) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return kMissing;
    return Fail(L"GetFileVersionInfoSizeW", error);
  }
  std::vector<char> block(size);
  if (!::GetFileVersionInfoW(file, /*dwHandle=*/0, size, block.data())) {
    return Fail(L"GetFileVersionInfoW", ::GetLastError());
  }
  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), L"\\", &value, &length) ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return Fail(L"VerQueryValueW", ::GetLastError());
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  Print(std::to_wstring(HIWORD(fixed->dwProductVersionMS)) + L"." +
        std::to_wstring(LOWORD(fixed->dwProductVersionMS)) + L"." +
        std::to_wstring(HIWORD(fixed->dwProductVersionLS)) + L"." +
        std::to_wstring(LOWORD(fixed->dwProductVersionLS)));
  return 0;
}

int Close(const wchar_t* window_class) {
  HWND window = ::FindWindowW(window_class, /*lpWindowName=*/nullptr);
  if (window == nullptr) return kMissing;
  if (!::PostMessageW(window, WM_CLOSE, /*wParam=*/0, /*lParam=*/0)) {
    return Fail(L"PostMessageW", ::GetLastError());
  }
  return 0;
}

int Run(const wchar_t* command_line) {
  std::wstring line(command_line);  // CreateProcessW may write into it
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (!::CreateProcessW(
          /*lpApplicationName=*/nullptr, line.data(), /*lpProcessAttributes=*/nullptr,
          /*lpThreadAttributes=*/nullptr, /*bInheritHandles=*/FALSE, /*dwCreationFlags=*/0,
          /*lpEnvironment=*/nullptr, /*lpCurrentDirectory=*/nullptr, &startup, &started)) {
    return Fail(L"CreateProcessW", ::GetLastError());
  }
  tw::UniqueKernelHandle process(started.hProcess);
  tw::UniqueKernelHandle thread(started.hThread);
  const DWORD waited = ::WaitForSingleObject(process.get(), kRunTimeoutMs);
  if (waited != WAIT_OBJECT_0) {
    const DWORD error =
        waited == WAIT_TIMEOUT ? static_cast<DWORD>(WAIT_TIMEOUT) : ::GetLastError();
    ::TerminateProcess(process.get(), kFailed);
    return Fail(L"waiting for the program", error);
  }
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(process.get(), &exit_code))
    return Fail(L"GetExitCodeProcess", ::GetLastError());
  return static_cast<int>(exit_code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fwprintf(
        stderr,
        L"usage: installer_probe shortcut|values|entries|credential|version|close|run ARGUMENT\n");
    return kFailed;
  }
  const std::wstring_view command = argv[1];
  if (command == L"shortcut") {
    if (FAILED(::CoInitializeEx(/*pvReserved=*/nullptr, COINIT_APARTMENTTHREADED))) return kFailed;
    const int code = Shortcut(argv[2]);
    ::CoUninitialize();
    return code;
  }
  if (command == L"values") return Values(argv[2]);
  if (command == L"entries") return Entries(argv[2]);
  if (command == L"credential") return Credential(argv[2]);
  if (command == L"version") return Version(argv[2]);
  if (command == L"close") return Close(argv[2]);
  if (command == L"run") return Run(argv[2]);
  std::fwprintf(stderr, L"installer_probe: unknown command\n");
  return kFailed;
}
