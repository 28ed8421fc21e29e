#include "security/replacement_file.h"

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <vector>

namespace tw::security {
namespace {

std::atomic<unsigned> g_sequence{0};

// The absolute form of `path`, and where its last component starts.
bool FullPath(const std::wstring& path, std::wstring* full, std::size_t* name_offset) {
  if (path.empty()) return false;
  DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return false;
  std::vector<wchar_t> buffer(needed);
  wchar_t* name = nullptr;
  DWORD length = ::GetFullPathNameW(path.c_str(), needed, buffer.data(), &name);
  if (length == 0 || length >= needed || name == nullptr || *name == L'\0') return false;
  full->assign(buffer.data(), length);
  *name_offset = static_cast<std::size_t>(name - buffer.data());
  return true;
}

}  // namespace

bool ReplacementFile::Create(const std::wstring& destination) {
  Discard();
  failure_ = Failure::kCreate;
  std::wstring full;
  std::size_t name_offset = 0;
  if (!FullPath(destination, &full, &name_offset)) return false;

  // Same folder as the destination, so the final move is a rename on one
  // volume and cannot degrade into a copy. A leading dot and the process id
  // keep the name apart from the user's files and from other processes.
  const std::wstring folder = full.substr(0, name_offset);
  const std::wstring name = full.substr(name_offset);
  for (int attempt = 0; attempt < 100; ++attempt) {
    wchar_t suffix[40];
    std::swprintf(suffix, sizeof suffix / sizeof suffix[0], L".%08lx-%08x.part",
                  static_cast<unsigned long>(::GetCurrentProcessId()), g_sequence.fetch_add(1));
    std::wstring candidate = folder + L"." + name + suffix;
    file_.reset(::CreateFileW(candidate.c_str(), GENERIC_WRITE, /*dwShareMode=*/0,
                              /*lpSecurityAttributes=*/nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              /*hTemplateFile=*/nullptr));
    if (file_) {
      destination_ = std::move(full);
      temporary_ = std::move(candidate);
      failure_ = Failure::kNone;
      return true;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool ReplacementFile::Write(const void* data, std::size_t size) {
  if (!file_) return false;
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const DWORD piece = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(file_.get(), p, piece, &written, /*lpOverlapped=*/nullptr) || written == 0) {
      failure_ = Failure::kWrite;
      Discard();
      return false;
    }
    p += written;
    size -= written;
  }
  return true;
}

bool ReplacementFile::Commit() {
  if (!file_) return false;
  if (!::FlushFileBuffers(file_.get())) {
    failure_ = Failure::kFlush;
    Discard();
    return false;
  }
  file_.reset();
  if (!::MoveFileExW(temporary_.c_str(), destination_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    failure_ = Failure::kReplace;
    Discard();
    return false;
  }
  temporary_.clear();
  destination_.clear();
  return true;
}

void ReplacementFile::Discard() noexcept {
  file_.reset();
  if (!temporary_.empty()) {
    ::DeleteFileW(temporary_.c_str());
    temporary_.clear();
  }
  destination_.clear();
}

}  // namespace tw::security
