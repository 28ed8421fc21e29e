#include "channels/standard_method_codec.h"

#include <iostream>
#include <map>
#include <mutex>
#include <utility>

namespace flutter {

namespace {

// Plain bytes in front of a reply's values, not value tags.
constexpr uint8_t kEnvelopeSuccess = 0;
constexpr uint8_t kEnvelopeError = 1;

}  // namespace

const StandardMethodCodec& StandardMethodCodec::GetInstance(
    const StandardCodecSerializer* serializer) {
  if (serializer == nullptr) serializer = &StandardCodecSerializer::GetInstance();
  // Never destroyed: channels keep plain pointers to the codecs until the
  // process ends. The lock costs nothing on the one platform thread and
  // keeps a stray request from another thread from corrupting the map.
  static auto* const registry =
      new std::map<const StandardCodecSerializer*, std::unique_ptr<StandardMethodCodec>>();
  static auto* const registry_mutex = new std::mutex();
  std::lock_guard<std::mutex> lock(*registry_mutex);
  auto it = registry->find(serializer);
  if (it == registry->end()) {
    it = registry
             ->emplace(serializer,
                       std::unique_ptr<StandardMethodCodec>(new StandardMethodCodec(serializer)))
             .first;
  }
  return *it->second;
}

std::unique_ptr<MethodCall<EncodableValue>> StandardMethodCodec::DecodeMethodCall(
    const uint8_t* message, size_t message_size) const {
  ByteBufferStreamReader stream(message, message_size);
  EncodableValue name = serializer_->ReadValue(&stream);
  std::string* method_name = name.GetIf<std::string>();
  if (method_name == nullptr) {
    std::cerr << "Invalid method call; method name is not a string." << std::endl;
    return nullptr;
  }
  auto arguments = std::make_unique<EncodableValue>(serializer_->ReadValue(&stream));
  return std::make_unique<MethodCall<EncodableValue>>(std::move(*method_name),
                                                      std::move(arguments));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeMethodCall(
    const MethodCall<EncodableValue>& method_call) const {
  auto bytes = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(bytes.get());
  serializer_->WriteValue(EncodableValue(method_call.method_name()), &stream);
  if (const EncodableValue* arguments = method_call.arguments()) {
    serializer_->WriteValue(*arguments, &stream);
  } else {
    serializer_->WriteValue(EncodableValue(), &stream);
  }
  return bytes;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccessEnvelope(
    const EncodableValue* result) const {
  auto bytes = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(bytes.get());
  stream.WriteByte(kEnvelopeSuccess);
  if (result != nullptr) {
    serializer_->WriteValue(*result, &stream);
  } else {
    serializer_->WriteValue(EncodableValue(), &stream);
  }
  return bytes;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeErrorEnvelope(
    const std::string& error_code, const std::string& error_message,
    const EncodableValue* error_details) const {
  auto bytes = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(bytes.get());
  stream.WriteByte(kEnvelopeError);
  serializer_->WriteValue(EncodableValue(error_code), &stream);
  if (error_message.empty()) {
    serializer_->WriteValue(EncodableValue(), &stream);
  } else {
    serializer_->WriteValue(EncodableValue(error_message), &stream);
  }
  if (error_details != nullptr) {
    serializer_->WriteValue(*error_details, &stream);
  } else {
    serializer_->WriteValue(EncodableValue(), &stream);
  }
  return bytes;
}

bool StandardMethodCodec::DecodeResponseEnvelope(const uint8_t* response, size_t response_size,
                                                 MethodResult<EncodableValue>* result) const {
  ByteBufferStreamReader stream(response, response_size);
  const uint8_t envelope = stream.ReadByte();
  if (envelope == kEnvelopeSuccess) {
    EncodableValue value = serializer_->ReadValue(&stream);
    result->Success(value.IsNull() ? nullptr : &value);
    return true;
  }
  if (envelope != kEnvelopeError) return false;

  EncodableValue code = serializer_->ReadValue(&stream);
  EncodableValue message = serializer_->ReadValue(&stream);
  EncodableValue details = serializer_->ReadValue(&stream);
  const std::string* code_text = code.GetIf<std::string>();
  const std::string* message_text = message.GetIf<std::string>();
  if (code_text == nullptr || (message_text == nullptr && !message.IsNull())) return false;
  result->Error(*code_text, message_text != nullptr ? *message_text : std::string(),
                details.IsNull() ? nullptr : &details);
  return true;
}

}  // namespace flutter
