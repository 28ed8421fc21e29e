// The host window against the recording engine library: start-up order,
// the channels it registers, when it shows itself, what the engine may
// claim, and teardown.
#include "runner/flutter_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "runner/testing/fake_engine_control.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

EngineProject DataProject() {
  EngineProject project;
  project.assets_folder = L"data\\flutter_assets";
  project.icu_data_file = L"data\\icudtl.dat";
  project.aot_library_file = L"data\\app.so";
  return project;
}

class TestFlutterWindow : public FlutterWindow {
 public:
  using FlutterWindow::FlutterWindow;
  using FlutterWindow::HandleMessage;
};

// Position of `needle` in the log, failing the test when it is missing.
size_t LogPosition(const std::string& log, const std::string& needle) {
  const size_t at = log.find(needle);
  EXPECT_NE(at, std::string::npos) << needle << " missing from:\n" << log;
  return at;
}

class FlutterWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { FakeEngineReset(); }
};

TEST_F(FlutterWindowTest, StartsEngineRegistersChannelsAndShowsAfterTheFirstFrame) {
  TestFlutterWindow window(DataProject());
  ASSERT_TRUE(window.Create(L"Tidewarden Launcher", {10, 10}, {640, 480}));
  HWND handle = window.GetHandle();
  RECT client{};
  ::GetClientRect(handle, &client);

  const std::string log = FakeEngineLogText();
  const size_t create = LogPosition(
      log, "ViewControllerCreate " + std::to_string(client.right) + "x" +
               std::to_string(client.bottom) + " engine");
  const size_t security = LogPosition(log, "MessengerSetCallback fernbrook/security set");
  const size_t discord = LogPosition(log, "MessengerSetCallback tidewarden/discord_rpc set");
  const size_t frame = LogPosition(log, "EngineSetNextFrameCallback");
  const size_t redraw = LogPosition(log, "ViewControllerForceRedraw");
  EXPECT_LT(create, security);
  EXPECT_LT(security, discord);
  EXPECT_LT(discord, frame);
  EXPECT_LT(frame, redraw);

  // The view is the content, filling the client area.
  HWND view = FakeEngineViewWindow();
  EXPECT_EQ(::GetAncestor(view, GA_PARENT), handle);
  RECT view_rect{};
  ::GetClientRect(view, &view_rect);
  EXPECT_EQ(view_rect.right, client.right);
  EXPECT_EQ(view_rect.bottom, client.bottom);

  EXPECT_FALSE(::IsWindowVisible(handle)) << "hidden until a frame is drawn";
  ASSERT_TRUE(FakeEngineRunNextFrame());
  EXPECT_TRUE(::IsWindowVisible(handle));
}

TEST_F(FlutterWindowTest, FailedViewControllerFailsCreateWithoutChannels) {
  FakeEngineFailViewController(true);
  {
    TestFlutterWindow window(DataProject());
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(window.Create(L"Tidewarden Launcher", {10, 10}, {640, 480}));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Failed to create view controller.\n");
    EXPECT_FALSE(::IsWindowVisible(window.GetHandle()));
  }
  const std::string log = FakeEngineLogText();
  EXPECT_THAT(log, Not(HasSubstr("MessengerSetCallback")));
  EXPECT_THAT(log, Not(HasSubstr("EngineSetNextFrameCallback")));
  EXPECT_THAT(log, Not(HasSubstr("Destroy")));
}

TEST_F(FlutterWindowTest, ClaimedMessageNeverReachesTheWindowsOwnHandling) {
  TestFlutterWindow window(DataProject());
  ASSERT_TRUE(window.Create(L"Claims", {10, 10}, {640, 480}));
  HWND view = FakeEngineViewWindow();
  RECT before{};
  ::GetClientRect(view, &before);

  FakeEngineClaimMessage(WM_SIZE, 7);
  EXPECT_EQ(::SendMessageW(window.GetHandle(), WM_SIZE, 0, 0), 7);
  ::SetWindowPos(window.GetHandle(), nullptr, 0, 0, 900, 700, SWP_NOZORDER | SWP_NOMOVE);
  RECT after{};
  ::GetClientRect(view, &after);
  EXPECT_EQ(after.right, before.right) << "the window resized the content itself";
  EXPECT_EQ(after.bottom, before.bottom);

  // Unclaimed, the same resize reaches the content.
  FakeEngineClaimMessage(0, 0);
  ::SetWindowPos(window.GetHandle(), nullptr, 0, 0, 700, 500, SWP_NOZORDER | SWP_NOMOVE);
  RECT client{};
  ::GetClientRect(window.GetHandle(), &client);
  ::GetClientRect(view, &after);
  EXPECT_EQ(after.right, client.right);
}

