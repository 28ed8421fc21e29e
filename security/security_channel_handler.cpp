#include "security/security_channel_handler.h"

#include <string>

#include "security/device_identity.h"
#include "security/encrypted_package.h"
#include "security/token_store.h"

void SecurityChannelHandler(
    const flutter::MethodCall<flutter::EncodableValue>& call,
    std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result) {
  // Exact, case-sensitive names: "WriteToken" or "readToken " are unknown.
  const std::string& method = call.method_name();
  if (method == "writeToken") {
    tw::security::WriteToken(call.arguments(), *result);
  } else if (method == "readToken") {
    tw::security::ReadToken(*result);
  } else if (method == "deleteToken") {
    tw::security::DeleteToken(*result);
  } else if (method == "getHardwareId") {
    tw::security::GetHardwareId(*result);
  } else if (method == "decryptPackage") {
    tw::security::DecryptPackage(call.arguments(), *result);
  } else {
    result->NotImplemented();
  }
}
