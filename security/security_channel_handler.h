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

namespace tw::security {

void SecurityChannelHandler(const flutter::MethodCall<flutter::EncodableValue>& call,
                            std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result);

// "decryptPackage": `arguments` is a map with "source" and "destination"
// (UTF-8 strings) and "key" (32 bytes). Answers true, "invalid",
// "Missing arguments" when the arguments are not a map, or "decrypt_failed"
// with a message: those of DecryptPackageFile (security/encrypted_package.h),
// "invalid map<K, T> key" for a missing entry, "bad variant access" for an
// entry of the wrong type, and "Invalid file path" for a path that is not
// well-formed UTF-8 or holds a NUL character. Running out of memory anywhere
// in the call answers "decrypt_failed", "Out of memory"; nothing is raised to
// the caller.
void DecryptPackage(const flutter::EncodableValue* arguments, flutter::MethodResult<>& result);

}  // namespace tw::security

#endif  // SECURITY_SECURITY_CHANNEL_HANDLER_H_
