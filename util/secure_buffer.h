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
//
// A secret that has to live in a std::string (a token inside the value that
// answers a call) is kept by a WipeOnDestroy guard instead:
//   flutter::EncodableValue answer{std::string()};
//   tw::WipeOnDestroy<std::string> token(answer.Get<std::string>());
//   token.Reserve(n);       // any buffer replaced here is wiped first
//   token.PushBack(c);
//   result.Success(answer);  // the string is wiped when `token` goes, also
//                            // when Success throws
#ifndef UTIL_SECURE_BUFFER_H_
#define UTIL_SECURE_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
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
  // The bytes change owner without being copied; `other` is left empty.
  SecureBuffer(SecureBuffer&& other) noexcept : data_(std::exchange(other.data_, {})) {}
  // Wipes what this buffer held, then takes over `other`'s bytes; `other` is
  // left empty.
  SecureBuffer& operator=(SecureBuffer&& other) noexcept {
    if (this != &other) {
      Wipe();
      data_ = std::exchange(other.data_, {});
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

// Overwrites every character slot of `text` up to its capacity (not only
// its current length) with zeros and leaves it empty. The buffer is kept, so
// nothing is released unwiped.
template <typename String>
void SecureClear(String& text) noexcept {
  // Growing within the capacity never allocates; it makes the whole buffer
  // part of the string, so the wipe below stays inside it.
  text.resize(text.capacity());
  SecureWipe(text.data(), text.size() * sizeof(typename String::value_type));
  text.clear();
}

// Holds a string owned elsewhere that carries a secret and wipes it (to its
// whole capacity) when the guard goes out of scope, on every path. Growth
// through the guard wipes a buffer before it is given up; growing the string
// directly bypasses that. Not copyable or movable: one guard per string, for
// one scope.
template <typename String>
class WipeOnDestroy {
 public:
  using Char = typename String::value_type;

  explicit WipeOnDestroy(String& text) noexcept : text_(text) {}
  ~WipeOnDestroy() { SecureClear(text_); }

  WipeOnDestroy(const WipeOnDestroy&) = delete;
  WipeOnDestroy& operator=(const WipeOnDestroy&) = delete;

  String& get() noexcept { return text_; }
  const String& get() const noexcept { return text_; }

  // Room for `count` characters. When that needs a larger buffer, the
  // content moves into a new one and the old one is wiped before it is
  // released.
  void Reserve(std::size_t count) {
    if (count <= text_.capacity()) return;
    String larger;
    larger.reserve(count);
    larger.append(text_);
    // Wiped before the swap: a short string's characters sit inside the
    // string object itself, and a swap would leave stray bytes of them there.
    SecureClear(text_);
    text_.swap(larger);
  }

  void PushBack(Char c) {
    if (text_.size() == text_.capacity()) Reserve(2 * text_.capacity() + 1);
    text_.push_back(c);
  }

  // Wipes the content; the string stays usable.
  void Clear() noexcept { SecureClear(text_); }

 private:
  String& text_;
};

}  // namespace tw

#endif  // UTIL_SECURE_BUFFER_H_
