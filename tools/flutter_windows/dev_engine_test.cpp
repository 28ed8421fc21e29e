// The development engine library seen from a host: it exports the whole
// engine interface, keeps its messenger contract, and reports every misuse.
// Compiled as a client of the library, against the launcher's declarations
// of the interface, so that both sides of the contract meet here.
#include "tools/flutter_windows/dev_engine.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "runner/flutter_windows.h"

namespace {

FlutterDesktopEngineRef CreateEngine() {
  FlutterDesktopEngineProperties properties{};
  properties.assets_path = L"data\\flutter_assets";
  properties.icu_data_path = L"data\\icudtl.dat";
  properties.aot_library_path = L"data\\app.so";
  properties.dart_entrypoint = "";
  return FlutterDesktopEngineCreate(&properties);
}

std::string Transcript() {
  std::string text(DevEngineTranscript(nullptr, 0) + 1, '\0');
  text.resize(DevEngineTranscript(text.data(), text.size()));
  return text;
}

// A host callback that keeps each message's response handle.
std::vector<const FlutterDesktopMessageResponseHandle*> g_handles;
void KeepHandle(FlutterDesktopMessengerRef, const FlutterDesktopMessage* message, void*) {
  g_handles.push_back(message->response_handle);
}

TEST(DevEngineTest, ExportsTheWholeEngineInterface) {
  HMODULE library = ::GetModuleHandleW(L"flutter_windows.dll");
  ASSERT_NE(library, nullptr);
  for (const char* name : {
           "FlutterDesktopEngineCreate",
           "FlutterDesktopEngineDestroy",
           "FlutterDesktopEngineGetMessenger",
           "FlutterDesktopEngineGetPluginRegistrar",
           "FlutterDesktopEngineReloadSystemFonts",
           "FlutterDesktopEngineSetNextFrameCallback",
           "FlutterDesktopViewControllerCreate",
           "FlutterDesktopViewControllerDestroy",
           "FlutterDesktopViewControllerGetView",
           "FlutterDesktopViewControllerForceRedraw",
           "FlutterDesktopViewControllerHandleTopLevelWindowProc",
           "FlutterDesktopViewGetHWND",
           "FlutterDesktopGetDpiForMonitor",
           "FlutterDesktopResyncOutputStreams",
           "FlutterDesktopMessengerSetCallback",
           "FlutterDesktopMessengerSend",
           "FlutterDesktopMessengerSendWithReply",
           "FlutterDesktopMessengerAddRef",
           "FlutterDesktopMessengerRelease",
           "FlutterDesktopMessengerLock",
           "FlutterDesktopMessengerIsAvailable",
           "FlutterDesktopMessengerUnlock",
           "FlutterDesktopMessengerSendResponse",
       }) {
    EXPECT_NE(::GetProcAddress(library, name), nullptr) << name;
  }
}

// Each case misuses the interface once on a fresh engine; the library must
// count exactly that one misuse, say so on standard error and in the
// transcript, and nothing else.
TEST(DevEngineTest, ReportsEachMisuseOnce) {
  struct Case {
    const char* name;
    DevEngineMisuseKind kind;  // kDevEngineMisuseAny: correct use, no report
    std::function<void(FlutterDesktopEngineRef, FlutterDesktopMessengerRef)> run;
  };
  const uint8_t byte = 1;
  const std::vector<Case> cases = {
      {"correct use", kDevEngineMisuseAny,
       [&](FlutterDesktopEngineRef engine, FlutterDesktopMessengerRef messenger) {
         FlutterDesktopMessengerSetCallback(messenger, "c", KeepHandle, nullptr);
         DevEngineDeliverMessage(engine, "c", &byte, 1);
         FlutterDesktopMessengerRef lock = FlutterDesktopMessengerLock(messenger);
         FlutterDesktopMessengerRef ref = FlutterDesktopMessengerAddRef(messenger);
         if (FlutterDesktopMessengerIsAvailable(messenger)) {
           FlutterDesktopMessengerSendResponse(messenger, g_handles.back(), &byte, 1);
         }
         FlutterDesktopMessengerUnlock(lock);
         FlutterDesktopMessengerSetCallback(messenger, "c", nullptr, nullptr);
         FlutterDesktopEngineDestroy(engine);
         FlutterDesktopMessengerRelease(ref);
       }},
      {"response handle used twice", kDevEngineMisuseResponseTwice,
       [&](FlutterDesktopEngineRef engine, FlutterDesktopMessengerRef messenger) {
         FlutterDesktopMessengerSetCallback(messenger, "c", KeepHandle, nullptr);
         DevEngineDeliverMessage(engine, "c", &byte, 1);
         FlutterDesktopMessengerSendResponse(messenger, g_handles.back(), nullptr, 0);
         FlutterDesktopMessengerSendResponse(messenger, g_handles.back(), nullptr, 0);
         FlutterDesktopEngineDestroy(engine);
       }},
      {"response handle never issued", kDevEngineMisuseUnknownResponse,
       [&](FlutterDesktopEngineRef engine, FlutterDesktopMessengerRef messenger) {
         const auto* forged = reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(&byte);
         FlutterDesktopMessengerSendResponse(messenger, forged, nullptr, 0);
         FlutterDesktopEngineDestroy(engine);
       }},
      {"response handle of another engine", kDevEngineMisuseUnknownResponse,
       [&](FlutterDesktopEngineRef engine, FlutterDesktopMessengerRef messenger) {
         FlutterDesktopEngineRef other = CreateEngine();
         FlutterDesktopMessengerRef other_messenger = FlutterDesktopEngineGetMessenger(other);
         FlutterDesktopMessengerSetCallback(other_messenger, "c", KeepHandle, nullptr);
         DevEngineDeliverMessage(other, "c", &byte, 1);
         FlutterDesktopMessengerSendResponse(messenger, g_handles.back(), nullptr, 0);
         FlutterDesktopMessengerSendResponse(other_messenger, g_handles.back(), nullptr, 0);
         FlutterDesktopEngineDestroy(other);
         FlutterDesktopEngineDestroy(engine);
       }},
      {"message unanswered when the engine ends", kDevEngineMisuseUnanswered,
       [&](FlutterDesktopEngineRef engine, FlutterDesktopMessengerRef messenger) {
         FlutterDesktopMessengerSetCallback(messenger, "c", KeepHandle, nullptr);
         DevEngineDeliverMessage(engine, "c", &byte, 1);
         FlutterDesktopEngineDestroy(engine);
       }},
      {"release below zero", kDevEngineMisuseReleaseBelowZero,
       [&](FlutterDesktopEngineRef engine, FlutterDesktopMessengerRef messenger) {
         FlutterDesktopEngineDestroy(engine);  // drops the engine's own reference
         FlutterDesktopMessengerRelease(messenger);
       }},
      {"message after the callback was cleared", kDevEngineMisuseCallbackAfterClear,
       [&](FlutterDesktopEngineRef engine, FlutterDesktopMessengerRef messenger) {
         FlutterDesktopMessengerSetCallback(messenger, "c", KeepHandle, nullptr);
         FlutterDesktopMessengerSetCallback(messenger, "c", nullptr, nullptr);
         const size_t delivered = g_handles.size();
         DevEngineDeliverMessage(engine, "c", &byte, 1);
         EXPECT_EQ(g_handles.size(), delivered) << "stale callback called";
         FlutterDesktopEngineDestroy(engine);
       }},
      {"callback set after the engine ended", kDevEngineMisuseUseAfterDestroy,
       [&](FlutterDesktopEngineRef engine, FlutterDesktopMessengerRef messenger) {
         FlutterDesktopEngineDestroy(engine);
         FlutterDesktopMessengerSetCallback(messenger, "c", KeepHandle, nullptr);
       }},
      {"engine destroyed twice", kDevEngineMisuseUseAfterDestroy,
       [&](FlutterDesktopEngineRef engine, FlutterDesktopMessengerRef) {
         EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
         EXPECT_FALSE(FlutterDesktopEngineDestroy(engine));
       }},
      {"unlock without the lock", kDevEngineMisuseBadArguments,
       [&](FlutterDesktopEngineRef engine, FlutterDesktopMessengerRef messenger) {
         FlutterDesktopMessengerUnlock(messenger);
         FlutterDesktopEngineDestroy(engine);
       }},
      {"clearing a callback but passing user data", kDevEngineMisuseBadArguments,
       [&](FlutterDesktopEngineRef engine, FlutterDesktopMessengerRef messenger) {
         FlutterDesktopMessengerSetCallback(messenger, "c", nullptr, &g_handles);
         FlutterDesktopEngineDestroy(engine);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DevEngineReset();
    g_handles.clear();
    FlutterDesktopEngineRef engine = CreateEngine();
    ASSERT_NE(engine, nullptr);
    ::testing::internal::CaptureStderr();
    c.run(engine, FlutterDesktopEngineGetMessenger(engine));
    const std::string err = ::testing::internal::GetCapturedStderr();
    const size_t want = c.kind == kDevEngineMisuseAny ? 0 : 1;
    EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseAny), want) << Transcript();
    EXPECT_EQ(DevEngineMisuseCount(c.kind), want);
    const std::string prefix = "dev engine: misuse: ";
    if (want == 0) {
      EXPECT_EQ(err, "");
    } else {
      EXPECT_EQ(err.rfind(prefix, 0), 0u) << err;
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
      EXPECT_NE(Transcript().find(err), std::string::npos);
    }
  }
}

TEST(DevEngineTest, EngineWaitsForTheMessengerLockBeforeEnding) {
  DevEngineReset();
  FlutterDesktopEngineRef engine = CreateEngine();
  FlutterDesktopMessengerRef messenger = FlutterDesktopEngineGetMessenger(engine);
  FlutterDesktopMessengerRef lock = FlutterDesktopMessengerLock(messenger);
  std::atomic<bool> ended{false};
  std::thread destroyer([&] {
    FlutterDesktopEngineDestroy(engine);
    ended = true;
  });
  // Whatever the scheduling, the engine cannot end while the lock is held.
  for (int i = 0; i < 20; ++i) {
    EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(messenger));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(ended);
  FlutterDesktopMessengerUnlock(lock);
  destroyer.join();
  EXPECT_TRUE(ended);
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger));
  EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseAny), 0u) << Transcript();
}

