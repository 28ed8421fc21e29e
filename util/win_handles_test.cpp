#include "util/win_handles.h"

#include <gtest/gtest.h>

#include <thread>

namespace tw {
namespace {

// A mutex is owned per thread (its owner may take it again), so whether it is
// free is asked from another thread.
bool TakenFromAnotherThread(HANDLE mutex, DWORD timeout_ms) {
  bool taken = false;
  std::thread([&] { taken = static_cast<bool>(WaitForMutex(mutex, timeout_ms)); }).join();
  return taken;
}

TEST(WinHandlesTest, MutexOwnershipHoldsTheMutexUntilItGoes) {
  const UniqueKernelHandle mutex(::CreateMutexW(/*lpMutexAttributes=*/nullptr,
                                                /*bInitialOwner=*/FALSE,
                                                /*lpName=*/nullptr));
  ASSERT_TRUE(mutex);
  {
    const MutexOwnership held = WaitForMutex(mutex.get(), /*timeout_ms=*/1000);
    ASSERT_TRUE(held);
    EXPECT_FALSE(TakenFromAnotherThread(mutex.get(), /*timeout_ms=*/0));
  }
  EXPECT_TRUE(TakenFromAnotherThread(mutex.get(), /*timeout_ms=*/1000));
}

TEST(WinHandlesTest, FailedOpensGiveEmptyOwners) {
  // CreateFileW fails with INVALID_HANDLE_VALUE, OpenEventW with null: each
  // owner must read its own "none" as empty.
  const UniqueFile file(::CreateFileW(L"Z:\\no-such-folder-here\\file", GENERIC_READ,
                                      /*dwShareMode=*/0,
                                      /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                      /*dwFlagsAndAttributes=*/0, /*hTemplateFile=*/nullptr));
  EXPECT_FALSE(file);
  const UniqueKernelHandle event(
      ::OpenEventW(SYNCHRONIZE, /*bInheritHandle=*/FALSE, L"tidewarden-no-such-event-anywhere"));
  EXPECT_FALSE(event);
}

}  // namespace
}  // namespace tw
