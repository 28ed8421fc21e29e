// Test doubles shared by the plumbing tests: a method codec with readable
// encodings, a recorder of replies, and the shared standard-error capture.
#ifndef CHANNELS_TESTING_PLUMBING_TEST_SUPPORT_H_
#define CHANNELS_TESTING_PLUMBING_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channels/encodable_value.h"
#include "channels/engine_method_result.h"
#include "channels/method_call.h"
#include "channels/standard_method_codec.h"
#include "testing/stderr_capture.h"

namespace flutter::test {

using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Encodings that a test can read at a glance:
//   success  "S" then the string value, or "S-" for no value, "S?" for others
//   error    "E" code ":" message
//   call     "C" name; decoding wants that form and yields string arguments
//            after a '|' ("Cname|args"), no arguments otherwise
// With `empty_envelopes`, every envelope encodes to an empty vector.
class FakeMethodCodec : public MethodCodec<EncodableValue> {
 public:
  bool empty_envelopes = false;

  std::unique_ptr<MethodCall<EncodableValue>> DecodeMethodCall(const uint8_t* message,
                                                               size_t size) const override {
    if (size == 0 || message[0] != 'C') return nullptr;
    std::string text(reinterpret_cast<const char*>(message) + 1, size - 1);
    const size_t bar = text.find('|');
    if (bar == std::string::npos) {
      return std::make_unique<MethodCall<EncodableValue>>(text, std::make_unique<EncodableValue>());
    }
    return std::make_unique<MethodCall<EncodableValue>>(
        text.substr(0, bar), std::make_unique<EncodableValue>(text.substr(bar + 1)));
  }
  std::unique_ptr<Bytes> EncodeMethodCall(const MethodCall<EncodableValue>& call) const override {
    return std::make_unique<Bytes>(ToBytes("C" + call.method_name()));
  }
  std::unique_ptr<Bytes> EncodeSuccessEnvelope(const EncodableValue* value) const override {
    if (empty_envelopes) return EmptyWithStorage();
    if (value == nullptr) return std::make_unique<Bytes>(ToBytes("S-"));
    if (const auto* text = value->GetIf<std::string>()) {
      return std::make_unique<Bytes>(ToBytes("S" + *text));
    }
    return std::make_unique<Bytes>(ToBytes("S?"));
  }
  std::unique_ptr<Bytes> EncodeErrorEnvelope(const std::string& code, const std::string& message,
                                             const EncodableValue*) const override {
    if (empty_envelopes) return EmptyWithStorage();
    return std::make_unique<Bytes>(ToBytes("E" + code + ":" + message));
  }
  bool DecodeResponseEnvelope(const uint8_t*, size_t,
                              MethodResult<EncodableValue>*) const override {
    return false;
  }

 private:
  // Empty, yet with a buffer behind data(): a reply must still go out as a
  // null pointer.
  static std::unique_ptr<Bytes> EmptyWithStorage() {
    auto bytes = std::make_unique<Bytes>();
    bytes->reserve(8);
    return bytes;
  }
};

// Every call of the ReplyCallbacks it makes: the bytes, and whether the data
// pointer was null.
struct ReplyLog {
  struct Reply {
    Bytes bytes;
    bool null_data;
  };
  std::vector<Reply> replies;

  ReplyCallback Callback() {
    return [this](const uint8_t* data, size_t size) {
      replies.push_back({data != nullptr ? Bytes(data, data + size) : Bytes(), data == nullptr});
      EXPECT_TRUE(data != nullptr || size == 0) << "size without bytes";
    };
  }
};

using ::tw::test::StderrCapture;

inline constexpr char kDuplicateResultLine[] =
    "Error: Only one of Success, Error, or NotImplemented can be called, and it can be called "
    "exactly once. Ignoring duplicate result.\n";
inline constexpr char kLeakLine[] =
    "Warning: Failed to respond to a message. This is a memory leak.\n";
inline constexpr char kDuplicateResponseLine[] =
    "Error: Response can be set only once. Ignoring duplicate response.\n";

}  // namespace flutter::test

#endif  // CHANNELS_TESTING_PLUMBING_TEST_SUPPORT_H_
