// Engine side of the development library: create, destroy, messenger and
// registrar access, fonts and the next-frame callback. Portable: the host
// build's core has it too.
#include <cstdio>
#include <utility>
#include <vector>

#include "tools/flutter_windows/dev_state.h"
#include "tools/flutter_windows/wire_format.h"
#include "util/hex.h"
#include "util/utf.h"

namespace dev_engine {
namespace {

std::string Id(const FlutterDesktopEngine* engine) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", static_cast<const void*>(engine));
  return text;
}

// The live engine behind `handle`, or null after reporting why not.
// REQUIRES: world.mutex held.
FlutterDesktopEngine* LiveEngine(World& world, FlutterDesktopEngineRef handle,
                                 const char* operation) {
  FlutterDesktopEngine* engine = world.FindEngine(handle);
  if (engine == nullptr) {
    world.Misuse(kDevEngineMisuseBadArguments,
                 std::string(operation) + " on an engine handle this library never issued");
    return nullptr;
  }
  if (!engine->alive) {
    world.Misuse(kDevEngineMisuseUseAfterDestroy,
                 std::string(operation) + " on engine " + Id(engine) + " after it ended");
    return nullptr;
  }
  return engine;
}

}  // namespace

// What the engine was started with, as one transcript line; each argument's
// bytes in hex so that their encoding shows exactly.
std::string DescribeProperties(const FlutterDesktopEngine& engine, bool argv_was_null) {
  std::string line = "properties assets=" + tw::WideToUtf8Lossy(engine.assets_path) +
                     " icu=" + tw::WideToUtf8Lossy(engine.icu_data_path) +
                     " aot=" + tw::WideToUtf8Lossy(engine.aot_library_path) + " entry=\"" +
                     engine.entry_point +
                     "\" argc=" + std::to_string(engine.entry_point_arguments.size()) + " argv=";
  if (argv_was_null) {
    line += "null";
  } else {
    line += "[";
    for (size_t i = 0; i < engine.entry_point_arguments.size(); ++i) {
      const std::string& argument = engine.entry_point_arguments[i];
      if (i > 0) line += ",";
      line += tw::ToLowerHex(reinterpret_cast<const uint8_t*>(argument.data()), argument.size());
    }
    line += "]";
  }
  line += " options=" + std::to_string(engine.engine_option_1) + "," +
          std::to_string(engine.engine_option_2);
  return line;
}

void EndEngine(FlutterDesktopEngine* engine) {
  World& world = World::Get();
  FlutterDesktopMessenger* messenger = engine->messenger;
  std::vector<OwedReply> owed;

  // A reply in progress holds the messenger lock around its availability
  // check and its response; the engine ends only between such replies.
  messenger->lock.Lock();
  {
    std::lock_guard<std::mutex> guard(world.mutex);
    for (auto& [id, message] : world.inbound) {
      if (message.engine != engine || message.state != kDevEngineReplyPending) continue;
      message.state = kDevEngineReplyAbandoned;
      world.Misuse(kDevEngineMisuseUnanswered, "message " + std::to_string(id) + " on " +
                                                   message.channel +
                                                   " never answered before its engine ended");
    }
    for (OutboundMessage& message : world.outbound) {
      if (message.engine != engine || message.reply == nullptr || message.answered) continue;
      message.answered = true;
      owed.push_back({message.reply, message.user_data});
    }
    engine->alive = false;
    engine->channels.clear();
    engine->next_frame_callback = nullptr;
    engine->next_frame_user_data = nullptr;
    engine->last_frame_callback = nullptr;
    engine->last_frame_user_data = nullptr;
    messenger->engine = nullptr;
    world.Note("engine-destroy " + Id(engine));
  }
  messenger->lock.Unlock();
  FlutterDesktopMessengerRelease(messenger);

  // The interface promises every accepted SendWithReply exactly one call of
  // its reply function; an engine that ends answers them with no bytes, so
  // the host can free what it attached.
  for (const OwedReply& reply : owed) {
    CallHost("reply function", [&] { reply.reply(nullptr, 0, reply.user_data); });
  }
}

}  // namespace dev_engine

using dev_engine::World;

