// Internal state of the development engine library.
//
// One process-wide World holds every engine, messenger, message and reply
// record behind one mutex. Engines and messengers are never freed while the
// process runs: an ended engine stays as a record marked not alive, so a late
// or repeated use of its handle is reported instead of touching freed memory,
// and handle addresses are never reused.
//
// Lock order: a messenger's lock (FlutterDesktopMessengerLock) before the
// World mutex, never the other way round. No host callback runs while the
// World mutex is held.
#ifndef TOOLS_FLUTTER_WINDOWS_DEV_STATE_H_
#define TOOLS_FLUTTER_WINDOWS_DEV_STATE_H_

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "runner/flutter_windows.h"
#include "tools/flutter_windows/dev_engine.h"

namespace dev_engine {

// A reentrant lock that knows its owner, so that an unlock by a thread that
// does not hold it is reported rather than undefined.
class OwnedLock {
 public:
  void Lock();
  // False (and nothing changes) when the calling thread does not hold it.
  bool Unlock();
  // How often the calling thread holds it (0: not at all).
  int DepthHeldByCaller();

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  std::thread::id owner_;
  int depth_ = 0;
};

}  // namespace dev_engine

struct FlutterDesktopMessenger {
  // 1 for the engine's own reference, plus one per AddRef.
  std::atomic<int32_t> refs{1};
  dev_engine::OwnedLock lock;
  // Guarded by the World mutex; null once the engine has ended.
  FlutterDesktopEngine* engine = nullptr;
};

struct FlutterDesktopMessageResponseHandle {
  uint64_t message_id = 0;
};

struct FlutterDesktopPluginRegistrar {
  FlutterDesktopEngine* engine = nullptr;
};

struct FlutterDesktopEngine {
  struct Registration {
    FlutterDesktopMessageCallback callback = nullptr;
    void* user_data = nullptr;
    uint32_t set_calls = 0;
  };

  bool alive = true;
  // Set while a view controller owns the engine; only the controller may end
  // it then.
  bool owned_by_controller = false;
  FlutterDesktopMessenger* messenger = nullptr;
  FlutterDesktopPluginRegistrar registrar;
  std::map<std::string, Registration> channels;
  FlutterDesktopNextFrameCallback next_frame_callback = nullptr;
  void* next_frame_user_data = nullptr;
  // The callback the last frame ran, for DevEngineRepeatFrameCallback.
  FlutterDesktopNextFrameCallback last_frame_callback = nullptr;
  void* last_frame_user_data = nullptr;

  // Hands out the waiting next-frame callback (null when none) for a frame
  // to run, and remembers it as the last one run.
  // REQUIRES: the World mutex held.
  FlutterDesktopNextFrameCallback TakeNextFrameCallback(void** user_data) {
    FlutterDesktopNextFrameCallback callback = next_frame_callback;
    *user_data = next_frame_user_data;
    next_frame_callback = nullptr;
    next_frame_user_data = nullptr;
    if (callback != nullptr) {
      last_frame_callback = callback;
      last_frame_user_data = *user_data;
    }
    return callback;
  }

  // What the engine was started with, copied.
  std::wstring assets_path;
  std::wstring icu_data_path;
  std::wstring aot_library_path;
  std::string entry_point;
  std::vector<std::string> entry_point_arguments;
  int32_t engine_option_1 = 0;
  int32_t engine_option_2 = 0;
};

namespace dev_engine {

struct InboundMessage {
  uint64_t id = 0;
  FlutterDesktopEngine* engine = nullptr;
  FlutterDesktopMessenger* messenger = nullptr;
  std::string channel;
  DevEngineReplyState state = kDevEngineReplyPending;
  bool data_was_null = false;
  uint32_t responses = 0;
  bool locked = false;  // the answering thread held the messenger lock
  std::vector<uint8_t> reply;
  std::unique_ptr<FlutterDesktopMessageResponseHandle> handle;
};

struct OutboundMessage {
  uint64_t id = 0;
  FlutterDesktopEngine* engine = nullptr;
  std::string channel;
  std::vector<uint8_t> bytes;
  FlutterDesktopBinaryReply reply = nullptr;
  void* user_data = nullptr;
  bool answered = false;
};

// A reply function still owed to the host, called once no lock is held.
struct OwedReply {
  FlutterDesktopBinaryReply reply;
  void* user_data;
};

class World {
 public:
  static World& Get();

  std::mutex mutex;

  // Everything below is guarded by `mutex`.
  std::vector<std::unique_ptr<FlutterDesktopEngine>> engines;
  std::vector<std::unique_ptr<FlutterDesktopMessenger>> messengers;
  std::set<const void*> engine_addresses;
  std::set<const void*> messenger_addresses;
  std::map<uint64_t, InboundMessage> inbound;
  std::map<const FlutterDesktopMessageResponseHandle*, uint64_t> handles;
  std::vector<OutboundMessage> outbound;
  uint64_t next_id = 1;
  std::string transcript;
  std::array<size_t, 10> misuse_counts{};
  // Faults switched on by DevEngineSetFault.
  bool lock_returns_null = false;
  bool add_ref_returns_null = false;
  // The engine created last (alive or ended).
  FlutterDesktopEngine* newest_engine = nullptr;

  // The engine or messenger behind a handle this library issued (alive or
  // ended), or null for anything else.
  FlutterDesktopEngine* FindEngine(const void* handle);
  FlutterDesktopMessenger* FindMessenger(const void* handle);

  // Appends one line to the transcript.
  void Note(const std::string& line);

  // False when DEV_ENGINE_HISTORY=off: transcript lines then go only to the
  // transcript file, and answered scripted messages are forgotten, so that a
  // long run measures the host's memory and not this library's records.
  static bool KeepHistory();
  // Reports misuse: standard error, transcript, count.
  void Misuse(DevEngineMisuseKind kind, const std::string& what);

 private:
  World() = default;
};

// Calls one of the host's callbacks. The real engine calls them from C
// frames that an exception must never cross: one that comes out is misuse,
// recorded and stopped here. `what` names the callback. Takes the world's
// lock only when reporting, so call it without the lock held.
template <typename Call>
void CallHost(const std::string& what, Call&& call) noexcept {
  try {
    call();
  } catch (...) {
    World& world = World::Get();
    std::lock_guard<std::mutex> guard(world.mutex);
    world.Misuse(kDevEngineMisuseUnwound, "an exception unwound out of the host's " + what);
  }
}

// Ends a live engine: waits for its messenger lock, records every message
// still unanswered as misuse, marks the messenger unavailable, drops the
// engine's own messenger reference and calls every outstanding reply
// function of messages the host sent (with no bytes), after all locks are
// released. Used by EngineDestroy and by the view controller that owns the
// engine.
void EndEngine(FlutterDesktopEngine* engine);

// The value of an environment variable of the process, empty when unset.
std::string EnvironmentValue(const char* name);

// The transcript line "properties ..." for an engine just created.
std::string DescribeProperties(const FlutterDesktopEngine& engine, bool argv_was_null);

}  // namespace dev_engine

#endif  // TOOLS_FLUTTER_WINDOWS_DEV_STATE_H_
