// Test hooks of the development engine library.
//
// The development flutter_windows.dll plays the engine's side of the C
// interface for tests and for UI work without the real engine. These extra
// exports (prefix DevEngine) let a test act as the UI: deliver a message on a
// channel, read back the host's reply, answer messages the host sent, run a
// frame, and read what the library recorded.
//
// Everything the library sees is appended to a transcript, one line per
// event. Misuse of the interface by the host is never tolerated silently: it
// is written to standard error as "dev engine: misuse: <what>", appended to
// the transcript with the same text, and counted by kind:
//
//   kDevEngineMisuseResponseTwice      a response handle answered again
//   kDevEngineMisuseUnknownResponse    a response handle this engine never
//                                      issued (or null, or another engine's)
//   kDevEngineMisuseUnanswered         a message still unanswered when its
//                                      engine was destroyed
//   kDevEngineMisuseReleaseBelowZero   a messenger released more often than
//                                      it was referenced
//   kDevEngineMisuseCallbackAfterClear a message arrived on a channel whose
//                                      callback the host had cleared; the
//                                      library refused to call the stale
//                                      callback and answered it empty
//   kDevEngineMisuseUseAfterDestroy    an engine, messenger or response used
//                                      after its engine ended (or an engine
//                                      destroyed twice)
//   kDevEngineMisuseBadArguments       arguments the interface rules out
//   kDevEngineMisuseUnwound            an exception came out of a host
//                                      callback (message, reply or next
//                                      frame), which would unwind through the
//                                      real engine's C frames; stopped here
//   kDevEngineMisuseOfferedWhileEnding a top-level window message offered to a
//                                      view controller from inside its own
//                                      destruction
//
// Message ids, reply records, the transcript and the misuse counts are
// process-wide and outlive the engines, so a test can still read them after
// the engine is gone. Messenger objects are never freed by this library, so
// their reference count stays readable and a late release is caught instead
// of corrupting memory.
//
// Example:
//   uint64_t id = DevEngineDeliverMessage(engine, "fernbrook/security", bytes, n);
//   DevEngineReplyInfo info;
//   uint8_t reply[256];
//   if (DevEngineGetReply(id, &info, reply, sizeof reply) &&
//       info.state == kDevEngineReplyAnswered) { ... reply[0 .. info.size) ... }
#ifndef TOOLS_FLUTTER_WINDOWS_DEV_ENGINE_H_
#define TOOLS_FLUTTER_WINDOWS_DEV_ENGINE_H_

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#endif

// As the engine interface's FLUTTER_EXPORT (runner/flutter_windows.h): the
// library exports these, its tests import them; the host build's static
// core needs neither.
#if defined(_WIN32) && defined(FLUTTER_DESKTOP_IMPLEMENTATION)
#define DEV_ENGINE_API __declspec(dllexport)
#elif defined(_WIN32)
#define DEV_ENGINE_API __declspec(dllimport)
#else
#define DEV_ENGINE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

struct FlutterDesktopEngine;
struct FlutterDesktopMessenger;

enum DevEngineReplyState {
  kDevEngineReplyNone = 0,       // no such message id
  kDevEngineReplyPending = 1,    // delivered, not answered yet
  kDevEngineReplyAnswered = 2,   // answered through SendResponse
  kDevEngineReplyUnhandled = 3,  // no callback on the channel; answered empty
  kDevEngineReplyAbandoned = 4,  // the engine ended before an answer came
};

enum DevEngineMisuseKind {
  kDevEngineMisuseAny = 0,
  kDevEngineMisuseResponseTwice = 1,
  kDevEngineMisuseUnknownResponse = 2,
  kDevEngineMisuseUnanswered = 3,
  kDevEngineMisuseReleaseBelowZero = 4,
  kDevEngineMisuseCallbackAfterClear = 5,
  kDevEngineMisuseUseAfterDestroy = 6,
  kDevEngineMisuseBadArguments = 7,
  kDevEngineMisuseUnwound = 8,
  kDevEngineMisuseOfferedWhileEnding = 9,
};

// Faults an engine may show, which a host must survive; all off after
// DevEngineReset.
enum DevEngineFault {
  kDevEngineFaultLockReturnsNull = 1,    // MessengerLock takes nothing, returns null
  kDevEngineFaultAddRefReturnsNull = 2,  // MessengerAddRef counts nothing, returns null
};

typedef struct {
  int32_t state;          // DevEngineReplyState
  int32_t data_was_null;  // 1 when SendResponse was given a null data pointer
  size_t size;            // reply size in bytes
  uint32_t responses;     // SendResponse calls accepted for this message (0 or 1)
  int32_t locked;         // 1 when the answering thread held the messenger lock
} DevEngineReplyInfo;

