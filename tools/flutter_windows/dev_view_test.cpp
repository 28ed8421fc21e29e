// The view side of the development engine, in process: the child window,
// frames and the one-shot next-frame callback, the scripted UI, and the test
// modes chosen through the environment.
#include <windows.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <shellscalingapi.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "runner/flutter_windows.h"
#include "tools/flutter_windows/dev_engine.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

std::string Transcript() {
  std::string text(DevEngineTranscript(nullptr, 0) + 1, '\0');
  text.resize(DevEngineTranscript(text.data(), text.size()));
  return text;
}

// An assets folder of its own per test, with `script` as the UI script
// (none when null).
std::wstring AssetsWithScript(const char* test, const char* script) {
  wchar_t module[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  const fs::path folder = fs::path(module).parent_path() / "dev_view_test" / test;
  fs::remove_all(folder);
  fs::create_directories(folder);
  if (script != nullptr) std::ofstream(folder / "dev_ui_script.txt", std::ios::binary) << script;
  return folder.wstring();
}

FlutterDesktopEngineRef CreateEngine(const std::wstring& assets) {
  FlutterDesktopEngineProperties properties{};
  properties.assets_path = assets.c_str();
  properties.icu_data_path = L"icudtl.dat";
  properties.aot_library_path = L"app.so";
  properties.dart_entrypoint = "";
  return FlutterDesktopEngineCreate(&properties);
}

// Sets an environment variable for the length of a scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name) {
    ::SetEnvironmentVariableW(name, value);
  }
  ~ScopedEnvironment() { ::SetEnvironmentVariableW(name_, nullptr); }

 private:
  const wchar_t* name_;
};

// Answers every message with the success envelope of true.
void AnswerTrue(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message, void*) {
  const uint8_t reply[] = {0x00, 0x01};
  FlutterDesktopMessengerSendResponse(messenger, message->response_handle, reply, sizeof reply);
}

void CountFrame(void* user_data) { ++*static_cast<int*>(user_data); }

// Pumps this thread's messages until `done` or `timeout_ms`.
template <typename Done>
bool PumpUntil(Done done, ULONGLONG timeout_ms = 10000) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  while (!done() && ::GetTickCount64() < deadline) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    ::Sleep(5);
  }
  return done();
}

class DevViewTest : public ::testing::Test {
 protected:
  void SetUp() override { DevEngineReset(); }
};

TEST_F(DevViewTest, ViewDrawsFramesRunsTheCallbackOncePlaysTheScriptAndCloses) {
  const std::wstring assets = AssetsWithScript(
      "plays", "call test/echo ping {\"n\": 1}\nraw test/echo 00\nraw nobody/listens\n");
  FlutterDesktopEngineRef engine = CreateEngine(assets);
  ASSERT_NE(engine, nullptr);
  FlutterDesktopViewControllerRef controller = FlutterDesktopViewControllerCreate(320, 200, engine);
  ASSERT_NE(controller, nullptr);
  HWND view = FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller));
  ASSERT_TRUE(::IsWindow(view));
  wchar_t class_name[64] = {};
  ::GetClassNameW(view, class_name, 64);
  EXPECT_STREQ(class_name, L"DEV_ENGINE_VIEW");
  EXPECT_TRUE(::GetWindowLongPtrW(view, GWL_STYLE) & WS_CHILD);
  RECT client{};
  ::GetClientRect(view, &client);
  EXPECT_EQ(client.right, 320);
  EXPECT_EQ(client.bottom, 200);

  // The host adopts the view into its hidden top-level window.
  HWND host = ::CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                nullptr, nullptr, nullptr);
  ::SetParent(view, host);
  FlutterDesktopMessengerSetCallback(FlutterDesktopEngineGetMessenger(engine), "test/echo",
                                     AnswerTrue, nullptr);
  int frames_seen = 0;
  FlutterDesktopEngineSetNextFrameCallback(engine, CountFrame, &frames_seen);
  FlutterDesktopViewControllerForceRedraw(controller);

  // The script ends by closing the top-level window.
  ASSERT_TRUE(PumpUntil([&] { return !::IsWindow(host); })) << Transcript();
  EXPECT_EQ(frames_seen, 1) << "one registration, one call, however many frames";

  const std::string transcript = Transcript();
  EXPECT_THAT(transcript, HasSubstr("frame-callback top-level=hidden\n"));
  EXPECT_THAT(transcript, HasSubstr("frame 3\n")) << "a frame after every step";
  EXPECT_THAT(transcript, HasSubstr("script loaded 3 steps\n"));
  // ping with {"n": 1}: 07 04 "ping" 0d 01 07 01 "n" 03 01000000
  EXPECT_THAT(transcript,
              HasSubstr("script send 1 test/echo ping bytes=070470696e670d0107016e0301000000\n"));
  EXPECT_THAT(transcript, HasSubstr("script reply 1 test/echo ping state=answered bytes=0001 "
                                    "decoded=success true\n"));
  EXPECT_THAT(transcript, HasSubstr("script reply 2 test/echo raw state=answered"));
  EXPECT_THAT(transcript, HasSubstr("script reply 3 nobody/listens raw state=unhandled bytes= "
                                    "decoded=empty\n"));
  EXPECT_THAT(transcript, HasSubstr("script end\n"));

  FlutterDesktopViewControllerDestroy(controller);
  EXPECT_THAT(Transcript(), HasSubstr("view-controller-destroy\nengine-destroy"));
  EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseAny), 0u) << Transcript();
}

