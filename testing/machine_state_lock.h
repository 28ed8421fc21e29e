// The lock that keeps tests of machine-wide state apart: the one credential
// of the token store and the MachineGuid value, which the security tests
// change and the launcher under the end-to-end tests reads and writes. ctest
// runs test processes in parallel in one Wine prefix; every one that touches
// that state holds this lock while it does.
//
// Example:
//
//   tw::test::MachineStateLock lock;
//   if (!lock.held()) return;   // timed out or failed: do not touch the state
//
// Released when the object goes. Windows only.
#ifndef TESTING_MACHINE_STATE_LOCK_H_
#define TESTING_MACHINE_STATE_LOCK_H_

#include <windows.h>

#include "util/win_handles.h"

namespace tw::test {

class MachineStateLock {
 public:
  // Waits up to `timeout_ms` for the lock.
  explicit MachineStateLock(DWORD timeout_ms = 120000)
      : mutex_(::CreateMutexW(/*lpMutexAttributes=*/nullptr, /*bInitialOwner=*/FALSE,
                              L"Local\\tidewarden-security-tests")) {
    if (mutex_) held_ = WaitForMutex(mutex_.get(), timeout_ms);
  }

  bool held() const { return static_cast<bool>(held_); }

 private:
  UniqueKernelHandle mutex_;
  MutexOwnership held_;  // declared after mutex_: released before it is closed
};

}  // namespace tw::test

#endif  // TESTING_MACHINE_STATE_LOCK_H_