typedef struct {
  uint64_t id;            // pass to DevEngineAnswerOutbound
  int32_t expects_reply;  // 1 for SendWithReply
  int32_t answered;       // 1 once the reply function was called
  size_t size;            // message size in bytes
  char channel[128];      // NUL-terminated, truncated if longer
} DevEngineOutboundInfo;

// Delivers a message on `channel` as the UI would, calling the host's
// callback on the calling thread before returning. Returns the message id,
// or 0 when `engine` is not a live engine. Without a callback on the channel
// the message is answered with an empty reply at once, as the engine does,
// and its state is Unhandled.
// The bytes are copied; the copy handed to the host is overwritten after the
// callback returns, so a host that keeps the pointer reads garbage.
DEV_ENGINE_API uint64_t DevEngineDeliverMessage(struct FlutterDesktopEngine* engine,
                                                const char* channel, const uint8_t* message,
                                                size_t message_size);

// The reply record of a delivered message. Copies up to `capacity` reply
// bytes into `buffer` (which may be null when capacity is 0). False for an
// unknown id.
DEV_ENGINE_API bool DevEngineGetReply(uint64_t message_id, DevEngineReplyInfo* info,
                                      uint8_t* buffer, size_t capacity);

// Drops the record of a delivered message that is no longer pending (its
// response handle then counts as unknown). Long runs use it so that the
// records do not grow. False for an unknown or still pending id.
DEV_ENGINE_API bool DevEngineForgetMessage(uint64_t message_id);

// Messages the host sent toward the UI, in order, across all engines.
DEV_ENGINE_API size_t DevEngineOutboundCount(void);
DEV_ENGINE_API bool DevEngineGetOutbound(size_t index, DevEngineOutboundInfo* info, uint8_t* buffer,
                                         size_t capacity);
// Answers an outbound message sent with SendWithReply: calls the host's reply
// function on the calling thread. False when the id is unknown, expects no
// reply, or was answered already.
DEV_ENGINE_API bool DevEngineAnswerOutbound(uint64_t id, const uint8_t* reply, size_t reply_size);

// How deeply the calling thread holds a messenger's lock (0: not at all).
DEV_ENGINE_API int32_t DevEngineMessengerLockDepth(struct FlutterDesktopMessenger* messenger);

// Reference count of a messenger: 1 for the engine's own reference while the
// engine lives, plus one per AddRef not yet released.
DEV_ENGINE_API int32_t DevEngineMessengerRefCount(struct FlutterDesktopMessenger* messenger);

// The callback registered for `channel`, as last set by the host; nulls when
// none. False for an unknown or destroyed engine.
DEV_ENGINE_API bool DevEngineGetChannelCallback(struct FlutterDesktopEngine* engine,
                                                const char* channel, void** callback,
                                                void** user_data);
// Number of FlutterDesktopMessengerSetCallback calls on `channel`.
DEV_ENGINE_API uint32_t DevEngineSetCallbackCount(struct FlutterDesktopEngine* engine,
                                                  const char* channel);

// Draws a frame: runs the waiting next-frame callback once, if any. Returns
// whether one ran.
DEV_ENGINE_API bool DevEngineRenderFrame(struct FlutterDesktopEngine* engine);

// Calls the next-frame callback that the last frame ran once more, as an
// engine that calls it twice would; false when no frame ran one. A host
// must treat its callback as spent after the first call.
DEV_ENGINE_API bool DevEngineRepeatFrameCallback(struct FlutterDesktopEngine* engine);

// The engine created last, while it lives; null otherwise. Lets a test that
// only holds the host's wrappers reach the engine behind them.
DEV_ENGINE_API struct FlutterDesktopEngine* DevEngineNewestEngine(void);

#ifdef _WIN32
// The child window of the view controller created last, while it lives;
// null otherwise.
DEV_ENGINE_API HWND DevEngineViewWindow(void);
#endif

// Turns one DevEngineFault on or off.
DEV_ENGINE_API void DevEngineSetFault(int32_t fault, bool on);

// Misuse recorded since the last reset, of one kind or of all (kind 0).
DEV_ENGINE_API size_t DevEngineMisuseCount(int32_t kind);

// The transcript since the last reset, one event per line. Copies up to
// `capacity` bytes (NUL-terminated when there is room) and returns the full
// length without the NUL.
DEV_ENGINE_API size_t DevEngineTranscript(char* buffer, size_t capacity);

// Clears the transcript, the misuse counts and the faults. Message and reply
// records are kept.
DEV_ENGINE_API void DevEngineReset(void);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // TOOLS_FLUTTER_WINDOWS_DEV_ENGINE_H_
