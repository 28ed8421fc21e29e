// Standard-codec reply envelopes to text: the decoding half of the
// development engine's second implementation of the wire format.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "tools/flutter_windows/wire_format.h"
#include "util/hex.h"

namespace dev_engine {
namespace {

class Reader {
 public:
  Reader(const uint8_t* data, size_t size, size_t at) : data_(data), size_(size), at_(at) {}

  bool failed() const { return failed_; }
  size_t position() const { return at_; }

  std::string Value(int depth = 0) {
    if (depth > 64) return Fail("nesting too deep");
    uint8_t tag = 0;
    if (!Byte(&tag)) return Fail("truncated");
    switch (tag) {
      case 0:
        return "null";
      case 1:
        return "true";
      case 2:
        return "false";
      case 3: {
        uint64_t v = 0;
        if (!Number(4, &v)) return Fail("truncated int32");
        return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(v)));
      }
      case 4: {
        uint64_t v = 0;
        if (!Number(8, &v)) return Fail("truncated int64");
        return "i64:" + std::to_string(static_cast<int64_t>(v));
      }
      case 6: {
        Align(8);
        uint64_t bits = 0;
        if (!Number(8, &bits)) return Fail("truncated double");
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        char text[40];
        std::snprintf(text, sizeof text, "f64:%.17g", value);
        return text;
      }
      case 5:
      case 7: {
        size_t n = 0;
        if (!Size(&n) || n > size_ - at_) return Fail("truncated string");
        std::string s(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return Quote(s);
      }
      case 8: {
        size_t n = 0;
        if (!Size(&n) || n > size_ - at_) return Fail("truncated bytes");
        std::string hex = "bytes:" + tw::ToLowerHex(data_ + at_, n);
        at_ += n;
        return hex;
      }
      case 9:
      case 10:
      case 11:
      case 14: {
        const size_t width = (tag == 9 || tag == 14) ? 4 : 8;
        const char* name = tag == 9    ? "i32list"
                           : tag == 10 ? "i64list"
                           : tag == 11 ? "f64list"
                                       : "f32list";
        size_t n = 0;
        if (!Size(&n)) return Fail("truncated list size");
        Align(width);
        if (at_ > size_ || n > (size_ - at_) / width) return Fail("truncated typed list");
        std::string text = std::string(name) + ":" + tw::ToLowerHex(data_ + at_, n * width);
        at_ += n * width;
        return text;
      }
      case 12: {
        size_t n = 0;
        if (!Size(&n)) return Fail("truncated list size");
        std::string text = "[";
        for (size_t i = 0; i < n && !failed_; ++i) text += (i > 0 ? ", " : "") + Value(depth + 1);
        return text + "]";
      }
      case 13: {
        size_t n = 0;
        if (!Size(&n)) return Fail("truncated map size");
        std::string text = "{";
        for (size_t i = 0; i < n && !failed_; ++i) {
          text += (i > 0 ? ", " : "") + Value(depth + 1);
          text += ": " + Value(depth + 1);
        }
        return text + "}";
      }
      default:
        return Fail("unknown tag " + std::to_string(tag));
    }
  }

  static std::string Quote(const std::string& s) {
    std::string text = "\"";
    for (unsigned char c : s) {
      if (c == '\\' || c == '"') {
        text += '\\';
        text += static_cast<char>(c);
      } else if (c == '\n') {
        text += "\\n";
      } else if (c == '\r') {
        text += "\\r";
      } else if (c == '\t') {
        text += "\\t";
      } else if (c < 0x20 || c == 0x7F) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02x", c);
        text += escape;
      } else {
        text += static_cast<char>(c);
      }
    }
    return text + "\"";
  }

 private:
  std::string Fail(const std::string& why) {
    failed_ = true;
    if (reason_.empty()) reason_ = why;
    return "(" + reason_ + ")";
  }

  bool Byte(uint8_t* b) {
    if (at_ >= size_) return false;
    *b = data_[at_++];
    return true;
  }

  bool Number(int bytes, uint64_t* value) {
    if (at_ > size_ || size_ - at_ < static_cast<size_t>(bytes)) return false;
    *value = 0;
    for (int i = 0; i < bytes; ++i) *value |= static_cast<uint64_t>(data_[at_ + i]) << (8 * i);
    at_ += bytes;
    return true;
  }

  bool Size(size_t* n) {
    uint8_t b = 0;
    if (!Byte(&b)) return false;
    uint64_t value = b;
    if (b == 254 && !Number(2, &value)) return false;
    if (b == 255 && !Number(4, &value)) return false;
    *n = static_cast<size_t>(value);
    return true;
  }

  void Align(size_t n) {
    if (at_ % n != 0) at_ += n - at_ % n;
  }

  const uint8_t* data_;
  size_t size_;
  size_t at_;
  bool failed_ = false;
  std::string reason_;
};

}  // namespace

std::string DescribeReply(const uint8_t* data, size_t size) {
  if (size == 0) return "empty";
  Reader reader(data, size, 1);
  std::string text;
  if (data[0] == 0) {
    text = "success " + reader.Value();
  } else if (data[0] == 1) {
    // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict
    // for `" " + std::string` here.
    text = "error ";
    for (int part = 0; part < 3; ++part) {
      if (part > 0) text += ' ';
      text += reader.Value();
    }
  } else {
    return "malformed envelope " + std::to_string(data[0]);
  }
  if (reader.failed()) return "malformed " + text;
  if (reader.position() != size)
    text += " (+" + std::to_string(size - reader.position()) + " bytes)";
  return text;
}

}  // namespace dev_engine
