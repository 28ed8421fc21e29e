// Writes a file under a temporary name in the destination's folder and puts
// it in place of the destination only when it is complete.
//
// The temporary file belongs to its one handle from creation to the end:
// it is opened sharing nothing but FILE_SHARE_DELETE, so no other process
// can read it, hold it open or block its removal; it is marked
// delete-on-close while it is written, so closing the handle on any path, or
// the end of a killed process, removes it with whatever it holds. Commit()
// flushes it, clears the mark and renames it over the destination through
// the same handle. All of these calls go through the file-operations seam.
//
// Until Commit() succeeds the destination is exactly as it was (absent stays
// absent, an existing file keeps its content).
//
// Example:
//   ReplacementFile out;
//   if (!out.Create(L"C:\\games\\data.bin")) ...   // cannot create
//   if (!out.Write(bytes, n)) ...                  // cannot write
//   if (!out.Commit()) ...                         // cannot flush or replace
#ifndef SECURITY_REPLACEMENT_FILE_H_
#define SECURITY_REPLACEMENT_FILE_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "security/file_operations_seam.h"
#include "util/win_handles.h"

namespace tw::security {

// How long Commit() keeps trying to replace a destination that another
// program holds open, and how long it waits between two tries.
inline constexpr DWORD kReplaceBoundMs = 3000;
inline constexpr DWORD kReplaceStepMs = 50;

// Sets or clears the delete-on-close mark of `file`, which must have been
// opened with DELETE access.
bool SetDeleteOnClose(HANDLE file, bool delete_on_close);

class ReplacementFile {
 public:
  // Why the last call failed.
  enum class Failure { kNone, kCreate, kWrite, kFlush, kReplace };

  ReplacementFile() = default;
  ~ReplacementFile() { Discard(); }

  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates an empty temporary file in the folder of `destination` (a
  // relative path resolves against the current directory), named ".tw",
  // 32 random hexadecimal digits and ".part": short whatever the
  // destination's name, and unlike any name chosen before. False when the
  // folder does not exist or refuses a new file, or when `destination`
  // names no file.
  bool Create(const std::wstring& destination);

  // Appends `size` bytes; false when not all of them could be written. On
  // failure the temporary file is gone.
  bool Write(const void* data, std::size_t size);

  // Flushes the temporary file to disk, then clears its delete-on-close
  // mark and renames it over the destination through its handle, replacing
  // an existing file: first with POSIX semantics, which replaces a file that
  // others hold open sharing delete, then, where the platform refuses that
  // form, with the classic rename. While another program holds the
  // destination (access denied, sharing violation) it tries again every
  // kReplaceStepMs for up to kReplaceBoundMs, with the mark set while it
  // waits. On failure the temporary file is gone and the destination is as
  // it was.
  bool Commit();

  // Closes the temporary file, if any, which removes it.
  void Discard() noexcept;

  Failure failure() const { return failure_; }
  // The temporary file's full path while it exists; empty otherwise.
  const std::wstring& temporary_path() const { return temporary_; }

 private:
  // Clears the mark and renames the file over the destination, trying again
  // while another program holds it; false with the mark set again (or the
  // file deleted by name) when it cannot. `size` is that of rename_'s record.
  bool Replace(DWORD size);
  // One try of the rename; ERROR_SUCCESS or the platform's error.
  DWORD Rename(DWORD size);

  UniqueFile file_;
  std::wstring destination_;
  std::wstring temporary_;
  Failure failure_ = Failure::kNone;
  // The FILE_RENAME_INFO of Commit(), 8-byte aligned.
  std::vector<std::uint64_t> rename_;
  // Cleared once the platform refuses the POSIX form, so that it is not
  // asked again.
  bool posix_rename_ = true;
};

}  // namespace tw::security

#endif  // SECURITY_REPLACEMENT_FILE_H_
