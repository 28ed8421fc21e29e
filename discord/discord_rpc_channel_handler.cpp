#include "discord/discord_rpc_channel_handler.h"

#include <string>

#include "discord/discord_ipc.h"

namespace tw::discord {
namespace {

// The string stored under `key`, the empty string included; `fallback` when
// the key is absent or holds anything other than a string (null included).
std::string GetStringArgument(const flutter::EncodableMap& arguments, const char* key,
                              const char* fallback) {
  const auto it = arguments.find(flutter::EncodableValue(key));
  if (it != arguments.end()) {
    if (const auto* text = it->second.GetIf<std::string>()) return *text;
  }
  return fallback;
}

void HandleStart(const flutter::MethodCall<flutter::EncodableValue>& call,
                 flutter::MethodResult<flutter::EncodableValue>& result) {
  const flutter::EncodableValue* value = call.arguments();
  const auto* arguments = value != nullptr ? value->GetIf<flutter::EncodableMap>() : nullptr;
  if (arguments == nullptr) {
    // Touches no connection: an open one stays open.
    result.Error("invalid", "Missing Discord RPC arguments");
    return;
  }

  // No value is validated or rejected here; the Discord client's answer to
  // the handshake decides about an empty or unknown client id.
  const std::string large_text = GetStringArgument(*arguments, "largeText", "Tidewarden Launcher");
  const std::string large_image = GetStringArgument(*arguments, "largeImage", "tidewarden");
  const std::string state =
      GetStringArgument(*arguments, "state", "Managing tools and subscriptions");
  const std::string details = GetStringArgument(*arguments, "details", "Tidewarden Launcher");
  const std::string client_id = GetStringArgument(*arguments, "clientId", "");

  std::string reply;
  std::string error;
  if (UpdateDiscordPresence(client_id, details, state, large_image, large_text, &reply, &error)) {
    result.Success(flutter::EncodableValue(std::move(reply)));
  } else {
    result.Error("discord_rpc", error);
  }
}

}  // namespace

void DiscordRpcChannelHandler(
    const flutter::MethodCall<flutter::EncodableValue>& call,
    std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result) {
  const std::string& method = call.method_name();
  if (method == "start") {
    HandleStart(call, *result);
  } else if (method == "stop") {
    StopDiscordPresence();
    result->Success(flutter::EncodableValue(true));
  } else {
    result->NotImplemented();
  }
}

}  // namespace tw::discord
