// Buffers for secrets (keys, tokens, identity material, digests, plain
// chunks) that overwrite their bytes with zeros before the memory is
// released, on every path, including exceptions.
//
// The wipe goes through SecureZeroMemory on Windows and through a volatile
// write loop elsewhere, so the optimiser cannot drop it as a dead store.
//
// Example:
//   tw::SecureBuffer<uint8_t> key(32);
//   std::memcpy(key.data(), bytes, 32);
//   ...  // zeroed when `key` goes out of scope
#ifndef UTIL_SECURE_BUFFER_H_
#define UTIL_SECURE_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace tw {

// Overwrites `size` bytes at `data` with zeros; never optimised away.
inline void SecureWipe(void* data, std::size_t size) noexcept {
  if (data == nullptr || size == 0) return;
#ifdef _WIN32
  ::SecureZeroMemory(data, size);
#else
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  while (size--) *p++ = 0;
#endif
}

// A fixed-size, zero-initialised array of T (trivially copyable) that wipes
// itself on destruction and on Wipe(). Move-only, so no stray copy of the
// secret is left behind.
template <typename T>
class SecureBuffer {
 public:
  SecureBuffer() = default;
  explicit SecureBuffer(std::size_t count) : data_(count) {}
  ~SecureBuffer() { Wipe(); }

  SecureBuffer(const SecureBuffer&) = delete;
  SecureBuffer& operator=(const SecureBuffer&) = delete;
  SecureBuffer(SecureBuffer&& other) noexcept : data_(std::move(other.data_)) {}
  SecureBuffer& operator=(SecureBuffer&& other) noexcept {
    if (this != &other) {
      Wipe();
      data_ = std::move(other.data_);
    }
    return *this;
  }

  T* data() noexcept { return data_.data(); }
  const T* data() const noexcept { return data_.data(); }
  std::size_t size() const noexcept { return data_.size(); }
  std::size_t size_bytes() const noexcept { return data_.size() * sizeof(T); }
  bool empty() const noexcept { return data_.empty(); }
  T& operator[](std::size_t i) noexcept { return data_[i]; }
  const T& operator[](std::size_t i) const noexcept { return data_[i]; }
  T* begin() noexcept { return data_.data(); }
  T* end() noexcept { return data_.data() + data_.size(); }
  const T* begin() const noexcept { return data_.data(); }
  const T* end() const noexcept { return data_.data() + data_.size(); }

  // Zeroes the contents; the size stays.
  void Wipe() noexcept { SecureWipe(data_.data(), data_.size() * sizeof(T)); }

 private:
  std::vector<T> data_;
};

}  // namespace tw

#endif  // UTIL_SECURE_BUFFER_H_
