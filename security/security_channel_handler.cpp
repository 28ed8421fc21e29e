#include "security/security_channel_handler.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "security/device_identity.h"
#include "security/encrypted_package.h"
#include "security/package_format.h"
#include "security/token_store.h"
#include "util/secure_buffer.h"
#include "util/utf.h"

namespace tw::security {
namespace {

constexpr char kInvalidPath[] = "Invalid file path";

// False for a path that is not well-formed UTF-8 or holds a NUL character,
// which would cut the name the system sees.
bool WidePath(const std::string& utf8, std::wstring* wide) {
  return Utf8ToUtf16(utf8, wide) && wide->find(L'\0') == std::wstring::npos;
}

// Everything from the map to the failure's text; may raise std::bad_alloc.
PackageStatus DecryptFromArguments(const flutter::EncodableMap& map) {
  try {
    // Entry by entry, each looked up and then read as its type, so that the
    // first entry that is missing or of the wrong type decides the message.
    const std::string& source = map.at(flutter::EncodableValue("source")).Get<std::string>();
    const std::string& destination =
        map.at(flutter::EncodableValue("destination")).Get<std::string>();
    const auto& key_bytes = map.at(flutter::EncodableValue("key")).Get<std::vector<std::uint8_t>>();
    SecureBuffer<std::uint8_t> key(key_bytes.size());
    if (!key.empty()) std::memcpy(key.data(), key_bytes.data(), key.size());
    if (key.size() != kKeySize) return {false, kInvalidKeyMessage};
    std::wstring source_path;
    std::wstring destination_path;
    if (!WidePath(source, &source_path) || !WidePath(destination, &destination_path)) {
      return {false, kInvalidPath};
    }
    return DecryptPackageFile(source_path, destination_path, key.data(), key.size());
  } catch (const flutter::InvalidMapKey& e) {
    return {false, e.what()};  // "invalid map<K, T> key"
  } catch (const flutter::BadVariantAccess& e) {
    return {false, e.what()};  // "bad variant access"
  }
}

}  // namespace

void SecurityChannelHandler(
    const flutter::MethodCall<flutter::EncodableValue>& call,
    std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result) {
  // Exact, case-sensitive names: "WriteToken" or "readToken " are unknown.
  const std::string& method = call.method_name();
  if (method == "writeToken") {
    WriteToken(call.arguments(), *result);
  } else if (method == "readToken") {
    ReadToken(*result);
  } else if (method == "deleteToken") {
    DeleteToken(*result);
  } else if (method == "getHardwareId") {
    GetHardwareId(*result);
  } else if (method == "decryptPackage") {
    DecryptPackage(call.arguments(), *result);
  } else {
    result->NotImplemented();
  }
}

void DecryptPackage(const flutter::EncodableValue* arguments, flutter::MethodResult<>& result) {
  // The one boundary for running out of memory: the key copy, the paths,
  // the buffers and the answer's texts are all made inside it. The answer
  // is given after it, once. Both texts of the out-of-memory answer fit in
  // a string's inline storage, so setting them allocates nothing.
  bool ok = false;
  std::string code;
  std::string message;
  try {
    const auto* map = arguments != nullptr ? arguments->GetIf<flutter::EncodableMap>() : nullptr;
    if (map == nullptr) {
      code = "invalid";
      message = "Missing arguments";
    } else {
      PackageStatus status = DecryptFromArguments(*map);
      ok = status.ok;
      code = "decrypt_failed";
      message = std::move(status.message);
    }
  } catch (const std::bad_alloc&) {
    ok = false;
    code = "decrypt_failed";
    message = kOutOfMemoryMessage;
  }
  if (ok) {
    result.Success(flutter::EncodableValue(true));
  } else {
    result.Error(code, message);
  }
}

}  // namespace tw::security
