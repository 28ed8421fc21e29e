// The console rule, with the console calls answered and recorded by the
// stand-in (the test process's own console and streams stay untouched).
#include "runner/console.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "runner/testing/dev_engine_session.h"
#include "runner/testing/recording_console.h"

namespace tw::runner {
namespace {

using test::RecordingConsole;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;

using ConsoleTest = test::DevEngineSession;

const std::vector<std::string> kOwnConsole = {
    "AllocConsole",
    "freopen_s(CONOUT$, w, stdout)",
    "freopen_s(CONOUT$, w, stderr)",
};

std::vector<std::string> Then(std::vector<std::string> first,
                              const std::vector<std::string>& rest) {
  first.insert(first.end(), rest.begin(), rest.end());
  return first;
}

TEST_F(ConsoleTest, AttachesFirstAndMakesAConsoleOnlyWithoutOneAndUnderADebugger) {
  struct Case {
    const char* name;
    bool attach_succeeds;
    bool debugger_present;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      // Attached: no debugger question, nothing reopened.
      {"attached, no debugger", true, false, {"AttachConsole(-1)"}},
      {"attached, debugger", true, true, {"AttachConsole(-1)"}},
      {"no console, no debugger", false, false, {"AttachConsole(-1)", "IsDebuggerPresent"}},
      {"no console, debugger", false, true,
       Then({"AttachConsole(-1)", "IsDebuggerPresent"}, kOwnConsole)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DevEngineReset();
    RecordingConsole console(
        {.attach_succeeds = c.attach_succeeds, .debugger_present = c.debugger_present});
    SetUpConsole();
    EXPECT_THAT(console.calls(), ElementsAreArray(c.want));
    const bool own_console = !c.attach_succeeds && c.debugger_present;
    // The engine library's output follows only a console of our own.
    EXPECT_EQ(test::Transcript().find("resync-output-streams") != std::string::npos, own_console);
  }
}

TEST_F(ConsoleTest, OwnConsoleFallsBackToTheDescriptorsAndStopsWhenNoneCanBeMade) {
  const std::string out = std::to_string(_fileno(stdout));
  ASSERT_GE(_fileno(stdout), 0);
  struct Case {
    const char* name;
    bool alloc_succeeds;
    bool reopen_succeeds;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"reopened", true, true, kOwnConsole},
      {"reopen refused: descriptors 1 and 2 follow standard output",
       true,
       false,
       {"AllocConsole", "freopen_s(CONOUT$, w, stdout)", "_dup2(" + out + ", 1)",
        "freopen_s(CONOUT$, w, stderr)", "_dup2(" + out + ", 2)"}},
      {"no console allocated: nothing else", false, true, {"AllocConsole"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DevEngineReset();
    RecordingConsole console(
        {.alloc_succeeds = c.alloc_succeeds, .reopen_succeeds = c.reopen_succeeds});
    CreateConsoleForDebugging();
    EXPECT_THAT(console.calls(), ElementsAreArray(c.want));
    if (c.alloc_succeeds) {
      EXPECT_THAT(test::Transcript(), HasSubstr("resync-output-streams"));
    } else {
      EXPECT_THAT(test::Transcript(), Not(HasSubstr("resync-output-streams")));
    }
  }
}

}  // namespace
}  // namespace tw::runner
