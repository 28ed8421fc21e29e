// Messenger side of the development library: channel callbacks, reference
// counting, the reply lock, responses, messages toward the UI, and the hooks
// through which a test plays the UI.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "tools/flutter_windows/dev_state.h"

namespace dev_engine {
namespace {

// The messenger behind `handle`, or null after reporting it.
// REQUIRES: world.mutex held.
FlutterDesktopMessenger* KnownMessenger(World& world, FlutterDesktopMessengerRef handle,
                                        const char* operation) {
  FlutterDesktopMessenger* messenger = world.FindMessenger(handle);
  if (messenger == nullptr) {
    world.Misuse(kDevEngineMisuseBadArguments,
                 std::string(operation) + " on a messenger handle this library never issued");
  }
  return messenger;
}

std::string Describe(const InboundMessage& message) {
  return "message " + std::to_string(message.id) + " on " + message.channel;
}

void CopyOut(const std::vector<uint8_t>& bytes, uint8_t* buffer, size_t capacity) {
  if (buffer == nullptr || bytes.empty()) return;
  std::memcpy(buffer, bytes.data(), std::min(capacity, bytes.size()));
}

}  // namespace
}  // namespace dev_engine

using dev_engine::InboundMessage;
using dev_engine::OutboundMessage;
using dev_engine::World;

extern "C" {

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef handle, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  FlutterDesktopMessenger* messenger =
      dev_engine::KnownMessenger(world, handle, "MessengerSetCallback");
  if (messenger == nullptr) return;
  if (channel == nullptr) {
    world.Misuse(kDevEngineMisuseBadArguments, "MessengerSetCallback without a channel name");
    return;
  }
  if (messenger->engine == nullptr) {
    world.Misuse(kDevEngineMisuseUseAfterDestroy,
                 std::string("MessengerSetCallback on ") + channel + " after the engine ended");
    return;
  }
  if (callback == nullptr && user_data != nullptr) {
    world.Misuse(kDevEngineMisuseBadArguments, std::string("MessengerSetCallback on ") + channel +
                                                   " clears the callback but passes user data");
    user_data = nullptr;
  }
  FlutterDesktopEngine::Registration& registration = messenger->engine->channels[channel];
  registration.callback = callback;
  registration.user_data = user_data;
  ++registration.set_calls;
  world.Note(std::string("set-callback ") + channel + (callback != nullptr ? " on" : " off"));
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef handle, const char* channel,
                                 const uint8_t* message, size_t message_size) {
  return FlutterDesktopMessengerSendWithReply(handle, channel, message, message_size, nullptr,
                                              nullptr);
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef handle, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  FlutterDesktopMessenger* messenger = dev_engine::KnownMessenger(world, handle, "MessengerSend");
  if (messenger == nullptr) return false;
  if (channel == nullptr || (message == nullptr && message_size > 0)) {
    world.Misuse(kDevEngineMisuseBadArguments, "MessengerSend without a channel or its bytes");
    return false;
  }
  if (messenger->engine == nullptr) {
    // Allowed: a send after the engine ended is refused, and the caller
    // keeps (and frees) its user data.
    world.Note(std::string("send refused, engine ended: ") + channel);
    return false;
  }
  OutboundMessage record;
  record.id = world.next_id++;
  record.engine = messenger->engine;
  record.channel = channel;
  if (message_size > 0) record.bytes.assign(message, message + message_size);
  record.reply = reply;
  record.user_data = user_data;
  world.Note("send " + std::to_string(record.id) + " " + record.channel + " " +
             std::to_string(message_size) + " bytes" + (reply != nullptr ? ", reply wanted" : ""));
  world.outbound.push_back(std::move(record));
  return true;
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef handle,
                                         const FlutterDesktopMessageResponseHandle* response,
                                         const uint8_t* data, size_t data_length) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  FlutterDesktopMessenger* messenger =
      dev_engine::KnownMessenger(world, handle, "MessengerSendResponse");
  if (messenger == nullptr) return;
  auto found = world.handles.find(response);
  if (found == world.handles.end()) {
    world.Misuse(kDevEngineMisuseUnknownResponse,
                 "MessengerSendResponse with a response handle this library never issued");
    return;
  }
  InboundMessage& message = world.inbound.at(found->second);
  if (message.messenger != messenger) {
    world.Misuse(kDevEngineMisuseUnknownResponse, "MessengerSendResponse for " +
                                                      dev_engine::Describe(message) +
                                                      " through another engine's messenger");
    return;
  }
  if (data == nullptr && data_length > 0) {
    world.Misuse(
        kDevEngineMisuseBadArguments,
        "MessengerSendResponse for " + dev_engine::Describe(message) + " with a size but no bytes");
    return;
  }
  if (message.state == kDevEngineReplyAnswered) {
    world.Misuse(kDevEngineMisuseResponseTwice,
                 "response handle used twice, for " + dev_engine::Describe(message));
    return;
  }
  if (message.state == kDevEngineReplyAbandoned || messenger->engine == nullptr) {
    world.Misuse(
        kDevEngineMisuseUseAfterDestroy,
        "MessengerSendResponse for " + dev_engine::Describe(message) + " after its engine ended");
    return;
  }
  message.state = kDevEngineReplyAnswered;
  message.data_was_null = data == nullptr;
  message.locked = messenger->lock.DepthHeldByCaller() > 0;
  ++message.responses;
  if (data_length > 0) message.reply.assign(data, data + data_length);
  world.Note("response " + std::to_string(message.id) + " " + std::to_string(data_length) +
             " bytes" + (data == nullptr ? " (null)" : ""));
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef handle) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  FlutterDesktopMessenger* messenger = dev_engine::KnownMessenger(world, handle, "MessengerAddRef");
  if (messenger == nullptr) return nullptr;
  if (world.add_ref_returns_null) {
    world.Note("add-ref refused (fault)");
    return nullptr;
  }
  // Counting up from zero would revive a messenger its last holder released.
  int32_t count = messenger->refs.load();
  do {
    if (count <= 0) {
      world.Misuse(kDevEngineMisuseUseAfterDestroy,
                   "MessengerAddRef on a messenger whose last reference was released");
      return messenger;
    }
  } while (!messenger->refs.compare_exchange_weak(count, count + 1));
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef handle) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  FlutterDesktopMessenger* messenger =
      dev_engine::KnownMessenger(world, handle, "MessengerRelease");
  if (messenger == nullptr) return;
  int32_t count = messenger->refs.load();
  do {
    if (count <= 0) {
      world.Misuse(kDevEngineMisuseReleaseBelowZero,
                   "MessengerRelease on a messenger with no references left");
      return;
    }
  } while (!messenger->refs.compare_exchange_weak(count, count - 1));
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef handle) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  FlutterDesktopMessenger* messenger =
      dev_engine::KnownMessenger(world, handle, "MessengerIsAvailable");
  return messenger != nullptr && messenger->engine != nullptr;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef handle) {
  FlutterDesktopMessenger* messenger = nullptr;
  {
    World& world = World::Get();
    std::lock_guard<std::mutex> guard(world.mutex);
    messenger = dev_engine::KnownMessenger(world, handle, "MessengerLock");
    if (messenger != nullptr && world.lock_returns_null) {
      world.Note("lock refused (fault)");
      return nullptr;
    }
  }
  if (messenger == nullptr) return nullptr;
  // Taken without the World mutex: the lock order is messenger, then World.
  messenger->lock.Lock();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef handle) {
  World& world = World::Get();
  FlutterDesktopMessenger* messenger = nullptr;
  {
    std::lock_guard<std::mutex> guard(world.mutex);
    messenger = dev_engine::KnownMessenger(world, handle, "MessengerUnlock");
  }
  if (messenger == nullptr || messenger->lock.Unlock()) return;
  std::lock_guard<std::mutex> guard(world.mutex);
  world.Misuse(kDevEngineMisuseBadArguments,
               "MessengerUnlock by a thread that does not hold the messenger lock");
}

