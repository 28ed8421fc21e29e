// Drives real windows (Wine under a private X server in the test run) with
// the recording engine library in place of the engine.
#include "runner/win32_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "runner/testing/dev_engine_session.h"
#include "runner/testing/recording_dwm.h"
#include "testing/stderr_capture.h"

namespace tw::runner {
namespace {

constexpr wchar_t kClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

bool ClassIsRegistered() {
  WNDCLASSEXW info{};
  info.cbSize = sizeof(info);
  return ::GetClassInfoExW(::GetModuleHandleW(nullptr), kClassName, &info) != 0;
}

// Counts the hooks and exposes the message handler.
class TestWindow : public Win32Window {
 public:
  bool create_result = true;
  int creates = 0;
  int destroys = 0;

  using Win32Window::HandleMessage;

 protected:
  bool OnCreate() override {
    ++creates;
    return create_result;
  }
  void OnDestroy() override { ++destroys; }
};

// A window whose handling of WM_GETTEXTLENGTH runs `fault` first.
class FaultyWindow : public Win32Window {
 public:
  std::function<void()> fault;

 protected:
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) override {
    if (message == WM_GETTEXTLENGTH && fault) fault();
    return Win32Window::HandleMessage(window, message, wparam, lparam);
  }
};

// A window whose OnDestroy runs `fault` once armed (Create runs OnDestroy
// too, before there is a native window).
class TeardownFaultWindow : public Win32Window {
 public:
  std::function<void()> fault;

 protected:
  void OnDestroy() override {
    if (fault) fault();
  }
};

// Drains the thread's queue; true when a WM_QUIT was among the messages.
bool DrainQueueSawQuit() {
  bool quit = false;
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) quit = true;
    ::DispatchMessageW(&message);
  }
  return quit;
}

class Win32WindowTest : public test::DevEngineSession {
 protected:
  void SetUp() override {
    DevEngineSession::SetUp();
    DrainQueueSawQuit();
  }
  void TearDown() override {
    DrainQueueSawQuit();
    DevEngineSession::TearDown();
  }
};

TEST_F(Win32WindowTest, CreateScalesOriginAndSizeByTheMonitorDpi) {
  // Sizes stay within the test screen: a window larger than the screen is
  // clamped by the system.
  struct Case {
    UINT dpi;
    Win32Window::Point origin;
    Win32Window::Size size;
    RECT want;  // left, top, right, bottom
  };
  const Case cases[] = {
      {96, {10, 10}, {1280, 720}, {10, 10, 10 + 1280, 10 + 720}},
      {120, {10, 10}, {1280, 720}, {12, 12, 12 + 1600, 12 + 900}},  // 12.5 truncated
      {144, {10, 10}, {800, 600}, {15, 15, 15 + 1200, 15 + 900}},
      {168, {3, 7}, {333, 201}, {5, 12, 5 + 582, 12 + 351}},  // 5.25, 12.25, 582.75, 351.75
  };
  for (const Case& c : cases) {
    DevEngineReset();
    const std::string dpi = std::to_string(c.dpi);
    test::EngineSetting forced("DEV_ENGINE_DPI", dpi.c_str());
    TestWindow window;
    ASSERT_TRUE(window.Create(L"Scaled", c.origin, c.size)) << c.dpi;
    RECT rect{};
    ASSERT_TRUE(::GetWindowRect(window.GetHandle(), &rect));
    EXPECT_EQ(rect.left, c.want.left) << c.dpi;
    EXPECT_EQ(rect.top, c.want.top) << c.dpi;
    EXPECT_EQ(rect.right, c.want.right) << c.dpi;
    EXPECT_EQ(rect.bottom, c.want.bottom) << c.dpi;
    EXPECT_FALSE(::IsWindowVisible(window.GetHandle())) << "created hidden at " << c.dpi;
    EXPECT_THAT(test::Transcript(), ::testing::HasSubstr("dpi " + dpi + " forced"));
  }
}

