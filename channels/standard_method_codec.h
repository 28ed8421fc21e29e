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
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(
      const T* result) const = 0;
  // error_details may be null.
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(
      const std::string& error_code, const std::string& error_message,
      const T* error_details) const = 0;
  // Hands the envelope's answer to result; false (result untouched) when the
  // first byte is neither 0 nor 1.
  virtual bool DecodeResponseEnvelope(const uint8_t* response, size_t response_size,
                                      MethodResult<T>* result) const = 0;
};

// StandardMethodCodec is declared below this line.

}  // namespace flutter

#endif  // CHANNELS_STANDARD_METHOD_CODEC_H_
