// The host window against the development engine: start-up order, the
// channels it registers, when it shows itself, what the engine may claim,
// and teardown (read from the engine's transcript; every misuse of the
// interface fails the test).
#include "runner/flutter_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "runner/testing/dev_engine_session.h"

namespace tw::runner {
namespace {

using test::DataProject;
using test::EngineSetting;
using test::Transcript;
using ::testing::HasSubstr;
using ::testing::Not;

class TestFlutterWindow : public FlutterWindow {
 public:
  using FlutterWindow::FlutterWindow;
  using FlutterWindow::HandleMessage;
};

// Position of `needle` in the transcript, failing the test when it is missing.
size_t LogPosition(const std::string& log, const std::string& needle) {
  const size_t at = log.find(needle);
  EXPECT_NE(at, std::string::npos) << needle << " missing from:\n" << log;
  return at;
}

using FlutterWindowTest = test::DevEngineSession;

// Watches, on this thread, for the WM_PARENTNOTIFY that a child window sends
// its parent as it is destroyed, and keeps the engine transcript of that
// moment.
class ParentNotifyWatch {
 public:
  explicit ParentNotifyWatch(HWND parent) : parent_(parent) {
    current_ = this;
    hook_ = ::SetWindowsHookExW(WH_CALLWNDPROC, &Hook, /*hmod=*/nullptr, ::GetCurrentThreadId());
  }
  ~ParentNotifyWatch() {
    if (hook_ != nullptr) ::UnhookWindowsHookEx(hook_);
    current_ = nullptr;
  }
  ParentNotifyWatch(const ParentNotifyWatch&) = delete;
  ParentNotifyWatch& operator=(const ParentNotifyWatch&) = delete;

  bool hooked() const { return hook_ != nullptr; }
  // Empty until the notification came; then the transcript at that moment.
  const std::string& transcript_then() const { return transcript_then_; }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wparam, LPARAM lparam) noexcept {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (code == HC_ACTION && current_ != nullptr && sent->hwnd == current_->parent_ &&
        sent->message == WM_PARENTNOTIFY && LOWORD(sent->wParam) == WM_DESTROY &&
        current_->transcript_then_.empty()) {
      try {
        current_->transcript_then_ = Transcript() + "(notified)";
      } catch (...) {
        current_->transcript_then_ = "(notified, transcript unreadable)";
      }
    }
    return ::CallNextHookEx(/*hhk=*/nullptr, code, wparam, lparam);
  }

