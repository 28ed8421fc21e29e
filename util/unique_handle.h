// A move-only owner for any handle-like value with a close function.
//
// UniqueHandle<Traits> holds one handle; Traits supplies the type, the value
// that means "no handle" and the close function. NullMeansNone below covers
// the common case in one line; util/win_handles.h declares the Win32 kinds:
//
//   using UniqueHKey = UniqueHandle<NullMeansNone<HKEY, &::RegCloseKey>>;
//
//   UniqueHKey key;
//   if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) ...
//
// put() closes what was held and hands out the slot for an out-parameter;
// reset() closes before replacing; release() gives the handle up unclosed.
// Moving transfers ownership; a move assignment closes the target's handle
// first. Not thread-safe: one owner, one thread.
#ifndef UTIL_UNIQUE_HANDLE_H_
#define UTIL_UNIQUE_HANDLE_H_

#include <utility>

namespace tw {

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() noexcept : handle_(Traits::Invalid()) {}
  explicit UniqueHandle(Type handle) noexcept : handle_(handle) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Type get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }

  // Closes the held handle and returns the slot for an out-parameter.
  Type* put() noexcept {
    reset();
    return &handle_;
  }

  // Closes the held handle (if any) and takes ownership of `handle`.
  void reset(Type handle = Traits::Invalid()) noexcept {
    Type old = std::exchange(handle_, handle);
    if (old != Traits::Invalid()) Traits::Close(old);
  }

  // Gives up ownership without closing.
  [[nodiscard]] Type release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

 private:
  Type handle_;
};

// Traits for the common case: null means "no handle" and `CloseFn(handle)`
// releases it (its result, if any, is ignored).
template <typename T, auto CloseFn>
struct NullMeansNone {
  using Type = T;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type handle) noexcept { CloseFn(handle); }
};

}  // namespace tw

#endif  // UTIL_UNIQUE_HANDLE_H_
