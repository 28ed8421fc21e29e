// The engine, view-controller and view wrappers against the recording engine
// library: what they pass, in which order, and what they end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "runner/testing/fake_engine_control.h"
#include "runner/wrappers/engine_project.h"
#include "runner/wrappers/flutter_engine.h"
#include "runner/wrappers/flutter_view_controller.h"

namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

EngineProject DataProject() {
  EngineProject project;
  project.assets_folder = L"data\\flutter_assets";
  project.icu_data_file = L"data\\icudtl.dat";
  project.aot_library_file = L"data\\app.so";
  return project;
}

std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  const std::string text = FakeEngineLogText();
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

class FlutterWrappersTest : public ::testing::Test {
 protected:
  void SetUp() override { FakeEngineReset(); }
};

TEST_F(FlutterWrappersTest, EnginePropertiesComeFromTheProject) {
  struct Case {
    const char* name;
    std::string entry_point;
    std::vector<std::string> arguments;
    int32_t option_1;
    int32_t option_2;
    std::string want;
  };
  const std::string paths =
      "EngineCreate assets=data\\flutter_assets icu=data\\icudtl.dat aot=data\\app.so ";
  const Case cases[] = {
      {"no arguments: count 0, null array, empty entry point", "", {}, 0, 0,
       paths + "entry=\"\" argc=0 argv=null options=0,0"},
      {"arguments in order", "", {"--profile", "a b", "caf\xC3\xA9"}, 0, 0,
       paths + "entry=\"\" argc=3 argv=[\"--profile\",\"a b\",\"caf\xC3\xA9\"] options=0,0"},
      {"one empty argument still counts", "", {""}, 0, 0,
       paths + "entry=\"\" argc=1 argv=[\"\"] options=0,0"},
      {"entry point and options passed through", "devMain", {"x"}, 7, -3,
       paths + "entry=\"devMain\" argc=1 argv=[\"x\"] options=7,-3"},
  };
  for (const Case& c : cases) {
    FakeEngineReset();
    EngineProject project = DataProject();
    project.entry_point = c.entry_point;
    project.entry_point_arguments = c.arguments;
    project.engine_option_1 = c.option_1;
    project.engine_option_2 = c.option_2;
    flutter::FlutterEngine engine(project);
    const std::vector<std::string> lines = LogLines();
    ASSERT_GE(lines.size(), 2u) << c.name;
    EXPECT_EQ(lines[0], c.want) << c.name;
    EXPECT_EQ(lines[1], "EngineGetMessenger engine") << c.name;
    EXPECT_NE(engine.GetMessenger(), nullptr) << c.name;
  }
}

TEST_F(FlutterWrappersTest, EngineDestroysItsEngineUnlessOwnershipWasTransferred) {
  {
    flutter::FlutterEngine engine(DataProject());
  }
  EXPECT_THAT(FakeEngineLogText(), HasSubstr("EngineDestroy engine"));

  FakeEngineReset();
  {
    flutter::FlutterEngine engine(DataProject());
    EXPECT_NE(engine.TransferEngineOwnership(), nullptr);
    // Still usable after the transfer.
    engine.ReloadSystemFonts();
  }
  EXPECT_THAT(FakeEngineLogText(), HasSubstr("EngineReloadSystemFonts"));
  EXPECT_THAT(FakeEngineLogText(), Not(HasSubstr("EngineDestroy")));
}