DEV_ENGINE_API uint64_t DevEngineDeliverMessage(FlutterDesktopEngine* handle, const char* channel,
                                                const uint8_t* message, size_t message_size) {
  World& world = World::Get();
  FlutterDesktopMessageCallback callback = nullptr;
  void* user_data = nullptr;
  FlutterDesktopMessenger* messenger = nullptr;
  const FlutterDesktopMessageResponseHandle* response = nullptr;
  uint64_t id = 0;
  std::string channel_name = channel != nullptr ? channel : "";
  {
    std::lock_guard<std::mutex> guard(world.mutex);
    FlutterDesktopEngine* engine = world.FindEngine(handle);
    if (engine == nullptr || !engine->alive) {
      world.Note("deliver refused: no live engine");
      return 0;
    }
    id = world.next_id++;
    InboundMessage& record = world.inbound[id];
    record.id = id;
    record.engine = engine;
    record.messenger = engine->messenger;
    record.channel = channel_name;

    auto registration = engine->channels.find(channel_name);
    if (registration == engine->channels.end() || registration->second.callback == nullptr) {
      // The engine answers a message nobody listens to with an empty reply.
      record.state = kDevEngineReplyUnhandled;
      record.data_was_null = true;
      world.Note("deliver " + std::to_string(id) + " " + channel_name + " " +
                 std::to_string(message_size) + " bytes: no callback, answered empty");
      if (registration != engine->channels.end()) {
        world.Misuse(kDevEngineMisuseCallbackAfterClear,
                     dev_engine::Describe(record) +
                         " arrived after its callback was cleared; not delivered");
      }
      return id;
    }
    record.handle = std::make_unique<FlutterDesktopMessageResponseHandle>();
    record.handle->message_id = id;
    response = record.handle.get();
    world.handles[response] = id;
    callback = registration->second.callback;
    user_data = registration->second.user_data;
    messenger = engine->messenger;
    world.Note("deliver " + std::to_string(id) + " " + channel_name + " " +
               std::to_string(message_size) + " bytes");
  }

  // The host may read the bytes only during the callback: it gets a private
  // copy that is scribbled over afterwards.
  std::vector<uint8_t> bytes;
  if (message != nullptr && message_size > 0) bytes.assign(message, message + message_size);
  FlutterDesktopMessage record{};
  record.struct_size = sizeof(FlutterDesktopMessage);
  record.channel = channel_name.c_str();
  record.message = bytes.empty() ? nullptr : bytes.data();
  record.message_size = bytes.size();
  record.response_handle = response;
  dev_engine::CallHost("message callback on " + channel_name,
                       [&] { callback(messenger, &record, user_data); });
  std::fill(bytes.begin(), bytes.end(), uint8_t{0xDD});
  return id;
}

