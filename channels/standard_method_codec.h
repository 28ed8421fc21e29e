// Method calls and reply envelopes over the standard message codec.
#ifndef CHANNELS_STANDARD_METHOD_CODEC_H_
#define CHANNELS_STANDARD_METHOD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channels/encodable_value.h"
#include "channels/method_call.h"
#include "channels/standard_codec.h"

namespace flutter {

// Maps method calls and their answers to bytes and back. Implementations are
// stateless after construction and may be shared by any number of channels.
template <typename T = EncodableValue>
class MethodCodec {
 public:
  MethodCodec() = default;
  virtual ~MethodCodec() = default;
  MethodCodec(const MethodCodec&) = delete;
  MethodCodec& operator=(const MethodCodec&) = delete;

  // The call in the message, or null when the message holds none.
  virtual std::unique_ptr<MethodCall<T>> DecodeMethodCall(const uint8_t* message,
                                                          size_t message_size) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeMethodCall(
      const MethodCall<T>& method_call) const = 0;
  // result may be null: success without a value.
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(const T* result) const = 0;
  // error_details may be null.
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(
      const std::string& error_code, const std::string& error_message,
      const T* error_details) const = 0;
  // Hands the envelope's answer to result; false (result untouched) when the
  // first byte is neither 0 nor 1.
  virtual bool DecodeResponseEnvelope(const uint8_t* response, size_t response_size,
                                      MethodResult<T>* result) const = 0;
};

// Method calls and reply envelopes over a StandardCodecSerializer:
//   method call       value: method name (a string); value: arguments (null
//                     when there are none)
//   success envelope  byte 0; value: result (null when there is none)
//   error envelope    byte 1; value: code (a string); value: message (null
//                     when empty); value: details (null when none)
// The envelope byte is a plain byte, and it counts for the padding of the
// values after it.
//
// Codecs come only from GetInstance, one per serializer, and live until the
// process ends; hold them as plain pointers or references. Stateless after
// construction, so any number of channels may share one.
//
// Example:
//   const flutter::StandardMethodCodec& codec = flutter::StandardMethodCodec::GetInstance();
//   std::unique_ptr<flutter::MethodCall<>> call = codec.DecodeMethodCall(bytes, size);
//   if (call) {
//     flutter::EncodableValue answer(true);
//     std::unique_ptr<std::vector<uint8_t>> reply = codec.EncodeSuccessEnvelope(&answer);
//   }
class StandardMethodCodec : public MethodCodec<EncodableValue> {
 public:
  // The codec for serializer (the standard serializer when null), created
  // and registered on first request.
  static const StandardMethodCodec& GetInstance(
      const StandardCodecSerializer* serializer = nullptr);

  ~StandardMethodCodec() override = default;

  // The call in the message, or null (after the line "Invalid method call;
  // method name is not a string.") when its first value is not a string. A
  // decoded call always carries arguments, null when the message has none.
  std::unique_ptr<MethodCall<EncodableValue>> DecodeMethodCall(const uint8_t* message,
                                                               size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeMethodCall(
      const MethodCall<EncodableValue>& method_call) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(
      const EncodableValue* result) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(
      const std::string& error_code, const std::string& error_message,
      const EncodableValue* error_details) const override;
  // Also false, with result untouched, for an error envelope whose code is
  // not a string or whose message is neither null nor a string: a corrupt
  // reply never raises.
  bool DecodeResponseEnvelope(const uint8_t* response, size_t response_size,
                              MethodResult<EncodableValue>* result) const override;

 private:
  explicit StandardMethodCodec(const StandardCodecSerializer* serializer)
      : serializer_(serializer) {}

  const StandardCodecSerializer* serializer_;
};

}  // namespace flutter

#endif  // CHANNELS_STANDARD_METHOD_CODEC_H_