TEST_F(FlutterWindowTest, FontChangeReloadsFontsOnlyWhileAControllerIsHeld) {
  TestFlutterWindow window(DataProject());
  ASSERT_TRUE(window.Create(L"Fonts", {10, 10}, {640, 480}));
  // Claiming WM_FONTCHANGE would hide it from the window: it must be offered
  // first and, unclaimed, reload the fonts and still get default handling.
  FakeEngineReset();
  EXPECT_EQ(::SendMessageW(window.GetHandle(), WM_FONTCHANGE, 0, 0), 0);
  const std::string log = FakeEngineLogText();
  EXPECT_LT(LogPosition(log, "HandleTopLevelWindowProc 0x1D"),
            LogPosition(log, "EngineReloadSystemFonts"));

  ::DestroyWindow(window.GetHandle());
  FakeEngineReset();
  EXPECT_EQ(window.HandleMessage(nullptr, WM_FONTCHANGE, 0, 0), 0);
  EXPECT_EQ(FakeEngineLogText(), "") << "no controller: only the default handling";
}

TEST_F(FlutterWindowTest, NativeDestructionOffersTheMessageThenEndsTheControllerOnce) {
  TestFlutterWindow window(DataProject());
  ASSERT_TRUE(window.Create(L"Closing", {10, 10}, {640, 480}));
  window.SetQuitWhenClosed(true);
  FakeEngineReset();
  ::DestroyWindow(window.GetHandle());
  const std::string log = FakeEngineLogText();
  EXPECT_LT(LogPosition(log, "HandleTopLevelWindowProc 0x2\n"),
            LogPosition(log, "ViewControllerDestroy"));
  EXPECT_EQ(log.find("ViewControllerDestroy"), log.rfind("ViewControllerDestroy"));
  EXPECT_THAT(log, Not(HasSubstr("EngineDestroy")));
  MSG message;
  EXPECT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(FlutterWindowTest, NothingIsOfferedToTheEngineOnceTheControllerIsGoing) {
  // The view tells the window it is going (WM_PARENTNOTIFY) from inside the
  // controller's destruction; the half-destroyed controller must not be
  // offered that message, however the teardown started.
  struct Case {
    const char* name;
    bool destroy_native_window;
  };
  for (const Case& c : {Case{"native window destroyed", true}, Case{"object destructed", false}}) {
    SCOPED_TRACE(c.name);
    FakeEngineReset();
    {
      TestFlutterWindow window(DataProject());
      ASSERT_TRUE(window.Create(L"Teardown", {10, 10}, {640, 480}));
      FakeEngineReset();
      if (c.destroy_native_window) ::DestroyWindow(window.GetHandle());
    }
    const std::string log = FakeEngineLogText();
    EXPECT_LT(LogPosition(log, "ViewControllerDestroy"), LogPosition(log, "SendParentNotify"));
    EXPECT_THAT(log, Not(HasSubstr("during controller destruction")));
  }
}

TEST_F(FlutterWindowTest, DestructingTheObjectEndsAControllerStillHeld) {
  {
    TestFlutterWindow window(DataProject());
    ASSERT_TRUE(window.Create(L"Object", {10, 10}, {640, 480}));
    FakeEngineReset();
  }
  const std::string log = FakeEngineLogText();
  EXPECT_THAT(log, HasSubstr("ViewControllerDestroy"));
  EXPECT_EQ(log.find("ViewControllerDestroy"), log.rfind("ViewControllerDestroy"));
  // The controller went before the native window: nothing more was offered.
  EXPECT_THAT(log, Not(HasSubstr("HandleTopLevelWindowProc")));
}

}  // namespace
