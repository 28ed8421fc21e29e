// The one shape of the shell's seams: a null entry stands for the platform
// call, and the table an override replaced is back when it ends. (The
// addresses of imported functions differ between a static table and code
// that takes them at run time, so the platform entries are checked for being
// there and for not being the replacement, not compared.)
#include <windows.h>
#include <gtest/gtest.h>
#include <io.h>
#include <stdio.h>

#include "runner/console_seam.h"
#include "runner/dwm_seam.h"
#include "testing/scoped_override.h"

namespace tw::runner {
namespace {

using DwmOverride = tw::test::ScopedOverride<DwmApi, &SetDwmApiForTesting>;
using ConsoleOverride = tw::test::ScopedOverride<ConsoleApi, &SetConsoleApiForTesting>;

HRESULT WINAPI NoAttribute(HWND, DWORD, LPCVOID, DWORD) { return E_FAIL; }
BOOL WINAPI NoAttach(DWORD) { return FALSE; }
BOOL WINAPI NoDebugger() { return FALSE; }
BOOL WINAPI NoAlloc() { return FALSE; }
errno_t __cdecl NoReopen(FILE**, const char*, const char*, FILE*) { return EINVAL; }
int __cdecl NoDup(int, int) { return -1; }

TEST(RunnerSeamTest, DwmNullEntryIsThePlatformCallAndTheReplacedTableComesBack) {
  const auto before = CurrentDwmApi().set_window_attribute;
  ASSERT_NE(before, nullptr);
  {
    const DwmOverride replaced(DwmApi{&NoAttribute});
    EXPECT_EQ(CurrentDwmApi().set_window_attribute, &NoAttribute);
    {
      const DwmOverride platform(DwmApi{nullptr});
      EXPECT_NE(CurrentDwmApi().set_window_attribute, nullptr);
      EXPECT_NE(CurrentDwmApi().set_window_attribute, &NoAttribute);
    }
    EXPECT_EQ(CurrentDwmApi().set_window_attribute, &NoAttribute);
  }
  EXPECT_EQ(CurrentDwmApi().set_window_attribute, before);
}

TEST(RunnerSeamTest, ConsoleNullEntriesAreThePlatformCallsAndTheReplacedTableComesBack) {
  const ConsoleApi before = CurrentConsoleApi();
  const ConsoleApi replacement{&NoAttach, &NoDebugger, &NoAlloc, &NoReopen, &NoDup};
  {
    const ConsoleOverride replaced(replacement);
    const ConsoleApi& now = CurrentConsoleApi();
    EXPECT_EQ(now.attach_console, &NoAttach);
    EXPECT_EQ(now.is_debugger_present, &NoDebugger);
    EXPECT_EQ(now.alloc_console, &NoAlloc);
    EXPECT_EQ(now.reopen_stream, &NoReopen);
    EXPECT_EQ(now.duplicate_descriptor, &NoDup);
    {
      const ConsoleOverride platform(ConsoleApi{nullptr, nullptr, nullptr, nullptr, nullptr});
      const ConsoleApi& platform_now = CurrentConsoleApi();
      EXPECT_NE(platform_now.attach_console, nullptr);
      EXPECT_NE(platform_now.attach_console, &NoAttach);
      EXPECT_NE(platform_now.is_debugger_present, nullptr);
      EXPECT_NE(platform_now.is_debugger_present, &NoDebugger);
      EXPECT_NE(platform_now.alloc_console, nullptr);
      EXPECT_NE(platform_now.alloc_console, &NoAlloc);
      EXPECT_NE(platform_now.reopen_stream, nullptr);
      EXPECT_NE(platform_now.reopen_stream, &NoReopen);
      EXPECT_NE(platform_now.duplicate_descriptor, nullptr);
      EXPECT_NE(platform_now.duplicate_descriptor, &NoDup);
    }
    EXPECT_EQ(CurrentConsoleApi().is_debugger_present, &NoDebugger);
  }
  const ConsoleApi& after = CurrentConsoleApi();
  EXPECT_EQ(after.attach_console, before.attach_console);
  EXPECT_EQ(after.is_debugger_present, before.is_debugger_present);
  EXPECT_EQ(after.alloc_console, before.alloc_console);
  EXPECT_EQ(after.reopen_stream, before.reopen_stream);
  EXPECT_EQ(after.duplicate_descriptor, before.duplicate_descriptor);
}

}  // namespace
}  // namespace tw::runner
