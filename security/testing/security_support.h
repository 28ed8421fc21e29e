// Helpers shared by the security tests: calls of the channel handler with
// a recording result, a scratch folder per test, whole-file helpers and the
// machine-state lock held for a whole test program. The stand-ins of the
// seams are beside this file, one per seam.
#ifndef SECURITY_TESTING_SECURITY_SUPPORT_H_
#define SECURITY_TESTING_SECURITY_SUPPORT_H_

#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channels/encodable_value.h"
#include "channels/method_call.h"
#include "security/security_channel_handler.h"
#include "testing/machine_state_lock.h"
#include "testing/recording_result.h"
#include "util/file_io.h"
#include "util/utf.h"
#include "util/win_handles.h"

namespace tw::security::test {

using ::tw::test::Answer;
using ::tw::test::RecordingResult;

// Calls the channel handler; `arguments` empty means a call without any.
// `on_answer` runs when the handler answers (see RecordingResult).
inline Answer Call(const std::string& method,
                   std::optional<flutter::EncodableValue> arguments = std::nullopt,
                   std::function<void()> on_answer = nullptr) {
  Answer answer;
  std::unique_ptr<flutter::EncodableValue> args;
  if (arguments) args = std::make_unique<flutter::EncodableValue>(std::move(*arguments));
  flutter::MethodCall<> call(method, std::move(args));
  SecurityChannelHandler(call, std::make_unique<RecordingResult>(&answer, std::move(on_answer)));
  return answer;
}

inline ::testing::AssertionResult IsSuccess(const Answer& a) {
  if (a.count != 1) return ::testing::AssertionFailure() << "answered " << a.count << " times";
  if (a.kind != Answer::Kind::kSuccess) {
    return ::testing::AssertionFailure() << "not a success: " << a.code << " / " << a.message;
  }
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult IsError(const Answer& a, const std::string& code,
                                          const std::string& message) {
  if (a.count != 1) return ::testing::AssertionFailure() << "answered " << a.count << " times";
  if (a.kind != Answer::Kind::kError) return ::testing::AssertionFailure() << "not an error";
  if (a.code != code || a.message != message || a.has_details) {
    return ::testing::AssertionFailure()
           << "error (" << a.code << ", " << a.message << (a.has_details ? ", details" : "") << ")";
  }
  return ::testing::AssertionSuccess();
}

// The file's bytes, or nothing when it cannot be opened or read.
inline std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::wstring& path) {
  std::vector<std::uint8_t> data;
  if (!::tw::ReadWholeFile(path, &data)) return std::nullopt;
  return data;
}

inline bool WriteWholeFile(const std::wstring& path, const std::vector<std::uint8_t>& data) {
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && ::tw::WriteAll(file.get(), data.data(), data.size());
}

inline bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Names in `folder` (not "." and ".."), sorted.
inline std::vector<std::wstring> ListFolder(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  const UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!find) return names;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(find.get(), &data));
  std::sort(names.begin(), names.end());
  return names;
}

inline void RemoveTree(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    for (const std::wstring& name : ListFolder(path)) RemoveTree(path + L"\\" + name);
    ::RemoveDirectoryW(path.c_str());
  } else {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
  }
}

// A fresh, empty folder under the current directory, named after the
// running test, removed again at the end of the test.
class ScratchFolder {
 public:
  ScratchFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("scratch-") + info->test_suite_name() + "-" + info->name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    wchar_t cwd[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, cwd);
    path_ = std::wstring(cwd) + L"\\" + std::wstring(name.begin(), name.end());
    RemoveTree(path_);
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~ScratchFolder() { RemoveTree(path_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Holds the machine-state lock (testing/machine_state_lock.h) for the whole
// test program, so that these tests and the launcher's end-to-end tests,
// which ctest runs in parallel in the same Wine prefix, never overlap.
class MachineStateEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    lock_ = std::make_unique<::tw::test::MachineStateLock>();
    ASSERT_TRUE(lock_->held());
  }
  void TearDown() override { lock_.reset(); }

 private:
  std::unique_ptr<::tw::test::MachineStateLock> lock_;
};

}  // namespace tw::security::test

#endif  // SECURITY_TESTING_SECURITY_SUPPORT_H_
