// The handler of the method channel "fernbrook/security".
//
// Methods (compared case-sensitively, in this order):
//   "writeToken"     string token        -> true | "invalid" | "cred_write"
//   "readToken"      -                   -> the stored token, or null
//   "deleteToken"    -                   -> true, also when nothing was stored
//   "getHardwareId"  -                   -> 64 lower-case hex digits | "hwid"
//   "decryptPackage" {source, destination, key} -> true | "invalid" | "decrypt_failed"
// Any other name is answered NotImplemented.
//
// Every call is answered exactly once before the function returns; the
// result is released on return. Runs on the window thread; keeps no state
// between calls. "decryptPackage" blocks until the whole package has been
// processed.
#ifndef SECURITY_SECURITY_CHANNEL_HANDLER_H_
#define SECURITY_SECURITY_CHANNEL_HANDLER_H_

#include <memory>

#include "channels/encodable_value.h"
#include "channels/method_call.h"

void SecurityChannelHandler(const flutter::MethodCall<flutter::EncodableValue>& call,
                            std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result);

#endif  // SECURITY_SECURITY_CHANNEL_HANDLER_H_
