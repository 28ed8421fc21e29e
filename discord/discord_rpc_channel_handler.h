// The method-call handler of the channel "tidewarden/discord_rpc".
//
// Methods (names compared byte for byte):
//   "start"  arguments: a map of up to five strings (clientId, details,
//            state, largeImage, largeText; a missing or non-string entry
//            takes its default). Publishes the activity and answers with
//            Discord's reply text, or with the error "discord_rpc" and the
//            connection's failure text. Arguments that are absent or not a
//            map: the error "invalid", "Missing Discord RPC arguments".
//   "stop"   withdraws the activity; answers true, always.
//   other    NotImplemented.
//
// Stateless; all connection state lives in discord_ipc.h. Answers every
// call exactly once before it returns, on the calling thread, which a
// "start" blocks for up to about 15 s while the Discord client answers
// (six waits of at most 2.5 s each, discord_ipc.h).
#ifndef DISCORD_DISCORD_RPC_CHANNEL_HANDLER_H_
#define DISCORD_DISCORD_RPC_CHANNEL_HANDLER_H_

#include <memory>

#include "channels/encodable_value.h"
#include "channels/method_call.h"

namespace tw::discord {

void DiscordRpcChannelHandler(
    const flutter::MethodCall<flutter::EncodableValue>& call,
    std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result);

}  // namespace tw::discord

#endif  // DISCORD_DISCORD_RPC_CHANNEL_HANDLER_H_
