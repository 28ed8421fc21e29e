// The engine library's C interface as this library exports it.
//
// The launcher imports these functions by name and reads the records below
// by byte offset, so the names, signatures and layouts here are the contract;
// the compile-time checks at the end pin the layouts. The handle types are
// opaque to callers and concrete inside this library (dev_state.h).
#ifndef TOOLS_FLUTTER_WINDOWS_ENGINE_ABI_H_
#define TOOLS_FLUTTER_WINDOWS_ENGINE_ABI_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>

#define DEV_ENGINE_EXPORT __declspec(dllexport)

extern "C" {

struct FlutterDesktopEngine;
struct FlutterDesktopViewController;
struct FlutterDesktopView;
struct FlutterDesktopMessenger;
struct FlutterDesktopPluginRegistrar;
struct FlutterDesktopMessageResponseHandle;

typedef FlutterDesktopEngine* FlutterDesktopEngineRef;
typedef FlutterDesktopViewController* FlutterDesktopViewControllerRef;
typedef FlutterDesktopView* FlutterDesktopViewRef;
typedef FlutterDesktopMessenger* FlutterDesktopMessengerRef;
typedef FlutterDesktopPluginRegistrar* FlutterDesktopPluginRegistrarRef;

typedef struct {
  const wchar_t* assets_path;
  const wchar_t* icu_data_path;
  const wchar_t* aot_library_path;
  const char* dart_entrypoint;
  int32_t dart_entrypoint_argc;
  const char** dart_entrypoint_argv;
  int32_t engine_option_1;
  int32_t engine_option_2;
} FlutterDesktopEngineProperties;

typedef struct {
  size_t struct_size;
  const char* channel;
  const uint8_t* message;
  size_t message_size;
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessengerRef messenger,
                                              const FlutterDesktopMessage* message,
                                              void* user_data);
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size,
                                          void* user_data);
typedef void (*FlutterDesktopNextFrameCallback)(void* user_data);

// Engine.
DEV_ENGINE_EXPORT FlutterDesktopEngineRef
FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* engine_properties);
DEV_ENGINE_EXPORT bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine);
DEV_ENGINE_EXPORT FlutterDesktopMessengerRef
FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine);
DEV_ENGINE_EXPORT FlutterDesktopPluginRegistrarRef
FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine, const char* plugin_name);
DEV_ENGINE_EXPORT void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine);
DEV_ENGINE_EXPORT void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopNextFrameCallback callback, void* user_data);

// View controller, view, DPI and output streams.
DEV_ENGINE_EXPORT FlutterDesktopViewControllerRef
FlutterDesktopViewControllerCreate(int width, int height, FlutterDesktopEngineRef engine);
DEV_ENGINE_EXPORT void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller);
DEV_ENGINE_EXPORT FlutterDesktopViewRef
FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller);
DEV_ENGINE_EXPORT void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller);
DEV_ENGINE_EXPORT bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND hwnd, UINT message, WPARAM wparam,
    LPARAM lparam, LRESULT* result);
DEV_ENGINE_EXPORT HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view);
DEV_ENGINE_EXPORT UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor);
DEV_ENGINE_EXPORT void FlutterDesktopResyncOutputStreams();

// Messenger.
DEV_ENGINE_EXPORT void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                                          const char* channel,
                                                          FlutterDesktopMessageCallback callback,
                                                          void* user_data);
DEV_ENGINE_EXPORT bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                                   const char* channel, const uint8_t* message,
                                                   size_t message_size);
DEV_ENGINE_EXPORT bool FlutterDesktopMessengerSendWithReply(
    FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
    size_t message_size, FlutterDesktopBinaryReply reply, void* user_data);
DEV_ENGINE_EXPORT void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger, const FlutterDesktopMessageResponseHandle* handle,
    const uint8_t* data, size_t data_length);
DEV_ENGINE_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger);
DEV_ENGINE_EXPORT void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger);
DEV_ENGINE_EXPORT bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger);
DEV_ENGINE_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger);
DEV_ENGINE_EXPORT void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger);

}  // extern "C"

// The launcher reads the message record and fills the properties record by
// byte offset: these layouts must never move.
static_assert(offsetof(FlutterDesktopMessage, struct_size) == 0, "message record layout");
static_assert(offsetof(FlutterDesktopMessage, channel) == 8, "message record layout");
static_assert(offsetof(FlutterDesktopMessage, message) == 16, "message record layout");
static_assert(offsetof(FlutterDesktopMessage, message_size) == 24, "message record layout");
static_assert(offsetof(FlutterDesktopMessage, response_handle) == 32, "message record layout");
static_assert(sizeof(FlutterDesktopMessage) == 40, "message record layout");
static_assert(offsetof(FlutterDesktopEngineProperties, assets_path) == 0,
              "engine properties layout");
static_assert(offsetof(FlutterDesktopEngineProperties, icu_data_path) == 8,
              "engine properties layout");
static_assert(offsetof(FlutterDesktopEngineProperties, aot_library_path) == 16,
              "engine properties layout");
static_assert(offsetof(FlutterDesktopEngineProperties, dart_entrypoint) == 24,
              "engine properties layout");
static_assert(offsetof(FlutterDesktopEngineProperties, dart_entrypoint_argc) == 32,
              "engine properties layout");
static_assert(offsetof(FlutterDesktopEngineProperties, dart_entrypoint_argv) == 40,
              "engine properties layout");
static_assert(offsetof(FlutterDesktopEngineProperties, engine_option_1) == 48,
              "engine properties layout");
static_assert(offsetof(FlutterDesktopEngineProperties, engine_option_2) == 52,
              "engine properties layout");
static_assert(sizeof(FlutterDesktopEngineProperties) == 56, "engine properties layout");

#endif  // TOOLS_FLUTTER_WINDOWS_ENGINE_ABI_H_
