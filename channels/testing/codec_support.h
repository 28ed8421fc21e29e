// Helpers shared by the codec tests: byte literals, the codec's diagnostic
// lines, a readable dump of byte vectors, and the shared standard-error capture.
#ifndef CHANNELS_TESTING_CODEC_SUPPORT_H_
#define CHANNELS_TESTING_CODEC_SUPPORT_H_

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "channels/encodable_value.h"
#include "channels/standard_codec.h"
#include "testing/stderr_capture.h"
#include "util/hex.h"

namespace flutter {
namespace test {

// Upper-case byte pairs separated by blanks ("0C 01 FF"), for failure output.
inline std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) out += ' ';
    out += tw::UpperHexDigit(bytes[i] >> 4);
    out += tw::UpperHexDigit(bytes[i]);
  }
  return out;
}

}  // namespace test

// How GoogleTest shows a value in a failure: its encoding.
inline void PrintTo(const EncodableValue& value, std::ostream* os) {
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  std::ostringstream ignored;
  std::streambuf* saved = std::cerr.rdbuf(ignored.rdbuf());
  StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  std::cerr.rdbuf(saved);
  *os << "EncodableValue(index " << value.index() << ", encoded " << test::Hex(bytes) << ')';
}

}  // namespace flutter

namespace flutter::test {

using Bytes = std::vector<uint8_t>;

// Concatenation of byte runs: Cat({0x0C, 0x01}, Zeros(5), {0x00}).
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

inline Bytes Zeros(size_t n) { return Bytes(n, 0); }

inline Bytes Repeat(const Bytes& unit, size_t times) {
  Bytes out;
  out.reserve(unit.size() * times);
  for (size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

using ::tw::test::StderrCapture;

inline const char kInvalidRead[] = "Invalid read in StandardCodecByteStreamReader";
inline const char kTooDeep[] = "Nesting too deep in StandardCodecSerializer::ReadValueOfType";
inline const char kUnknownType[] = "Unknown type in StandardCodecSerializer::ReadValueOfType: ";

}  // namespace flutter::test

#endif  // CHANNELS_TESTING_CODEC_SUPPORT_H_
