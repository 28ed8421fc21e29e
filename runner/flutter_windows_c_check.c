// The engine interface is a C interface: this file compiles its header as
// strict C11 (with -Wstrict-prototypes, so a `()` that declares no prototype
// fails the build) and names every declaration with its C type. Nothing
// calls it; it only has to compile.
#include "runner/flutter_windows.h"

// Never called; declared first so that the definition has a prototype.
size_t FlutterWindowsCCheck(void);

size_t FlutterWindowsCCheck(void) {
  FlutterDesktopEngineProperties properties = {0};
  FlutterDesktopMessage message = {0};
  message.struct_size = sizeof message;

  void (*set_callback)(FlutterDesktopMessengerRef, const char*, FlutterDesktopMessageCallback,
                       void*) = FlutterDesktopMessengerSetCallback;
  bool (*send)(FlutterDesktopMessengerRef, const char*, const uint8_t*, size_t) =
      FlutterDesktopMessengerSend;
  bool (*send_with_reply)(FlutterDesktopMessengerRef, const char*, const uint8_t*, size_t,
                          FlutterDesktopBinaryReply, void*) = FlutterDesktopMessengerSendWithReply;
  void (*send_response)(FlutterDesktopMessengerRef, const FlutterDesktopMessageResponseHandle*,
                        const uint8_t*, size_t) = FlutterDesktopMessengerSendResponse;
  FlutterDesktopMessengerRef (*add_ref)(FlutterDesktopMessengerRef) = FlutterDesktopMessengerAddRef;
  void (*release)(FlutterDesktopMessengerRef) = FlutterDesktopMessengerRelease;
  bool (*is_available)(FlutterDesktopMessengerRef) = FlutterDesktopMessengerIsAvailable;
  FlutterDesktopMessengerRef (*lock)(FlutterDesktopMessengerRef) = FlutterDesktopMessengerLock;
  void (*unlock)(FlutterDesktopMessengerRef) = FlutterDesktopMessengerUnlock;

  FlutterDesktopEngineRef (*engine_create)(const FlutterDesktopEngineProperties*) =
      FlutterDesktopEngineCreate;
  bool (*engine_destroy)(FlutterDesktopEngineRef) = FlutterDesktopEngineDestroy;
  FlutterDesktopMessengerRef (*get_messenger)(FlutterDesktopEngineRef) =
      FlutterDesktopEngineGetMessenger;
  FlutterDesktopPluginRegistrarRef (*get_registrar)(FlutterDesktopEngineRef, const char*) =
      FlutterDesktopEngineGetPluginRegistrar;
  void (*reload_fonts)(FlutterDesktopEngineRef) = FlutterDesktopEngineReloadSystemFonts;
  void (*set_next_frame)(FlutterDesktopEngineRef, FlutterDesktopNextFrameCallback, void*) =
      FlutterDesktopEngineSetNextFrameCallback;
  FlutterDesktopViewControllerRef (*controller_create)(int, int, FlutterDesktopEngineRef) =
      FlutterDesktopViewControllerCreate;
  void (*controller_destroy)(FlutterDesktopViewControllerRef) = FlutterDesktopViewControllerDestroy;
  FlutterDesktopViewRef (*get_view)(FlutterDesktopViewControllerRef) =
      FlutterDesktopViewControllerGetView;
  void (*force_redraw)(FlutterDesktopViewControllerRef) = FlutterDesktopViewControllerForceRedraw;
  bool (*window_proc)(FlutterDesktopViewControllerRef, HWND, UINT, WPARAM, LPARAM, LRESULT*) =
      FlutterDesktopViewControllerHandleTopLevelWindowProc;
  HWND (*get_hwnd)(FlutterDesktopViewRef) = FlutterDesktopViewGetHWND;
  UINT (*get_dpi)(HMONITOR) = FlutterDesktopGetDpiForMonitor;
  void (*resync)(void) = FlutterDesktopResyncOutputStreams;

  // Uses every pointer, so that none is an unused variable.
  return sizeof properties + message.struct_size + (set_callback != NULL) + (send != NULL) +
         (send_with_reply != NULL) + (send_response != NULL) + (add_ref != NULL) +
         (release != NULL) + (is_available != NULL) + (lock != NULL) + (unlock != NULL) +
         (engine_create != NULL) + (engine_destroy != NULL) + (get_messenger != NULL) +
         (get_registrar != NULL) + (reload_fonts != NULL) + (set_next_frame != NULL) +
         (controller_create != NULL) + (controller_destroy != NULL) + (get_view != NULL) +
         (force_redraw != NULL) + (window_proc != NULL) + (get_hwnd != NULL) + (get_dpi != NULL) +
         (resync != NULL);
}
