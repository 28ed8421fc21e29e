#include "security/file_byte_source.h"

#include "security/file_operations_seam.h"
#include "util/file_io.h"

namespace tw::security {

FileByteSource::FileByteSource(const std::wstring& path) {
  // Sequential scan: a package is read once, front to back.
  file_.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                            /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, /*hTemplateFile=*/nullptr));
  if (file_ && ::GetFileType(file_.get()) != FILE_TYPE_DISK) file_.reset();
}

std::uint64_t FileByteSource::size() const {
  LARGE_INTEGER size = {};
  if (!file_ || !::GetFileSizeEx(file_.get(), &size)) return 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool FileByteSource::Read(void* data, std::size_t size, std::size_t* got) {
  *got = 0;
  if (!file_) return false;
  return ReadUpTo(file_.get(), data, size, got, CurrentFileOperations().read);
}

}  // namespace tw::security