TEST_F(FlutterWrappersTest, EngineWithoutAHandleNeitherDestroysNorHandsOutARegistrar) {
  FakeEngineFailEngineCreate(true);
  {
    flutter::FlutterEngine engine(DataProject());
    // The messenger is asked for regardless; the library decides.
    EXPECT_THAT(FakeEngineLogText(), HasSubstr("EngineGetMessenger null"));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(engine.GetPluginRegistrar("any"), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Cannot get plugin registrar on an engine that isn't running; call Run first.\n");
  }
  EXPECT_THAT(FakeEngineLogText(), Not(HasSubstr("EngineGetPluginRegistrar")));
  EXPECT_THAT(FakeEngineLogText(), Not(HasSubstr("EngineDestroy")));
}

TEST_F(FlutterWrappersTest, RegistrarComesFromTheLibraryForARunningEngine) {
  flutter::FlutterEngine engine(DataProject());
  EXPECT_NE(engine.GetPluginRegistrar("demo_plugin"), nullptr);
  EXPECT_THAT(FakeEngineLogText(), HasSubstr("EngineGetPluginRegistrar engine demo_plugin"));
}

TEST_F(FlutterWrappersTest, NextFrameCallbackRunsOnceAndOnlyTheLatest) {
  flutter::FlutterEngine engine(DataProject());
  std::vector<std::string> ran;
  engine.SetNextFrameCallback([&] { ran.push_back("first"); });
  engine.SetNextFrameCallback([&] { ran.push_back("second"); });
  ASSERT_TRUE(FakeEngineRunNextFrame());
  EXPECT_EQ(ran, std::vector<std::string>{"second"});
  // The library calls again (a later frame) without a new registration.
  ASSERT_TRUE(FakeEngineRunNextFrame());
  EXPECT_EQ(ran, std::vector<std::string>{"second"});

  // A callable that registers its successor while it runs.
  engine.SetNextFrameCallback([&] {
    ran.push_back("third");
    engine.SetNextFrameCallback([&] { ran.push_back("fourth"); });
  });
  FakeEngineRunNextFrame();
  FakeEngineRunNextFrame();
  FakeEngineRunNextFrame();
  EXPECT_EQ(ran, (std::vector<std::string>{"second", "third", "fourth"}));
}

TEST_F(FlutterWrappersTest, ThrowingNextFrameCallbackIsReportedAndNeverReachesTheEngine) {
  flutter::FlutterEngine engine(DataProject());
  engine.SetNextFrameCallback([] { throw std::runtime_error("show failed"); });
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(FakeEngineRunNextFrame());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Error: exception in next-frame callback: show failed\n");
  // Spent like one that returned: a later frame runs and reports nothing.
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(FakeEngineRunNextFrame());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(FlutterWrappersTest, ViewControllerCreatesEngineThenControllerThenView) {
  {
    flutter::FlutterViewController controller(800, 600, DataProject());
    ASSERT_NE(controller.GetEngine(), nullptr);
    ASSERT_NE(controller.GetView(), nullptr);
    EXPECT_EQ(controller.GetView()->GetHWND(), FakeEngineViewWindow());
    EXPECT_NE(FakeEngineViewWindow(), nullptr);
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 4u) << FakeEngineLogText();
    EXPECT_THAT(lines[0], HasSubstr("EngineCreate "));
    EXPECT_EQ(lines[1], "EngineGetMessenger engine");
    EXPECT_EQ(lines[2], "ViewControllerCreate 800x600 engine");
    EXPECT_EQ(lines[3], "ViewControllerGetView");
    FakeEngineReset();
  }
  // Only the controller is destroyed; it ends the engine itself.
  EXPECT_EQ(LogLines(), std::vector<std::string>{"ViewControllerDestroy"});
}

TEST_F(FlutterWrappersTest, FailedViewControllerReportsAndEndsNothing) {
  FakeEngineFailViewController(true);
  {
    ::testing::internal::CaptureStderr();
    flutter::FlutterViewController controller(640, 480, DataProject());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Failed to create view controller.\n");
    EXPECT_EQ(controller.GetView(), nullptr);
    // The engine wrapper lives on with its messenger, without the engine.
    ASSERT_NE(controller.GetEngine(), nullptr);
    EXPECT_NE(controller.GetEngine()->GetMessenger(), nullptr);
    FakeEngineReset();
  }
  EXPECT_THAT(LogLines(), IsEmpty()) << "no destroy function may be called";
}

TEST_F(FlutterWrappersTest, TopLevelMessagesAreClaimedOnlyWhenTheLibrarySaysSo) {
  flutter::FlutterViewController controller(100, 100, DataProject());
  FakeEngineClaimMessage(WM_SIZE, 42);
  std::optional<LRESULT> claimed = controller.HandleTopLevelWindowProc(nullptr, WM_SIZE, 0, 0);
  ASSERT_TRUE(claimed.has_value());
  EXPECT_EQ(*claimed, 42);
  EXPECT_FALSE(controller.HandleTopLevelWindowProc(nullptr, WM_MOVE, 0, 0).has_value());
  EXPECT_THAT(FakeEngineLogText(), HasSubstr("HandleTopLevelWindowProc 0x5\n"));
  EXPECT_THAT(FakeEngineLogText(), HasSubstr("HandleTopLevelWindowProc 0x3\n"));
}

}  // namespace
