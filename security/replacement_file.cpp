#include "security/replacement_file.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "security/random_bytes.h"
#include "util/file_io.h"
#include "util/hex.h"

namespace tw::security {
namespace {

// Random names are drawn again on a collision; with 128 random bits a second
// collision means something else answers "exists" (a name held by a folder,
// a file pending deletion), not chance.
constexpr int kCreateAttempts = 4;
constexpr std::size_t kRandomNameBytes = 16;

// The absolute form of `path`, and where its last component starts.
bool FullPath(const std::wstring& path, std::wstring* full, std::size_t* name_offset) {
  if (path.empty()) return false;
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return false;
  std::vector<wchar_t> buffer(needed);
  wchar_t* name = nullptr;
  const DWORD length = ::GetFullPathNameW(path.c_str(), needed, buffer.data(), &name);
  if (length == 0 || length >= needed || name == nullptr || *name == L'\0') return false;
  full->assign(buffer.data(), length);
  *name_offset = static_cast<std::size_t>(name - buffer.data());
  return true;
}

// `full` (absolute) in the "\\?\" form, which is not cut at MAX_PATH: the
// destination's name may be up to 255 characters in a folder that is
// already deep.
std::wstring ExtendedPath(const std::wstring& full) {
  if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// ".tw", 32 lower-case hexadecimal digits, ".part".
bool RandomName(std::wstring* name) {
  std::uint8_t random[kRandomNameBytes];
  if (!RandomBytes(random, sizeof random)) return false;
  name->assign(L".tw");
  ForEachLowerHexDigit(random, sizeof random,
                       [name](char c) { name->push_back(static_cast<wchar_t>(c)); });
  name->append(L".part");
  return true;
}

// What the platform answers when a handle's rename class is unknown to it:
// FileRenameInfoEx came with Windows 10 1607, and some file systems and
// emulations refuse it.
bool IsRefusedClass(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_FUNCTION;
}

// What a rename over a destination answers while another process has it open.
bool IsHeldByAnother(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

// Whether another process still has `path` open. Asking for it with no
// sharing at all is refused exactly while someone else has it; a handle that
// is granted is closed again at once and reads nothing.
bool IsOpenElsewhere(const std::wstring& path) {
  const UniqueFile probe(::CreateFileW(path.c_str(), DELETE, /*dwShareMode=*/0,
                                       /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
  return !probe && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

// Waits in short steps until nobody else has `path` open; false when
// `deadline` (a GetTickCount64 time) comes first.
bool WaitUntilFree(const std::wstring& path, ULONGLONG deadline) {
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return false;
    ::Sleep(static_cast<DWORD>(deadline - now < kReplaceStepMs ? deadline - now : kReplaceStepMs));
    if (!IsOpenElsewhere(path)) return true;
  }
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

bool SetDeleteOnClose(HANDLE file, bool delete_on_close) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = delete_on_close ? TRUE : FALSE;
  return CurrentFileOperations().set_information(file, FileDispositionInfo, &disposition,
                                                 sizeof disposition) != FALSE;
}

bool ReplacementFile::Create(const std::wstring& destination) {
  Discard();
  failure_ = Failure::kCreate;
  std::wstring full;
  std::size_t name_offset = 0;
  if (!FullPath(destination, &full, &name_offset)) return false;

  // Same folder as the destination, so the final rename stays on one volume.
  // The name owes nothing to the destination's: it stays short, and nobody
  // can block a decryption by creating the names it will use.
  const std::wstring folder = ExtendedPath(full.substr(0, name_offset));
  std::wstring name;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    if (!RandomName(&name)) return false;
    std::wstring candidate = folder + name;
    // DELETE access for the disposition and the rename. Sharing only
    // FILE_SHARE_DELETE keeps every other opener out; nobody else needs it.
    file_.reset(::CreateFileW(candidate.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                              /*lpSecurityAttributes=*/nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              /*hTemplateFile=*/nullptr));
    if (!file_) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      return false;
    }
    if (!SetDeleteOnClose(file_.get(), true)) {
      // Still ours alone: remove it by name before the handle goes.
      ::DeleteFileW(candidate.c_str());
      file_.reset();
      return false;
    }
    destination_ = ExtendedPath(full);
    temporary_ = std::move(candidate);
    posix_rename_ = true;
    failure_ = Failure::kNone;
    return true;
  }
  return false;
}

bool ReplacementFile::Write(const void* data, std::size_t size) {
  if (!file_) return false;
  if (!WriteAll(file_.get(), data, size, CurrentFileOperations().write)) {
    failure_ = Failure::kWrite;
    Discard();
    return false;
  }
  return true;
}

bool ReplacementFile::Commit() {
  if (!file_) return false;
  // FILE_RENAME_INFO ends in the new name, FileNameLength bytes long; the
  // buffer is made before the mark is cleared, so running out of memory
  // here still leaves nothing behind.
  const std::size_t name_bytes = destination_.size() * sizeof(wchar_t);
  const std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(wchar_t);
  rename_.assign((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(rename_.data());
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(name_bytes);
  std::memcpy(rename->FileName, destination_.c_str(), name_bytes + sizeof(wchar_t));

  // The bytes reach the disk before the name does: a crash after the rename
  // must not leave a destination of the right size with missing content.
  if (!CurrentFileOperations().flush(file_.get())) {
    failure_ = Failure::kFlush;
    Discard();
    return false;
  }
  if (!Replace(static_cast<DWORD>(size))) {
    failure_ = Failure::kReplace;
    Discard();
    return false;
  }
  // The handle now names the destination; closing it keeps the file.
  file_.reset();
  temporary_.clear();
  destination_.clear();
  return true;
}

bool ReplacementFile::Replace(DWORD size) {
  // Indexers, viewers, scanners and sync clients open files for a moment;
  // while one holds the destination the rename is refused, so it is tried
  // again for a bounded time. The temporary file keeps its delete-on-close
  // mark between tries, and the mark is cleared again only once the
  // destination looks free, so a process killed while it waits leaves
  // nothing behind.
  const ULONGLONG deadline = ::GetTickCount64() + kReplaceBoundMs;
  for (;;) {
    if (!SetDeleteOnClose(file_.get(), false)) return false;
    const DWORD error = Rename(size);
    if (error == ERROR_SUCCESS) return true;
    // A folder stays a folder: waiting cannot make it replaceable.
    const bool may_wait = IsHeldByAnother(error) && !IsFolder(destination_);
    if (!SetDeleteOnClose(file_.get(), true)) {
      ::DeleteFileW(temporary_.c_str());
      return false;
    }
    if (!may_wait || !WaitUntilFree(destination_, deadline)) return false;
  }
}

DWORD ReplacementFile::Rename(DWORD size) {
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(rename_.data());
  const auto& operations = CurrentFileOperations();
  if (posix_rename_) {
    rename->Flags = FILE_RENAME_FLAG_POSIX_SEMANTICS | FILE_RENAME_FLAG_REPLACE_IF_EXISTS;
    if (operations.set_information(file_.get(), kFileRenameInfoEx, rename, size)) {
      return ERROR_SUCCESS;
    }
    const DWORD error = ::GetLastError();
    if (!IsRefusedClass(error)) return error;
    posix_rename_ = false;
  }
  rename->Flags = 0;
  rename->ReplaceIfExists = TRUE;
  if (operations.set_information(file_.get(), FileRenameInfo, rename, size)) return ERROR_SUCCESS;
  return ::GetLastError();
}

void ReplacementFile::Discard() noexcept {
  file_.reset();
  temporary_.clear();
  destination_.clear();
}

}  // namespace tw::security
