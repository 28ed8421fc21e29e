// Where a reader gets its bytes from: a file, or memory.
//
// Portable (no <windows.h>), so that what reads through it builds and is
// tested natively and can be fuzzed.
#ifndef SECURITY_BYTE_SOURCE_H_
#define SECURITY_BYTE_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tw::security {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Reads up to `size` bytes into `data`: fewer only where the source ends.
  // `*got` says how many arrived. False on a read error, with `*got`
  // counting what came before it.
  virtual bool Read(void* data, std::size_t size, std::size_t* got) = 0;
};

// The bytes of a block of memory, which must outlive the source.
class MemoryByteSource : public ByteSource {
 public:
  MemoryByteSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Read(void* data, std::size_t size, std::size_t* got) override {
    *got = size < size_ - offset_ ? size : size_ - offset_;
    if (*got > 0) std::memcpy(data, data_ + offset_, *got);
    offset_ += *got;
    return true;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

}  // namespace tw::security

#endif  // SECURITY_BYTE_SOURCE_H_