TEST(DevEngineTest, MessageBytesAreValidOnlyDuringTheCallback) {
  DevEngineReset();
  FlutterDesktopEngineRef engine = CreateEngine();
  FlutterDesktopMessengerRef messenger = FlutterDesktopEngineGetMessenger(engine);
  struct Seen {
    std::vector<uint8_t> during;
    const uint8_t* pointer = nullptr;
    size_t size = 0;
    std::string channel;
  } seen;
  FlutterDesktopMessengerSetCallback(
      messenger, "c",
      [](FlutterDesktopMessengerRef, const FlutterDesktopMessage* message, void* user_data) {
        auto* s = static_cast<Seen*>(user_data);
        s->during.assign(message->message, message->message + message->message_size);
        s->pointer = message->message;
        s->size = message->message_size;
        s->channel = message->channel;
        EXPECT_EQ(message->struct_size, sizeof(FlutterDesktopMessage));
        FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef(nullptr), nullptr, nullptr,
                                            0);
      },
      &seen);
  ::testing::internal::CaptureStderr();  // the null messenger above is reported
  const std::vector<uint8_t> message = {1, 2, 3};
  const uint64_t id = DevEngineDeliverMessage(engine, "c", message.data(), message.size());
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(seen.during, message);
  EXPECT_EQ(seen.channel, "c");
  // The pointer the host was given now holds other bytes.
  EXPECT_NE(std::vector<uint8_t>(seen.pointer, seen.pointer + seen.size), message);
  EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseBadArguments), 1u);
  DevEngineReplyInfo info{};
  ASSERT_TRUE(DevEngineGetReply(id, &info, nullptr, 0));
  EXPECT_EQ(info.state, kDevEngineReplyPending);
  ::testing::internal::CaptureStderr();
  FlutterDesktopEngineDestroy(engine);
  ::testing::internal::GetCapturedStderr();
}

TEST(DevEngineTest, NextFrameCallbackRunsOnce) {
  DevEngineReset();
  FlutterDesktopEngineRef engine = CreateEngine();
  int runs = 0;
  FlutterDesktopEngineSetNextFrameCallback(
      engine, [](void* user_data) { ++*static_cast<int*>(user_data); }, &runs);
  EXPECT_TRUE(DevEngineRenderFrame(engine));
  EXPECT_FALSE(DevEngineRenderFrame(engine));
  EXPECT_EQ(runs, 1);
  FlutterDesktopEngineDestroy(engine);
  EXPECT_EQ(DevEngineMisuseCount(kDevEngineMisuseAny), 0u) << Transcript();
}

}  // namespace
