// Writes a file under a temporary name in the destination's folder and puts
// it in place of the destination only when it is complete.
//
// Until Commit() succeeds the destination is exactly as it was (absent stays
// absent, an existing file keeps its content); a ReplacementFile destroyed
// without a successful Commit() closes and removes its temporary file.
//
// Example:
//   ReplacementFile out;
//   if (!out.Create(L"C:\\games\\data.bin")) ...   // cannot create
//   if (!out.Write(bytes, n)) ...                  // cannot write
//   if (!out.Commit()) ...                         // cannot flush or replace
#ifndef SECURITY_REPLACEMENT_FILE_H_
#define SECURITY_REPLACEMENT_FILE_H_

#include <cstddef>
#include <string>

#include "security/win_handles.h"

namespace tw::security {

class ReplacementFile {
 public:
  // Why the last call failed.
  enum class Failure { kNone, kCreate, kWrite, kFlush, kReplace };

  ReplacementFile() = default;
  ~ReplacementFile() { Discard(); }

  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates an empty temporary file beside `destination` (a relative path
  // resolves against the current directory). False when the folder does not
  // exist or refuses a new file, or when `destination` names no file.
  bool Create(const std::wstring& destination);

  // Appends `size` bytes; false when not all of them could be written.
  bool Write(const void* data, std::size_t size);

  // Flushes the temporary file to disk, closes it and moves it over the
  // destination in one step (MoveFileExW, replacing an existing file and
  // writing through). On failure the temporary file is removed.
  bool Commit();

  // Closes and removes the temporary file, if any.
  void Discard() noexcept;

  Failure failure() const { return failure_; }
  const std::wstring& temporary_path() const { return temporary_; }

 private:
  UniqueFile file_;
  std::wstring destination_;
  std::wstring temporary_;
  Failure failure_ = Failure::kNone;
};

}  // namespace tw::security

#endif  // SECURITY_REPLACEMENT_FILE_H_
