// The seam of every file that holds secrets or their source: reads of a
// package, writes of a plain file or a key file, the flush, and the
// disposition and rename calls.
//
// A working disk does not fail on demand (a full disk, a failing flush, a
// read error in the middle of a package, a refused rename), and a test cannot
// see what a write was handed once the call is over; tests replace these calls
// to produce the one and to watch the other. Each entry defaults to the
// platform call of the same name, and a null entry stands for it.
#ifndef SECURITY_FILE_OPERATIONS_SEAM_H_
#define SECURITY_FILE_OPERATIONS_SEAM_H_

#include <windows.h>

namespace tw::security {

// The rename class that takes FILE_RENAME_FLAG_* flags (Windows 10 1607 and
// later). Its enumerator is declared by the headers only for a newer target
// than the launcher's, so it is named here by its documented value.
inline constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

struct FileOperations {
  decltype(&::ReadFile) read = &::ReadFile;
  decltype(&::WriteFile) write = &::WriteFile;
  decltype(&::FlushFileBuffers) flush = &::FlushFileBuffers;
  decltype(&::SetFileInformationByHandle) set_information = &::SetFileInformationByHandle;
};

// The table in use; never holds a null entry.
const FileOperations& CurrentFileOperations();

// Installs `operations` for every later file call and returns the table it
// replaces. For tests only; not thread-safe: the callers are one-threaded.
FileOperations SetFileOperationsForTesting(const FileOperations& operations);

}  // namespace tw::security

#endif  // SECURITY_FILE_OPERATIONS_SEAM_H_