  static inline ParentNotifyWatch* current_ = nullptr;
  HWND parent_;
  HHOOK hook_ = nullptr;
  std::string transcript_then_;
};

TEST_F(FlutterWindowTest, StartsEngineRegistersChannelsAndShowsAfterTheFirstFrame) {
  TestFlutterWindow window(DataProject());
  ASSERT_TRUE(window.Create(L"Tidewarden Launcher", {10, 10}, {640, 480}));
  HWND handle = window.GetHandle();
  RECT client{};
  ::GetClientRect(handle, &client);

  const std::string log = Transcript();
  const size_t create = LogPosition(log, "view-controller-create " + std::to_string(client.right) +
                                             "x" + std::to_string(client.bottom) + "\n");
  const size_t security = LogPosition(log, "set-callback fernbrook/security on");
  const size_t discord = LogPosition(log, "set-callback tidewarden/discord_rpc on");
  const size_t frame = LogPosition(log, "set-next-frame-callback");
  const size_t redraw = LogPosition(log, "force-redraw");
  EXPECT_LT(create, security);
  EXPECT_LT(security, discord);
  EXPECT_LT(discord, frame);
  EXPECT_LT(frame, redraw);

  // The view is the content, filling the client area.
  HWND view = DevEngineViewWindow();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(::GetAncestor(view, GA_PARENT), handle);
  RECT view_rect{};
  ::GetClientRect(view, &view_rect);
  EXPECT_EQ(view_rect.right, client.right);
  EXPECT_EQ(view_rect.bottom, client.bottom);

  EXPECT_FALSE(::IsWindowVisible(handle)) << "hidden until a frame is drawn";
  ASSERT_TRUE(DevEngineRenderFrame(DevEngineNewestEngine()));
  EXPECT_TRUE(::IsWindowVisible(handle));
}

TEST_F(FlutterWindowTest, FailedViewControllerFailsCreateWithoutChannels) {
  EngineSetting fail("DEV_ENGINE_FAIL_VIEW_CONTROLLER", "1");
  {
    TestFlutterWindow window(DataProject());
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(window.Create(L"Tidewarden Launcher", {10, 10}, {640, 480}));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Failed to create view controller.\n");
    EXPECT_FALSE(::IsWindowVisible(window.GetHandle()));
  }
  const std::string log = Transcript();
  EXPECT_THAT(log, HasSubstr("view-controller-create failed"));
  EXPECT_THAT(log, Not(HasSubstr("set-callback")));
  EXPECT_THAT(log, Not(HasSubstr("set-next-frame-callback")));
  EXPECT_THAT(log, Not(HasSubstr("destroy")));
}

TEST_F(FlutterWindowTest, ClaimedMessageNeverReachesTheWindowsOwnHandling) {
  TestFlutterWindow window(DataProject());
  ASSERT_TRUE(window.Create(L"Claims", {10, 10}, {640, 480}));
  HWND view = DevEngineViewWindow();
  RECT before{};
  ::GetClientRect(view, &before);
  RECT after{};
  {
    EngineSetting claim("DEV_ENGINE_CLAIM", "5:7");  // WM_SIZE
    EXPECT_EQ(::SendMessageW(window.GetHandle(), WM_SIZE, 0, 0), 7);
    ::SetWindowPos(window.GetHandle(), nullptr, 0, 0, 900, 700, SWP_NOZORDER | SWP_NOMOVE);
    ::GetClientRect(view, &after);
    EXPECT_EQ(after.right, before.right) << "the window resized the content itself";
    EXPECT_EQ(after.bottom, before.bottom);
  }

  // Unclaimed, the same resize reaches the content.
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
  DevEngineReset();
  EXPECT_EQ(::SendMessageW(window.GetHandle(), WM_FONTCHANGE, 0, 0), 0);
  const std::string log = Transcript();
  EXPECT_LT(LogPosition(log, "offered 0x1D\n"), LogPosition(log, "reload-system-fonts"));

  ::DestroyWindow(window.GetHandle());
  DevEngineReset();
  EXPECT_EQ(window.HandleMessage(nullptr, WM_FONTCHANGE, 0, 0), 0);
  EXPECT_EQ(Transcript(), "") << "no controller: only the default handling";
}

TEST_F(FlutterWindowTest, NativeDestructionOffersTheMessageThenEndsTheControllerOnce) {
  TestFlutterWindow window(DataProject());
  ASSERT_TRUE(window.Create(L"Closing", {10, 10}, {640, 480}));
  window.SetQuitWhenClosed(true);
  DevEngineReset();
  ::DestroyWindow(window.GetHandle());
  // An EngineDestroy of the engine the controller owned would be misuse.
  const std::string log = Transcript();
  EXPECT_LT(LogPosition(log, "offered 0x2\n"), LogPosition(log, "view-controller-destroy"));
  EXPECT_EQ(log.find("view-controller-destroy"), log.rfind("view-controller-destroy"));
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
    auto window = std::make_unique<TestFlutterWindow>(DataProject());
    ASSERT_TRUE(window->Create(L"Teardown", {10, 10}, {640, 480}));
    DevEngineReset();
    ParentNotifyWatch watch(window->GetHandle());
    ASSERT_TRUE(watch.hooked());
    if (c.destroy_native_window) ::DestroyWindow(window->GetHandle());
    window.reset();
    const std::string transcript_then = watch.transcript_then();
    // The notification came from inside the controller's destruction...
    EXPECT_THAT(transcript_then, HasSubstr("view-controller-destroy\n(notified)"));
    // ...and was not offered (the engine counts an offer then as misuse).
    EXPECT_THAT(Transcript(), Not(HasSubstr("during controller destruction")));
  }
}

TEST_F(FlutterWindowTest, DestructingTheObjectEndsAControllerStillHeld) {
  {
    TestFlutterWindow window(DataProject());
    ASSERT_TRUE(window.Create(L"Object", {10, 10}, {640, 480}));
    DevEngineReset();
  }
  const std::string log = Transcript();
  EXPECT_THAT(log, HasSubstr("view-controller-destroy"));
  EXPECT_EQ(log.find("view-controller-destroy"), log.rfind("view-controller-destroy"));
  // The controller went before the native window: nothing more was offered.
  EXPECT_THAT(log, Not(HasSubstr("offered")));
}

}  // namespace
}  // namespace tw::runner
