// The engine, view-controller and view wrappers against the development
// engine: what they pass, in which order, and what they end (read from the
// engine's transcript; every misuse of the interface fails the test).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "runner/testing/dev_engine_session.h"
#include "runner/wrappers/engine_project.h"
#include "runner/wrappers/flutter_engine.h"
#include "runner/wrappers/flutter_view_controller.h"
#include "testing/allocation_failure.h"

namespace tw::runner {
namespace {

using test::DataProject;
using test::EngineSetting;
using test::Transcript;
using test::TranscriptLines;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

using FlutterWrappersTest = test::DevEngineSession;

// Lines of the transcript that start with `prefix`, leaving out those that
// start with `except` (when given).
int CountLines(const std::vector<std::string>& lines, const std::string& prefix,
               const std::string& except = "") {
  int count = 0;
  for (const std::string& line : lines) {
    if (line.rfind(prefix, 0) == 0 && (except.empty() || line.rfind(except, 0) != 0)) ++count;
  }
  return count;
}

// Fails each allocation of `construct` in turn (then none) and checks that
// every engine and view controller the library made is ended exactly once,
// whichever step threw. Returns how many of the failures came after the
// library had made `made_first` (so that the walk shows the fault it is for).
template <typename Construct>
int WalkAllocationFailures(Construct construct, const std::string& made_first) {
  int failures_after = 0;
  for (long nth = 1;; ++nth) {
    SCOPED_TRACE("allocation " + std::to_string(nth));
    DevEngineReset();
    bool failed = false;
    {
      tw::test::FailAllocation fail(nth);
      try {
        construct();
      } catch (const std::bad_alloc&) {
      }
      failed = fail.failed();
    }
    const std::vector<std::string> lines = TranscriptLines();
    const int engines = CountLines(lines, "engine-create ", "engine-create failed");
    const int controllers =
        CountLines(lines, "view-controller-create ", "view-controller-create failed");
    EXPECT_EQ(CountLines(lines, "engine-destroy"), engines) << Transcript();
    EXPECT_EQ(CountLines(lines, "view-controller-destroy"), controllers) << Transcript();
    if (!failed) break;
    if (CountLines(lines, made_first) > 0) ++failures_after;
    if (nth > 1000) {
      ADD_FAILURE() << "construction never got past its allocations";
      break;
    }
  }
  return failures_after;
}

TEST_F(FlutterWrappersTest, EnginePropertiesComeFromTheProject) {
  struct Case {
    const char* name;
    std::string entry_point;
    std::vector<std::string> arguments;
    int32_t option_1;
    int32_t option_2;
    std::string want;
  };
  // Arguments show as the hex of their UTF-8 bytes.
  const std::string paths =
      "properties assets=data\\flutter_assets icu=data\\icudtl.dat aot=data\\app.so ";
  const Case cases[] = {
      {"no arguments: count 0, null array, empty entry point",
       "",
       {},
       0,
       0,
       paths + "entry=\"\" argc=0 argv=null options=0,0"},
      {"arguments in order",
       "",
       {"--profile", "a b", "caf\xC3\xA9"},
       0,
       0,
       paths + "entry=\"\" argc=3 argv=[2d2d70726f66696c65,612062,636166c3a9] options=0,0"},
      {"one empty argument still counts",
       "",
       {""},
       0,
       0,
       paths + "entry=\"\" argc=1 argv=[] options=0,0"},
      {"entry point and options passed through",
       "devMain",
       {"x"},
       7,
       -3,
       paths + "entry=\"devMain\" argc=1 argv=[78] options=7,-3"},
  };
  for (const Case& c : cases) {
    DevEngineReset();
    EngineProject project = DataProject();
    project.entry_point = c.entry_point;
    project.entry_point_arguments = c.arguments;
    project.engine_option_1 = c.option_1;
    project.engine_option_2 = c.option_2;
    flutter::FlutterEngine engine(project);
    const std::vector<std::string> lines = TranscriptLines();
    ASSERT_GE(lines.size(), 3u) << c.name;
    EXPECT_THAT(lines[0], StartsWith("engine-create ")) << c.name;
    EXPECT_EQ(lines[1], c.want) << c.name;
    EXPECT_EQ(lines[2], "get-messenger") << c.name;
    EXPECT_NE(engine.GetMessenger(), nullptr) << c.name;
  }
}

TEST_F(FlutterWrappersTest, EngineDestroysItsEngineUnlessOwnershipWasTransferred) {
  { flutter::FlutterEngine engine(DataProject()); }
  EXPECT_THAT(Transcript(), HasSubstr("engine-destroy "));

  DevEngineReset();
  {
    flutter::FlutterEngine engine(DataProject());
    EXPECT_NE(engine.TransferEngineOwnership(), nullptr);
    // Still usable after the transfer.
    engine.ReloadSystemFonts();
  }
  EXPECT_THAT(Transcript(), HasSubstr("reload-system-fonts"));
  EXPECT_THAT(Transcript(), Not(HasSubstr("engine-destroy")));
}

TEST_F(FlutterWrappersTest, EngineIsDestroyedOnceWhenAStepAfterItsCreationThrows) {
  const EngineProject project = DataProject();
  const int failures_after_create =
      WalkAllocationFailures([&] { flutter::FlutterEngine engine(project); }, "engine-create ");
  EXPECT_GT(failures_after_create, 0) << "no allocation failed after the engine existed";
}

TEST_F(FlutterWrappersTest, ViewControllerIsDestroyedOnceWhenAStepAfterItsCreationThrows) {
  const EngineProject project = DataProject();
  const int failures_after_create =
      WalkAllocationFailures([&] { flutter::FlutterViewController controller(320, 240, project); },
                             "view-controller-create 320x240");
  EXPECT_GT(failures_after_create, 0) << "no allocation failed after the controller existed";
}

TEST_F(FlutterWrappersTest, EngineWithoutAHandleNeitherDestroysNorHandsOutARegistrar) {
  EngineSetting fail("DEV_ENGINE_FAIL_ENGINE_CREATE", "1");
  {
    ::testing::internal::CaptureStderr();
    flutter::FlutterEngine engine(DataProject());
    // The messenger is asked for regardless; the library decides (the
    // development engine reports the null handle as misuse).
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                HasSubstr("EngineGetMessenger on an engine handle this library never issued"));
    EXPECT_THAT(Transcript(), HasSubstr("engine-create failed"));
    expected_misuse_ = 1;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(engine.GetPluginRegistrar("any"), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Cannot get plugin registrar on an engine that isn't running; call Run first.\n");
  }
  EXPECT_THAT(Transcript(), Not(HasSubstr("plugin-registrar")));
  EXPECT_THAT(Transcript(), Not(HasSubstr("engine-destroy")));
}

TEST_F(FlutterWrappersTest, RegistrarComesFromTheLibraryForARunningEngine) {
  flutter::FlutterEngine engine(DataProject());
  EXPECT_NE(engine.GetPluginRegistrar("demo_plugin"), nullptr);
  EXPECT_THAT(Transcript(), HasSubstr("plugin-registrar demo_plugin"));
}

TEST_F(FlutterWrappersTest, NextFrameCallbackRunsOnceAndOnlyTheLatest) {
  flutter::FlutterEngine engine(DataProject());
  std::vector<std::string> ran;
  FlutterDesktopEngine* library_engine = DevEngineNewestEngine();
  ASSERT_NE(library_engine, nullptr);
  engine.SetNextFrameCallback([&] { ran.push_back("first"); });
  engine.SetNextFrameCallback([&] { ran.push_back("second"); });
  ASSERT_TRUE(DevEngineRenderFrame(library_engine));
  EXPECT_EQ(ran, std::vector<std::string>{"second"});
  // The library calls again without a new registration.
  ASSERT_TRUE(DevEngineRepeatFrameCallback(library_engine));
  EXPECT_EQ(ran, std::vector<std::string>{"second"});

  // A callable that registers its successor while it runs.
  engine.SetNextFrameCallback([&] {
    ran.push_back("third");
    engine.SetNextFrameCallback([&] { ran.push_back("fourth"); });
  });
  EXPECT_TRUE(DevEngineRenderFrame(library_engine));
  EXPECT_TRUE(DevEngineRenderFrame(library_engine));
  EXPECT_FALSE(DevEngineRenderFrame(library_engine)) << "nothing registered after the fourth";
  EXPECT_TRUE(DevEngineRepeatFrameCallback(library_engine));
  EXPECT_EQ(ran, (std::vector<std::string>{"second", "third", "fourth"}));
}

TEST_F(FlutterWrappersTest, ThrowingNextFrameCallbackIsReportedAndNeverReachesTheEngine) {
  flutter::FlutterEngine engine(DataProject());
  FlutterDesktopEngine* library_engine = DevEngineNewestEngine();
  ASSERT_NE(library_engine, nullptr);
  engine.SetNextFrameCallback([] { throw std::runtime_error("show failed"); });
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(DevEngineRenderFrame(library_engine));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Error: exception in next-frame callback: show failed\n");
  // Spent like one that returned: called again, it reports nothing.
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(DevEngineRepeatFrameCallback(library_engine));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(FlutterWrappersTest, ViewControllerCreatesEngineThenControllerThenView) {
  {
    flutter::FlutterViewController controller(800, 600, DataProject());
    ASSERT_NE(controller.GetEngine(), nullptr);
    ASSERT_NE(controller.GetView(), nullptr);
    EXPECT_EQ(controller.GetView()->GetHWND(), DevEngineViewWindow());
    EXPECT_NE(DevEngineViewWindow(), nullptr);
    const std::vector<std::string> lines = TranscriptLines();
    ASSERT_EQ(lines.size(), 5u) << Transcript();
    EXPECT_THAT(lines[0], StartsWith("engine-create "));
    EXPECT_THAT(lines[1], StartsWith("properties "));
    EXPECT_EQ(lines[2], "get-messenger");
    EXPECT_EQ(lines[3], "view-controller-create 800x600");
    EXPECT_EQ(lines[4], "get-view");
    DevEngineReset();
  }
  // Only the controller is destroyed; it ends the engine itself (an
  // EngineDestroy of the engine it owns, or of the ended one, is misuse).
  const std::vector<std::string> lines = TranscriptLines();
  ASSERT_EQ(lines.size(), 2u) << Transcript();
  EXPECT_EQ(lines[0], "view-controller-destroy");
  EXPECT_THAT(lines[1], StartsWith("engine-destroy "));
}

TEST_F(FlutterWrappersTest, FailedViewControllerReportsAndEndsNothing) {
  EngineSetting fail("DEV_ENGINE_FAIL_VIEW_CONTROLLER", "1");
  {
    ::testing::internal::CaptureStderr();
    flutter::FlutterViewController controller(640, 480, DataProject());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Failed to create view controller.\n");
    EXPECT_EQ(controller.GetView(), nullptr);
    // The engine wrapper lives on with its messenger, without the engine.
    ASSERT_NE(controller.GetEngine(), nullptr);
    EXPECT_NE(controller.GetEngine()->GetMessenger(), nullptr);
    DevEngineReset();
  }
  EXPECT_THAT(TranscriptLines(), IsEmpty()) << "no destroy function may be called";
}

TEST_F(FlutterWrappersTest, TopLevelMessagesAreClaimedOnlyWhenTheLibrarySaysSo) {
  flutter::FlutterViewController controller(100, 100, DataProject());
  EngineSetting claim("DEV_ENGINE_CLAIM", "5:42");  // WM_SIZE
  std::optional<LRESULT> claimed = controller.HandleTopLevelWindowProc(nullptr, WM_SIZE, 0, 0);
  ASSERT_TRUE(claimed.has_value());
  EXPECT_EQ(*claimed, 42);
  EXPECT_FALSE(controller.HandleTopLevelWindowProc(nullptr, WM_MOVE, 0, 0).has_value());
  EXPECT_THAT(Transcript(), HasSubstr("offered 0x5\nclaimed 0x5\n"));
  EXPECT_THAT(Transcript(), HasSubstr("offered 0x3\n"));
  EXPECT_THAT(Transcript(), Not(HasSubstr("claimed 0x3")));
}

}  // namespace
}  // namespace tw::runner
