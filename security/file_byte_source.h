// A package file as a byte source: opened for reading, sequentially, sharing
// only reads, and read through the file-operations seam.
#ifndef SECURITY_FILE_BYTE_SOURCE_H_
#define SECURITY_FILE_BYTE_SOURCE_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "security/byte_source.h"
#include "util/win_handles.h"

namespace tw::security {

class FileByteSource : public ByteSource {
 public:
  // Opens `path`. Only a disk file is kept: a pipe, a console or a device
  // could make a read wait for as long as its other end likes, so it is
  // closed again and the source is not open.
  explicit FileByteSource(const std::wstring& path);

  bool is_open() const { return static_cast<bool>(file_); }
  // The file's size, or 0 when it cannot be told.
  std::uint64_t size() const;
  // Closes the file; later reads fail.
  void Close() { file_.reset(); }

  bool Read(void* data, std::size_t size, std::size_t* got) override;

 private:
  UniqueFile file_;
};

}  // namespace tw::security

#endif  // SECURITY_FILE_BYTE_SOURCE_H_
