// The C interface of the engine library, flutter_windows.dll.
//
// The launcher imports these functions from flutter_windows.dll by name, so
// any library that exports them with these signatures and record layouts can
// stand in for the engine without rebuilding the launcher. Handles are opaque
// pointers owned by the library.
//
// Every callback is delivered on the thread that runs the message loop.
//
// Order of use: engine, messenger, view controller (which takes over the
// engine), view, callbacks, redraw; at the end only the view controller is
// destroyed.
//
// This is the one declaration of the interface: the launcher imports it, and
// the development engine (tools/flutter_windows) defines and exports exactly
// these declarations, building with FLUTTER_DESKTOP_IMPLEMENTATION defined.
// On builds other than Windows the parts that need no Windows types (engine
// and messenger) are declared, so that the channel layer can be built and
// tested natively against the development engine's portable core.
//
// The header is C as well as C++ (runner/flutter_windows_c_check.c compiles
// it as C11): the library and its other clients need not be C++.
#ifndef RUNNER_FLUTTER_WINDOWS_H_
#define RUNNER_FLUTTER_WINDOWS_H_

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <wchar.h>  // wchar_t, a keyword only in C++
#endif

#ifdef _WIN32
#include <windows.h>
#endif

// Exported by the library that implements the interface, imported by every
// other client; nothing on builds without DLLs.
#if defined(_WIN32) && defined(FLUTTER_DESKTOP_IMPLEMENTATION)
#define FLUTTER_EXPORT __declspec(dllexport)
#elif defined(_WIN32)
#define FLUTTER_EXPORT __declspec(dllimport)
#else
#define FLUTTER_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FlutterDesktopEngine* FlutterDesktopEngineRef;
typedef struct FlutterDesktopViewController* FlutterDesktopViewControllerRef;
typedef struct FlutterDesktopView* FlutterDesktopViewRef;
typedef struct FlutterDesktopMessenger* FlutterDesktopMessengerRef;
typedef struct FlutterDesktopPluginRegistrar* FlutterDesktopPluginRegistrarRef;
typedef struct FlutterDesktopMessageResponseHandle FlutterDesktopMessageResponseHandle;

// What an engine is started with. Filled for one FlutterDesktopEngineCreate
// call; the strings must stay alive for the engine's lifetime.
typedef struct {
  const wchar_t* assets_path;         // folder of the application's assets
  const wchar_t* icu_data_path;       // the ICU data file
  const wchar_t* aot_library_path;    // the application's compiled library
  const char* dart_entrypoint;        // UTF-8; empty (never null) for the default
  int32_t dart_entrypoint_argc;       // number of entry-point arguments
  const char** dart_entrypoint_argv;  // UTF-8 arguments; null when argc is 0
  int32_t engine_option_1;            // passed through
  int32_t engine_option_2;            // passed through
} FlutterDesktopEngineProperties;

// One incoming channel message, laid out by the library. The launcher reads
// message, message_size and response_handle.
typedef struct {
  size_t struct_size;                                          // offset 0
  const char* channel;                                         // offset 8
  const uint8_t* message;                                      // offset 16
  size_t message_size;                                         // offset 24
  const FlutterDesktopMessageResponseHandle* response_handle;  // offset 32
} FlutterDesktopMessage;

typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessengerRef messenger,
                                              const FlutterDesktopMessage* message,
                                              void* user_data);
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size, void* user_data);
typedef void (*FlutterDesktopNextFrameCallback)(void* user_data);

// Messenger. A messenger handle is reference-counted; while it is locked the
// engine behind it is not torn down.
FLUTTER_EXPORT void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                                       const char* channel,
                                                       FlutterDesktopMessageCallback callback,
                                                       void* user_data);
FLUTTER_EXPORT bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                                const char* channel, const uint8_t* message,
                                                size_t message_size);
// True: reply is called exactly once. False: never; the caller frees user_data.
FLUTTER_EXPORT bool FlutterDesktopMessengerSendWithReply(
    FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
    size_t message_size, FlutterDesktopBinaryReply reply, void* user_data);
FLUTTER_EXPORT void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger, const FlutterDesktopMessageResponseHandle* handle,
    const uint8_t* data, size_t data_length);
FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger);
FLUTTER_EXPORT void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger);
FLUTTER_EXPORT bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger);
FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger);
FLUTTER_EXPORT void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger);