DEV_ENGINE_API bool DevEngineGetReply(uint64_t message_id, DevEngineReplyInfo* info,
                                      uint8_t* buffer, size_t capacity) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  auto found = world.inbound.find(message_id);
  if (found == world.inbound.end()) {
    if (info != nullptr) *info = DevEngineReplyInfo{kDevEngineReplyNone, 0, 0, 0, 0};
    return false;
  }
  const InboundMessage& message = found->second;
  if (info != nullptr) {
    info->state = message.state;
    info->data_was_null = message.data_was_null ? 1 : 0;
    info->size = message.reply.size();
    info->responses = message.responses;
    info->locked = message.locked ? 1 : 0;
  }
  dev_engine::CopyOut(message.reply, buffer, capacity);
  return true;
}

DEV_ENGINE_API bool DevEngineForgetMessage(uint64_t message_id) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  auto found = world.inbound.find(message_id);
  if (found == world.inbound.end() || found->second.state == kDevEngineReplyPending) return false;
  world.handles.erase(found->second.handle.get());
  world.inbound.erase(found);
  return true;
}

DEV_ENGINE_API size_t DevEngineOutboundCount(void) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  return world.outbound.size();
}

DEV_ENGINE_API bool DevEngineGetOutbound(size_t index, DevEngineOutboundInfo* info, uint8_t* buffer,
                                         size_t capacity) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  if (index >= world.outbound.size()) return false;
  const OutboundMessage& message = world.outbound[index];
  if (info != nullptr) {
    info->id = message.id;
    info->expects_reply = message.reply != nullptr ? 1 : 0;
    info->answered = message.answered ? 1 : 0;
    info->size = message.bytes.size();
    const size_t n = std::min(message.channel.size(), sizeof info->channel - 1);
    std::memcpy(info->channel, message.channel.data(), n);
    info->channel[n] = '\0';
  }
  dev_engine::CopyOut(message.bytes, buffer, capacity);
  return true;
}

DEV_ENGINE_API bool DevEngineAnswerOutbound(uint64_t id, const uint8_t* reply, size_t reply_size) {
  World& world = World::Get();
  FlutterDesktopBinaryReply function = nullptr;
  void* user_data = nullptr;
  {
    std::lock_guard<std::mutex> guard(world.mutex);
    auto found = std::find_if(world.outbound.begin(), world.outbound.end(),
                              [id](const OutboundMessage& m) { return m.id == id; });
    if (found == world.outbound.end() || found->reply == nullptr || found->answered) {
      return false;
    }
    found->answered = true;
    function = found->reply;
    user_data = found->user_data;
    world.Note("answer " + std::to_string(id) + " " + std::to_string(reply_size) + " bytes");
  }
  dev_engine::CallHost("reply function",
                       [&] { function(reply_size > 0 ? reply : nullptr, reply_size, user_data); });
  return true;
}

DEV_ENGINE_API int32_t DevEngineMessengerLockDepth(FlutterDesktopMessenger* handle) {
  FlutterDesktopMessenger* messenger = nullptr;
  {
    World& world = World::Get();
    std::lock_guard<std::mutex> guard(world.mutex);
    messenger = world.FindMessenger(handle);
  }
  return messenger != nullptr ? messenger->lock.DepthHeldByCaller() : -1;
}

DEV_ENGINE_API int32_t DevEngineMessengerRefCount(FlutterDesktopMessenger* handle) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  FlutterDesktopMessenger* messenger = world.FindMessenger(handle);
  return messenger != nullptr ? messenger->refs.load() : -1;
}

DEV_ENGINE_API bool DevEngineGetChannelCallback(FlutterDesktopEngine* handle, const char* channel,
                                                void** callback, void** user_data) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  FlutterDesktopEngine* engine = world.FindEngine(handle);
  if (engine == nullptr || !engine->alive || channel == nullptr) return false;
  auto found = engine->channels.find(channel);
  const bool present = found != engine->channels.end();
  // Function and data pointers share one representation on Windows x64.
  if (callback != nullptr) {
    *callback = present ? reinterpret_cast<void*>(found->second.callback) : nullptr;
  }
  if (user_data != nullptr) *user_data = present ? found->second.user_data : nullptr;
  return true;
}

DEV_ENGINE_API uint32_t DevEngineSetCallbackCount(FlutterDesktopEngine* handle,
                                                  const char* channel) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  FlutterDesktopEngine* engine = world.FindEngine(handle);
  if (engine == nullptr || !engine->alive || channel == nullptr) return 0;
  auto found = engine->channels.find(channel);
  return found != engine->channels.end() ? found->second.set_calls : 0;
}

}  // extern "C"