TEST_F(Win32WindowTest, CreateGivesTheNativeWindowItsClassTitleAndStyle) {
  TestWindow window;
  ASSERT_TRUE(window.Create(L"Tidewarden Launcher", {10, 10}, {640, 480}));
  HWND handle = window.GetHandle();
  wchar_t text[64] = {};
  ::GetClassNameW(handle, text, 64);
  EXPECT_STREQ(text, kClassName);
  ::GetWindowTextW(handle, text, 64);
  EXPECT_STREQ(text, L"Tidewarden Launcher");
  const LONG_PTR style = ::GetWindowLongPtrW(handle, GWL_STYLE);
  EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
  EXPECT_EQ(style & WS_VISIBLE, 0);
  // The object is reachable from the native window.
  EXPECT_EQ(::GetWindowLongPtrW(handle, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&window));
  EXPECT_EQ(window.creates, 1);
  // Create first tears down what the fresh object does not have.
  EXPECT_EQ(window.destroys, 1);
}

TEST_F(Win32WindowTest, CreateReturnsWhatOnCreateReturns) {
  TestWindow window;
  window.create_result = false;
  EXPECT_FALSE(window.Create(L"Refused", {10, 10}, {100, 100}));
  EXPECT_EQ(window.creates, 1);
  // The native window stays until the object goes.
  EXPECT_NE(window.GetHandle(), nullptr);
}

TEST_F(Win32WindowTest, SecondCreateReplacesTheFirstNativeWindow) {
  TestWindow window;
  ASSERT_TRUE(window.Create(L"One", {10, 10}, {100, 100}));
  HWND first = window.GetHandle();
  ASSERT_TRUE(window.Create(L"Two", {10, 10}, {100, 100}));
  EXPECT_FALSE(::IsWindow(first));
  EXPECT_TRUE(::IsWindow(window.GetHandle()));
}

TEST_F(Win32WindowTest, ClassLivesAsLongAsAnyWindowObject) {
  ASSERT_EQ(Win32Window::LiveWindowCount(), 0);
  {
    TestWindow first;
    ASSERT_TRUE(first.Create(L"First", {10, 10}, {100, 100}));
    EXPECT_TRUE(ClassIsRegistered());
    {
      TestWindow second;
      ASSERT_TRUE(second.Create(L"Second", {10, 10}, {100, 100}));
      EXPECT_EQ(Win32Window::LiveWindowCount(), 2);
    }
    EXPECT_TRUE(ClassIsRegistered()) << "one object still lives";
    // A native window destroyed from outside leaves the class registered.
    ::DestroyWindow(first.GetHandle());
    EXPECT_EQ(first.GetHandle(), nullptr);
    EXPECT_TRUE(ClassIsRegistered());
  }
  EXPECT_EQ(Win32Window::LiveWindowCount(), 0);
  EXPECT_FALSE(ClassIsRegistered()) << "the last object unregisters the class";

  // A later window registers it again.
  TestWindow again;
  ASSERT_TRUE(again.Create(L"Again", {10, 10}, {100, 100}));
  EXPECT_TRUE(ClassIsRegistered());
}

TEST_F(Win32WindowTest, DestroyingTheNativeWindowRunsOnDestroyAndPostsQuitOnlyWhenAsked) {
  for (bool quit_when_closed : {false, true}) {
    TestWindow window;
    ASSERT_TRUE(window.Create(L"Closing", {10, 10}, {100, 100}));
    window.SetQuitWhenClosed(quit_when_closed);
    const int destroys_before = window.destroys;
    ::DestroyWindow(window.GetHandle());
    EXPECT_EQ(window.GetHandle(), nullptr);
    EXPECT_GT(window.destroys, destroys_before);
    EXPECT_EQ(DrainQueueSawQuit(), quit_when_closed);
  }
}