extern "C" {

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  if (properties == nullptr) {
    world.Misuse(kDevEngineMisuseBadArguments, "EngineCreate without properties");
    return nullptr;
  }
  if (properties->assets_path == nullptr || properties->icu_data_path == nullptr ||
      properties->aot_library_path == nullptr) {
    world.Misuse(kDevEngineMisuseBadArguments, "EngineCreate with a null path");
    return nullptr;
  }
  if (properties->dart_entrypoint_argc < 0 ||
      (properties->dart_entrypoint_argc > 0 && properties->dart_entrypoint_argv == nullptr)) {
    world.Misuse(kDevEngineMisuseBadArguments,
                 "EngineCreate with an argument count that does not match its array");
    return nullptr;
  }

  if (dev_engine::EnvironmentValue("DEV_ENGINE_FAIL_ENGINE_CREATE") == "1") {
    // Failure mode: as an engine that cannot start.
    world.Note("engine-create failed (DEV_ENGINE_FAIL_ENGINE_CREATE)");
    return nullptr;
  }

  auto engine = std::make_unique<FlutterDesktopEngine>();
  // These two are allowed by the engine but never produced by a correct
  // host; they are reported and the engine still starts.
  if (properties->dart_entrypoint == nullptr) {
    world.Misuse(kDevEngineMisuseBadArguments,
                 "EngineCreate with a null entry point (empty means default)");
  } else {
    engine->entry_point = properties->dart_entrypoint;
  }
  if (properties->dart_entrypoint_argc == 0 && properties->dart_entrypoint_argv != nullptr) {
    world.Misuse(kDevEngineMisuseBadArguments,
                 "EngineCreate with an argument array but a count of 0");
  }
  engine->assets_path = properties->assets_path;
  engine->icu_data_path = properties->icu_data_path;
  engine->aot_library_path = properties->aot_library_path;
  for (int32_t i = 0; i < properties->dart_entrypoint_argc; ++i) {
    const char* argument = properties->dart_entrypoint_argv[i];
    engine->entry_point_arguments.emplace_back(argument != nullptr ? argument : "");
  }
  engine->engine_option_1 = properties->engine_option_1;
  engine->engine_option_2 = properties->engine_option_2;

  auto messenger = std::make_unique<FlutterDesktopMessenger>();
  messenger->engine = engine.get();
  engine->messenger = messenger.get();
  engine->registrar.engine = engine.get();

  FlutterDesktopEngine* result = engine.get();
  world.engine_addresses.insert(result);
  world.messenger_addresses.insert(messenger.get());
  world.newest_engine = result;
  world.engines.push_back(std::move(engine));
  world.messengers.push_back(std::move(messenger));
  world.Note("engine-create " + dev_engine::Id(result));
  world.Note(dev_engine::DescribeProperties(*result, properties->dart_entrypoint_argv == nullptr));
  return result;
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef handle) {
  World& world = World::Get();
  {
    std::lock_guard<std::mutex> guard(world.mutex);
    FlutterDesktopEngine* engine = dev_engine::LiveEngine(world, handle, "EngineDestroy");
    if (engine == nullptr) return false;
    if (engine->owned_by_controller) {
      world.Misuse(kDevEngineMisuseBadArguments,
                   "EngineDestroy on an engine that its view controller owns");
      return false;
    }
  }
  dev_engine::EndEngine(handle);
  return true;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef handle) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  FlutterDesktopEngine* engine = dev_engine::LiveEngine(world, handle, "EngineGetMessenger");
  if (engine == nullptr) return nullptr;
  world.Note("get-messenger");
  return engine->messenger;
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef handle, const char* plugin_name) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  FlutterDesktopEngine* engine = dev_engine::LiveEngine(world, handle, "EngineGetPluginRegistrar");
  if (engine == nullptr) return nullptr;
  world.Note(std::string("plugin-registrar ") + (plugin_name != nullptr ? plugin_name : ""));
  return &engine->registrar;
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef handle) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  if (dev_engine::LiveEngine(world, handle, "EngineReloadSystemFonts") == nullptr) return;
  world.Note("reload-system-fonts");
}

void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef handle,
                                              FlutterDesktopNextFrameCallback callback,
                                              void* user_data) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  FlutterDesktopEngine* engine =
      dev_engine::LiveEngine(world, handle, "EngineSetNextFrameCallback");
  if (engine == nullptr) return;
  engine->next_frame_callback = callback;
  engine->next_frame_user_data = user_data;
  world.Note("set-next-frame-callback");
}

DEV_ENGINE_API bool DevEngineRenderFrame(FlutterDesktopEngine* handle) {
  World& world = World::Get();
  FlutterDesktopNextFrameCallback callback = nullptr;
  void* user_data = nullptr;
  {
    std::lock_guard<std::mutex> guard(world.mutex);
    FlutterDesktopEngine* engine = dev_engine::LiveEngine(world, handle, "frame");
    if (engine == nullptr) return false;
    callback = engine->TakeNextFrameCallback(&user_data);
    world.Note(callback != nullptr ? "frame (next-frame callback runs)" : "frame");
  }
  if (callback == nullptr) return false;
  dev_engine::CallHost("next-frame callback", [&] { callback(user_data); });
  return true;
}

DEV_ENGINE_API bool DevEngineRepeatFrameCallback(FlutterDesktopEngine* handle) {
  World& world = World::Get();
  FlutterDesktopNextFrameCallback callback = nullptr;
  void* user_data = nullptr;
  {
    std::lock_guard<std::mutex> guard(world.mutex);
    FlutterDesktopEngine* engine = dev_engine::LiveEngine(world, handle, "repeated frame");
    if (engine == nullptr) return false;
    callback = engine->last_frame_callback;
    user_data = engine->last_frame_user_data;
    if (callback != nullptr) world.Note("frame (last next-frame callback runs again)");
  }
  if (callback == nullptr) return false;
  dev_engine::CallHost("next-frame callback", [&] { callback(user_data); });
  return true;
}

DEV_ENGINE_API FlutterDesktopEngine* DevEngineNewestEngine(void) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  FlutterDesktopEngine* engine = world.newest_engine;
  return engine != nullptr && engine->alive ? engine : nullptr;
}

}  // extern "C"