TEST_F(DevViewTest, WithoutAScriptTheWindowStaysOpen) {
  FlutterDesktopEngineRef engine = CreateEngine(AssetsWithScript("no_script", nullptr));
  FlutterDesktopViewControllerRef controller = FlutterDesktopViewControllerCreate(100, 100, engine);
  ASSERT_NE(controller, nullptr);
  HWND view = FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller));
  HWND host = ::CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr,
                                nullptr, nullptr, nullptr);
  ::SetParent(view, host);
  FlutterDesktopViewControllerForceRedraw(controller);
  ASSERT_TRUE(PumpUntil([] { return Transcript().find("script none") != std::string::npos; }));
  // The steps run one posted message at a time; a close request would have
  // arrived well within this.
  PumpUntil([&] { return !::IsWindow(host); }, 500);
  EXPECT_TRUE(::IsWindow(host));
  EXPECT_THAT(Transcript(), Not(HasSubstr("script end")));
  FlutterDesktopViewControllerDestroy(controller);
  ::DestroyWindow(host);
}

TEST_F(DevViewTest, FailureModeRefusesTheControllerAndLeavesTheEngineToItsCreator) {
  ScopedEnvironment fail(L"DEV_ENGINE_FAIL_VIEW_CONTROLLER", L"1");
  FlutterDesktopEngineRef engine = CreateEngine(AssetsWithScript("fails", ""));
  EXPECT_EQ(FlutterDesktopViewControllerCreate(100, 100, engine), nullptr);
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
  EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseAny), 0u) << Transcript();
}

TEST_F(DevViewTest, ClaimsOnlyTheMessageTheTestNames) {
  FlutterDesktopEngineRef engine = CreateEngine(AssetsWithScript("claims", ""));
  FlutterDesktopViewControllerRef controller = FlutterDesktopViewControllerCreate(100, 100, engine);
  ASSERT_NE(controller, nullptr);
  LRESULT result = 0;
  EXPECT_FALSE(FlutterDesktopViewControllerHandleTopLevelWindowProc(controller, nullptr, WM_SIZE, 0,
                                                                    0, &result));
  {
    ScopedEnvironment claim(L"DEV_ENGINE_CLAIM", L"5:7");
    EXPECT_TRUE(FlutterDesktopViewControllerHandleTopLevelWindowProc(controller, nullptr, WM_SIZE,
                                                                     0, 0, &result));
    EXPECT_EQ(result, 7);
    EXPECT_FALSE(FlutterDesktopViewControllerHandleTopLevelWindowProc(controller, nullptr, WM_MOVE,
                                                                      0, 0, &result));
  }
  EXPECT_THAT(Transcript(), HasSubstr("claimed 0x5\n"));
  FlutterDesktopViewControllerDestroy(controller);
}

TEST_F(DevViewTest, DpiIsTheMonitorsUnlessForced) {
  HMONITOR monitor = ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  UINT x = 0, y = 0;
  ASSERT_EQ(::GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &x, &y), S_OK);
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(monitor), x);
  ScopedEnvironment dpi(L"DEV_ENGINE_DPI", L"144");
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(monitor), 144u);
}

}  // namespace