// Engine.
FLUTTER_EXPORT FlutterDesktopEngineRef
FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* engine_properties);
FLUTTER_EXPORT bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine);
FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine);
FLUTTER_EXPORT FlutterDesktopPluginRegistrarRef
FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine, const char* plugin_name);
FLUTTER_EXPORT void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine);
// The callback runs once, on the window thread, after the next frame.
FLUTTER_EXPORT void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopNextFrameCallback callback, void* user_data);

#ifdef _WIN32

// View controller and view. The controller takes over the engine: destroying
// the controller ends the view and the engine. Returns null on failure.
FLUTTER_EXPORT FlutterDesktopViewControllerRef
FlutterDesktopViewControllerCreate(int width, int height, FlutterDesktopEngineRef engine);
FLUTTER_EXPORT void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller);
FLUTTER_EXPORT FlutterDesktopViewRef
FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller);
FLUTTER_EXPORT void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller);
// True when the engine claims the message; *result then holds its answer.
FLUTTER_EXPORT bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND hwnd, UINT message, WPARAM wparam,
    LPARAM lparam, LRESULT* result);
FLUTTER_EXPORT HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view);

// Dots per inch of a monitor; 96 is 100 %.
FLUTTER_EXPORT UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor);
// Makes the library's own output follow a console attached after start-up.
FLUTTER_EXPORT void FlutterDesktopResyncOutputStreams(void);

#endif  // _WIN32

#ifdef __cplusplus
}  // extern "C"
#endif

// The record layouts the library and the launcher agree on: the launcher
// reads the message record and fills the properties record by byte offset,
// so these must never move.
#if defined(__cplusplus)
#define FLUTTER_LAYOUT_ASSERT(condition, text) static_assert(condition, text)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define FLUTTER_LAYOUT_ASSERT(condition, text) _Static_assert(condition, text)
#else
#define FLUTTER_LAYOUT_ASSERT(condition, text)
#endif
FLUTTER_LAYOUT_ASSERT(offsetof(FlutterDesktopMessage, struct_size) == 0, "message record layout");
FLUTTER_LAYOUT_ASSERT(offsetof(FlutterDesktopMessage, channel) == 8, "message record layout");
FLUTTER_LAYOUT_ASSERT(offsetof(FlutterDesktopMessage, message) == 16, "message record layout");
FLUTTER_LAYOUT_ASSERT(offsetof(FlutterDesktopMessage, message_size) == 24, "message record layout");
FLUTTER_LAYOUT_ASSERT(offsetof(FlutterDesktopMessage, response_handle) == 32,
                      "message record layout");
FLUTTER_LAYOUT_ASSERT(sizeof(FlutterDesktopMessage) == 40, "message record layout");
FLUTTER_LAYOUT_ASSERT(offsetof(FlutterDesktopEngineProperties, assets_path) == 0,
                      "engine properties layout");
FLUTTER_LAYOUT_ASSERT(offsetof(FlutterDesktopEngineProperties, icu_data_path) == 8,
                      "engine properties layout");
FLUTTER_LAYOUT_ASSERT(offsetof(FlutterDesktopEngineProperties, aot_library_path) == 16,
                      "engine properties layout");
FLUTTER_LAYOUT_ASSERT(offsetof(FlutterDesktopEngineProperties, dart_entrypoint) == 24,
                      "engine properties layout");
FLUTTER_LAYOUT_ASSERT(offsetof(FlutterDesktopEngineProperties, dart_entrypoint_argc) == 32,
                      "engine properties layout");
FLUTTER_LAYOUT_ASSERT(offsetof(FlutterDesktopEngineProperties, dart_entrypoint_argv) == 40,
                      "engine properties layout");
FLUTTER_LAYOUT_ASSERT(offsetof(FlutterDesktopEngineProperties, engine_option_1) == 48,
                      "engine properties layout");
FLUTTER_LAYOUT_ASSERT(offsetof(FlutterDesktopEngineProperties, engine_option_2) == 52,
                      "engine properties layout");
FLUTTER_LAYOUT_ASSERT(sizeof(FlutterDesktopEngineProperties) == 56, "engine properties layout");
#undef FLUTTER_LAYOUT_ASSERT

#endif  // RUNNER_FLUTTER_WINDOWS_H_