TEST_F(Win32WindowTest, QuitIsPostedWhenTheTeardownThrows) {
  struct Case {
    const char* name;
    bool quit_when_closed;
    std::function<void()> fault;
    std::string line;
  };
  const Case cases[] = {
      {"std::exception, quit asked", true, [] { throw std::runtime_error("teardown failed"); },
       "Error: exception in window procedure: teardown failed\n"},
      {"anything else, quit asked", true, [] { throw 7; },
       "Error: exception in window procedure: unknown exception\n"},
      {"std::exception, no quit asked", false, [] { throw std::runtime_error("teardown failed"); },
       "Error: exception in window procedure: teardown failed\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TeardownFaultWindow window;
    ASSERT_TRUE(window.Create(L"Failing teardown", {10, 10}, {200, 200}));
    HWND handle = window.GetHandle();
    window.SetQuitWhenClosed(c.quit_when_closed);
    window.fault = c.fault;
    tw::test::StderrCapture err;
    ::DestroyWindow(handle);
    EXPECT_EQ(err.Take(), c.line);
    window.fault = nullptr;
    EXPECT_FALSE(::IsWindow(handle));
    EXPECT_EQ(window.GetHandle(), nullptr);
    MSG message;
    EXPECT_EQ(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0,
              c.quit_when_closed);
  }
}

TEST_F(Win32WindowTest, TitleBarAttributesAreSetOnCreationAndOnEveryColorizationChange) {
  test::RecordingDwm dwm;
  TestWindow window;
  ASSERT_TRUE(window.Create(L"Title bar", {10, 10}, {200, 200}));
  HWND handle = window.GetHandle();
  using test::DwmAttributeCall;
  // Dark mode, then caption, border and text colours (COLORREF 0x00BBGGRR),
  // each a 4-byte value.
  const std::vector<DwmAttributeCall> want = {
      {handle, 20, 1, 4},
      {handle, 35, 0x00150E10, 4},
      {handle, 34, 0x0029B3FF, 4},
      {handle, 36, 0x00C6EDFF, 4},
  };
  EXPECT_EQ(dwm.calls(), want) << "on creation";
  for (int change = 1; change <= 2; ++change) {
    dwm.Clear();
    EXPECT_EQ(::SendMessageW(handle, WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0), 0);
    EXPECT_EQ(dwm.calls(), want) << "colorization change " << change;
  }
}

TEST_F(Win32WindowTest, ContentWindowFillsTheClientAreaAndFollowsResizes) {
  TestWindow window;
  ASSERT_TRUE(window.Create(L"Host", {10, 10}, {400, 300}));
  // WM_SIZE without content does nothing but answer.
  EXPECT_EQ(window.HandleMessage(window.GetHandle(), WM_SIZE, 0, 0), 0);

  HWND content = ::CreateWindowExW(0, L"STATIC", L"content", WS_POPUP, 0, 0, 10, 10, nullptr,
                                   nullptr, nullptr, nullptr);
  ASSERT_NE(content, nullptr);
  window.SetContentWindow(content);
  EXPECT_EQ(::GetAncestor(content, GA_PARENT), window.GetHandle());

  auto expect_fills_client = [&](const char* when) {
    RECT client{}, child{};
    ::GetClientRect(window.GetHandle(), &client);
    ::GetClientRect(content, &child);
    EXPECT_EQ(child.right - child.left, client.right - client.left) << when;
    EXPECT_EQ(child.bottom - child.top, client.bottom - client.top) << when;
  };
  expect_fills_client("after adoption");

  ::SetWindowPos(window.GetHandle(), nullptr, 0, 0, 700, 500, SWP_NOZORDER | SWP_NOMOVE);
  expect_fills_client("after resize");
  ::DestroyWindow(content);
}

TEST_F(Win32WindowTest, DpiChangeMovesToTheSuggestedRectangle) {
  TestWindow window;
  ASSERT_TRUE(window.Create(L"Dpi", {10, 10}, {400, 300}));
  RECT suggested{30, 40, 30 + 600, 40 + 450};
  EXPECT_EQ(::SendMessageW(window.GetHandle(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                           reinterpret_cast<LPARAM>(&suggested)),
            0);
  RECT rect{};
  ::GetWindowRect(window.GetHandle(), &rect);
  EXPECT_EQ(rect.left, 30);
  EXPECT_EQ(rect.top, 40);
  EXPECT_EQ(rect.right, 630);
  EXPECT_EQ(rect.bottom, 490);
  // Neither activated nor shown by the move.
  EXPECT_NE(::GetActiveWindow(), window.GetHandle());
  EXPECT_FALSE(::IsWindowVisible(window.GetHandle()));
}

TEST_F(Win32WindowTest, HandledMessagesAnswerZeroAndOthersGetDefaultHandling) {
  TestWindow window;
  ASSERT_TRUE(window.Create(L"Messages", {10, 10}, {400, 300}));
  HWND handle = window.GetHandle();
  EXPECT_EQ(window.HandleMessage(handle, WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0), 0);
  EXPECT_EQ(window.HandleMessage(handle, WM_ACTIVATE, WA_ACTIVE, 0), 0);
  // Default handling: WM_GETTEXTLENGTH is answered by DefWindowProcW.
  EXPECT_EQ(::SendMessageW(handle, WM_GETTEXTLENGTH, 0, 0), 8);
}

TEST_F(Win32WindowTest, ActivationGivesTheFocusBackToTheContent) {
  TestWindow window;
  ASSERT_TRUE(window.Create(L"Focus", {10, 10}, {400, 300}));
  HWND handle = window.GetHandle();
  // A child, as the engine's view is: a child cannot be activated itself.
  HWND content = ::CreateWindowExW(0, L"STATIC", L"content", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10,
                                   handle, nullptr, nullptr, nullptr);
  ASSERT_NE(content, nullptr);
  window.SetContentWindow(content);
  window.Show();
  // Shown only when a case activates it.
  HWND other = ::CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW, 500, 10, 200, 200,
                                 nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);

  struct Case {
    const char* name;
    std::function<void()> activate;
  };
  const Case cases[] = {
      {"WM_ACTIVATE", [&] { ::SendMessageW(handle, WM_ACTIVATE, WA_ACTIVE, 0); }},
      {"back from another window",
       [&] {
         ::ShowWindow(other, SW_SHOWNORMAL);
         ::SetActiveWindow(other);
         ASSERT_EQ(::GetActiveWindow(), other);
         ::SetActiveWindow(handle);
         ASSERT_EQ(::GetActiveWindow(), handle);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Left on the frame, where the default handling of activation puts it.
    ::SetFocus(handle);
    ASSERT_EQ(::GetFocus(), handle);
    c.activate();
    EXPECT_EQ(::GetFocus(), content);
  }
  ::DestroyWindow(other);
  ::DestroyWindow(content);
}

TEST_F(Win32WindowTest, ExceptionInTheHandlerStopsAtTheWindowProcedure) {
  struct Case {
    const char* name;
    std::function<void()> fault;
    std::string line;
  };
  const Case cases[] = {
      {"std::exception", [] { throw std::runtime_error("handler failed"); },
       "Error: exception in window procedure: handler failed\n"},
      {"anything else", [] { throw 42; },
       "Error: exception in window procedure: unknown exception\n"},
  };
  FaultyWindow window;
  ASSERT_TRUE(window.Create(L"Throwing", {10, 10}, {200, 200}));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window.fault = c.fault;
    ::testing::internal::CaptureStderr();
    // The default handling's answer: the title's length.
    EXPECT_EQ(::SendMessageW(window.GetHandle(), WM_GETTEXTLENGTH, 0, 0), 8);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line);
  }
  window.fault = nullptr;
  EXPECT_EQ(::SendMessageW(window.GetHandle(), WM_GETTEXTLENGTH, 0, 0), 8) << "still serving";
}

TEST_F(Win32WindowTest, ShowMakesTheWindowVisible) {
  TestWindow window;
  ASSERT_TRUE(window.Create(L"Shown", {10, 10}, {200, 200}));
  EXPECT_FALSE(::IsWindowVisible(window.GetHandle()));
  window.Show();
  EXPECT_TRUE(::IsWindowVisible(window.GetHandle()));
}

}  // namespace
}  // namespace tw::runner
