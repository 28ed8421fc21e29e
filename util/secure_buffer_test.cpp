// Self-wiping buffers and string guards. Memory that goes back to the heap
// cannot be read afterwards, so this test binary routes operator new and
// delete through malloc and free and looks at a watched block at the moment
// it is freed.
#include "util/secure_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

// The block to look at when it is freed, and what was seen.
struct FreeWatch {
  const void* block = nullptr;
  std::size_t size = 0;
  int frees = 0;
  bool zero_when_freed = false;
};
FreeWatch free_watch;

}  // namespace

void* operator new(std::size_t size) {
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

namespace {

void Release(void* block) noexcept {
  if (block != nullptr && block == free_watch.block) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    ++free_watch.frees;
    free_watch.zero_when_freed =
        std::all_of(bytes, bytes + free_watch.size, [](unsigned char b) { return b == 0; });
    free_watch.block = nullptr;
  }
  std::free(block);
}

}  // namespace

void operator delete(void* block) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }

namespace tw {
namespace {

void Watch(const void* block, std::size_t size) { free_watch = FreeWatch{block, size, 0, false}; }

bool AllZero(const char* bytes, std::size_t size) {
  return std::all_of(bytes, bytes + size, [](char c) { return c == '\0'; });
}

TEST(SecureBufferTest, MoveHandsTheBytesOverAndLeavesTheSourceEmpty) {
  SecureBuffer<uint8_t> a(4);
  for (auto& b : a) b = 0xAB;
  const uint8_t* bytes = a.data();

  SecureBuffer<uint8_t> b = std::move(a);
  EXPECT_EQ(b.data(), bytes) << "moved without a copy";
  EXPECT_EQ(b.size(), 4u);
  EXPECT_EQ(b[3], 0xAB);
  EXPECT_TRUE(a.empty());
  EXPECT_EQ(a.size(), 0u);
  EXPECT_NE(a.data(), bytes) << "the moved-from buffer still points at the secret";
  EXPECT_EQ(a.begin(), a.end());

  SecureBuffer<uint8_t> c(2);
  c = std::move(b);
  EXPECT_EQ(c.data(), bytes);
  EXPECT_TRUE(b.empty());
  EXPECT_NE(b.data(), bytes);

  c.Wipe();
  EXPECT_EQ(c.size(), 4u) << "Wipe keeps the size";
  for (auto v : c) EXPECT_EQ(v, 0);
}

TEST(SecureBufferTest, MemoryIsZeroWhenItGoesBackToTheHeap) {
  struct Case {
    const char* name;
    std::function<void(std::unique_ptr<SecureBuffer<uint8_t>>&)> release;
  };
  const Case cases[] = {
      {"destruction", [](auto& buffer) { buffer.reset(); }},
      {"move assignment onto it",
       [](auto& buffer) {
         SecureBuffer<uint8_t> other(8);
         *buffer = std::move(other);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto buffer = std::make_unique<SecureBuffer<uint8_t>>(64);
    for (auto& b : *buffer) b = 0xCD;
    Watch(buffer->data(), buffer->size_bytes());
    c.release(buffer);
    EXPECT_EQ(free_watch.frees, 1);
    EXPECT_TRUE(free_watch.zero_when_freed);
  }
}

TEST(WipeOnDestroyTest, WipesTheWholeCapacityWhenItGoesAlsoWhileUnwinding) {
  for (bool unwinding : {false, true}) {
    SCOPED_TRACE(unwinding ? "unwinding" : "scope end");
    std::string secret;
    secret.reserve(100);
    secret.assign(80, 's');
    secret.resize(10);  // 70 stale characters beyond the length
    const char* buffer = secret.data();
    const std::size_t capacity = secret.capacity();
    try {
      WipeOnDestroy<std::string> guard(secret);
      if (unwinding) throw std::runtime_error("answer failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(secret.empty());
    ASSERT_EQ(secret.data(), buffer) << "the buffer is kept, not released unwiped";
    EXPECT_TRUE(AllZero(buffer, capacity + 1));
  }
}

TEST(WipeOnDestroyTest, GrowingWipesTheBufferItGivesUp) {
  struct Case {
    const char* name;
    std::function<void(WipeOnDestroy<std::string>&)> grow;
  };
  const Case cases[] = {
      {"Reserve", [](auto& guard) { guard.Reserve(1000); }},
      {"PushBack on a full buffer", [](auto& guard) { guard.PushBack('!'); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string secret(40, 'x');
    secret.resize(secret.capacity(), 'x');  // full, so PushBack must grow
    const std::string before = secret;
    WipeOnDestroy<std::string> guard(secret);
    Watch(secret.data(), secret.capacity() + 1);
    c.grow(guard);
    EXPECT_EQ(free_watch.frees, 1);
    EXPECT_TRUE(free_watch.zero_when_freed);
    EXPECT_EQ(std::string_view(secret).substr(0, before.size()), before) << "content kept";
  }
}

TEST(WipeOnDestroyTest, ShortSecretLeavesNoBytesInsideTheStringObject) {
  // Short strings keep their characters inside the object; growing moves
  // them out to the heap and must not leave them behind.
  const std::string_view secret = "0123456789abcde";
  std::string text(secret);
  WipeOnDestroy<std::string> guard(text);
  guard.Reserve(200);
  EXPECT_EQ(text, secret);
  // No run of four characters of the secret is left in the object (the heap
  // pointer and sizes took part of its room).
  const std::string_view object(reinterpret_cast<const char*>(&text), sizeof text);
  for (std::size_t at = 0; at + 4 <= secret.size(); ++at) {
    EXPECT_EQ(object.find(secret.substr(at, 4)), std::string_view::npos) << secret.substr(at, 4);
  }
}

TEST(SecureClearTest, EmptiesAndZeroesButKeepsTheBuffer) {
  std::wstring text(50, L'w');
  const wchar_t* buffer = text.data();
  const std::size_t capacity = text.capacity();
  SecureClear(text);
  EXPECT_TRUE(text.empty());
  ASSERT_EQ(text.data(), buffer);
  EXPECT_TRUE(std::all_of(buffer, buffer + capacity, [](wchar_t c) { return c == L'\0'; }));
}

}  // namespace
}  // namespace tw
