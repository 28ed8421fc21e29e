// Decodes arbitrary bytes as a value, as a method call and as a reply
// envelope; re-encodes what came out and checks that decoding that encoding
// gives the same value again, silently, and that it encodes to the same
// bytes. Every value takes part, empty typed arrays included: the writer
// pads after every typed array's size, as the reader expects.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "channels/encodable_value.h"
#include "channels/standard_codec.h"
#include "channels/standard_method_codec.h"
#include "testing/recording_result.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// Swallows the codec's diagnostics and counts them, so that a decode which
// should be clean can be checked to be so.
class CountingBuf : public std::streambuf {
 public:
  size_t count = 0;

 protected:
  int_type overflow(int_type c) override {
    ++count;
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char*, std::streamsize n) override {
    count += static_cast<size_t>(n);
    return n;
  }
};

CountingBuf g_cerr;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "standard_codec_fuzzer: %s\n", what);
  std::abort();
}

template <typename T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// Structural equality where floating-point payloads compare by their bits,
// so that a NaN equals itself.
bool Same(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return false;
  switch (a.index()) {
    case EncodableValue::kDouble: {
      const double x = a.Get<double>();
      const double y = b.Get<double>();
      return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case EncodableValue::kFloat64List:
      return SameBits(a.Get<std::vector<double>>(), b.Get<std::vector<double>>());
    case EncodableValue::kFloat32List:
      return SameBits(a.Get<std::vector<float>>(), b.Get<std::vector<float>>());
    case EncodableValue::kList: {
      const auto& x = a.Get<EncodableList>();
      const auto& y = b.Get<EncodableList>();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i) {
        if (!Same(x[i], y[i])) return false;
      }
      return true;
    }
    case EncodableValue::kMap: {
      const auto& x = a.Get<EncodableMap>();
      const auto& y = b.Get<EncodableMap>();
      if (x.size() != y.size()) return false;
      for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
        if (!Same(i->first, j->first) || !Same(i->second, j->second)) return false;
      }
      return true;
    }
    default:
      return a == b;
  }
}

std::vector<uint8_t> Encode(const EncodableValue& value) {
  std::vector<uint8_t> out;
  flutter::ByteBufferStreamWriter writer(&out);
  flutter::StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return out;
}

EncodableValue Decode(const uint8_t* data, size_t size) {
  flutter::ByteBufferStreamReader reader(data, size);
  return flutter::StandardCodecSerializer::GetInstance().ReadValue(&reader);
}

void CheckValue(const uint8_t* data, size_t size) {
  const EncodableValue first = Decode(data, size);
  const std::vector<uint8_t> encoded = Encode(first);
  const size_t lines_before = g_cerr.count;
  const EncodableValue second = Decode(encoded.data(), encoded.size());
  if (g_cerr.count != lines_before) Fail("decoding an encoding wrote a diagnostic");
  if (!Same(first, second)) Fail("value changed through encode and decode");
  if (Encode(second) != encoded) Fail("second encoding differs from the first");
}

void CheckMethodCall(const uint8_t* data, size_t size) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  auto call = codec.DecodeMethodCall(data, size);
  if (!call) return;
  if (call->arguments() == nullptr) Fail("decoded call without arguments");
  auto encoded = codec.EncodeMethodCall(*call);
  const size_t lines_before = g_cerr.count;
  auto again = codec.DecodeMethodCall(encoded->data(), encoded->size());
  if (g_cerr.count != lines_before) Fail("decoding an encoded call wrote a diagnostic");
  if (!again || again->method_name() != call->method_name() || again->arguments() == nullptr ||
      !Same(*again->arguments(), *call->arguments())) {
    Fail("call changed through encode and decode");
  }
}

void CheckResponseEnvelope(const uint8_t* data, size_t size) {
  tw::test::Answer answer;
  tw::test::RecordingResult result(&answer);
  const bool handled =
      flutter::StandardMethodCodec::GetInstance().DecodeResponseEnvelope(data, size, &result);
  if (answer.count != (handled ? 1 : 0)) Fail("envelope answered the wrong number of times");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::cerr.rdbuf(&g_cerr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckValue(data, size);
  CheckMethodCall(data, size);
  CheckResponseEnvelope(data, size);
  return 0;
}
