#include "tools/flutter_windows/ui_script.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace dev_engine {
namespace {

// --- Writing the standard codec -------------------------------------------

void WriteSize(size_t n, std::vector<uint8_t>* out) {
  if (n < 254) {
    out->push_back(static_cast<uint8_t>(n));
  } else if (n <= 0xFFFF) {
    out->push_back(254);
    out->push_back(static_cast<uint8_t>(n));
    out->push_back(static_cast<uint8_t>(n >> 8));
  } else {
    out->push_back(255);
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(n >> (8 * i)));
  }
}

void WriteLittleEndian(uint64_t value, int bytes, std::vector<uint8_t>* out) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void WriteString(const std::string& text, std::vector<uint8_t>* out) {
  out->push_back(7);
  WriteSize(text.size(), out);
  out->insert(out->end(), text.begin(), text.end());
}

// --- Parsing the value syntax, encoding as it goes -------------------------

class ValueParser {
 public:
  ValueParser(const std::string& text, size_t at) : text_(text), at_(at) {}

  size_t position() const { return at_; }
  const std::string& error() const { return error_; }

  void SkipSpace() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t')) ++at_;
  }

  bool AtEnd() {
    SkipSpace();
    return at_ >= text_.size();
  }

  bool Value(std::vector<uint8_t>* out) {
    SkipSpace();
    if (at_ >= text_.size()) return Fail("a value is missing");
    const char c = text_[at_];
    if (c == '"') {
      std::string s;
      if (!String(&s)) return false;
      WriteString(s, out);
      return true;
    }
    if (c == '[') return List(out);
    if (c == '{') return Map(out);
    if (Word("null")) return Push(out, 0);
    if (Word("true")) return Push(out, 1);
    if (Word("false")) return Push(out, 2);
    if (Word("bytes:")) return Bytes(out);
    if (Word("i64:")) return Integer(out, /*force_64=*/true);
    if (Word("f64:")) return Double(out);
    if (c == '-' || (c >= '0' && c <= '9')) {
      // A number with a point or an exponent is a double.
      size_t end = at_ + 1;
      while (end < text_.size() && std::strchr("0123456789.eE+-", text_[end]) != nullptr) ++end;
      const std::string literal = text_.substr(at_, end - at_);
      if (literal.find_first_of(".eE") != std::string::npos) return Double(out);
      return Integer(out, /*force_64=*/false);
    }
    return Fail(std::string("unexpected '") + c + "'");
  }

  bool String(std::string* s) {
    ++at_;  // opening quote
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_[at_++];
      if (c != '\\') {
        s->push_back(c);
        continue;
      }
      if (at_ >= text_.size()) break;
      const char escape = text_[at_++];
      switch (escape) {
        case '\\': s->push_back('\\'); break;
        case '"': s->push_back('"'); break;
        case 'n': s->push_back('\n'); break;
        case 'r': s->push_back('\r'); break;
        case 't': s->push_back('\t'); break;
        case 'x': {
          unsigned value = 0;
          if (!HexDigits(2, &value)) return Fail("\\x needs two hex digits");
          s->push_back(static_cast<char>(value));
          break;
        }
        case 'u': {
          unsigned cp = 0;
          if (!HexDigits(4, &cp)) return Fail("\\u needs four hex digits");
          if (cp < 0x80) {
            s->push_back(static_cast<char>(cp));
          } else if (cp < 0x800) {
            s->push_back(static_cast<char>(0xC0 | (cp >> 6)));
            s->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
          } else {
            s->push_back(static_cast<char>(0xE0 | (cp >> 12)));
            s->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            s->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
          }
          break;
        }
        default:
          return Fail(std::string("unknown escape \\") + escape);
      }
    }
    if (at_ >= text_.size()) return Fail("unterminated string");
    ++at_;  // closing quote
    return true;
  }

  // A run of non-space characters (channel and method names).
  std::string Token() {
    SkipSpace();
    const size_t start = at_;
    while (at_ < text_.size() && text_[at_] != ' ' && text_[at_] != '\t') ++at_;
    return text_.substr(start, at_ - start);
  }

  bool Fail(const std::string& why) {
    if (error_.empty()) error_ = why + " at column " + std::to_string(at_ + 1);
    return false;
  }

 private:
  bool Push(std::vector<uint8_t>* out, uint8_t tag) {
    out->push_back(tag);
    return true;
  }

  bool Word(const char* word) {
    const size_t n = std::strlen(word);
    if (text_.compare(at_, n, word) != 0) return false;
    // Keywords end at a delimiter; prefixes ending in ':' carry on.
    if (word[n - 1] != ':' && at_ + n < text_.size() &&
        std::strchr(" \t,]}:", text_[at_ + n]) == nullptr) {
      return false;
    }
    at_ += n;
    return true;
  }

  bool HexDigits(int count, unsigned* value) {
    *value = 0;
    for (int i = 0; i < count; ++i) {
      if (at_ >= text_.size()) return false;
      const char c = text_[at_++];
      const char* digits = "0123456789abcdef";
      const char* found = std::strchr(digits, c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
      if (c == '\0' || found == nullptr) return false;
      *value = *value * 16 + static_cast<unsigned>(found - digits);
    }
    return true;
  }

  bool Bytes(std::vector<uint8_t>* out) {
    std::vector<uint8_t> bytes;
    while (at_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[at_]))) {
      unsigned value = 0;
      if (!HexDigits(2, &value)) return Fail("bytes: needs pairs of hex digits");
      bytes.push_back(static_cast<uint8_t>(value));
    }
    out->push_back(8);
    WriteSize(bytes.size(), out);
    out->insert(out->end(), bytes.begin(), bytes.end());
    return true;
  }

  bool Integer(std::vector<uint8_t>* out, bool force_64) {
    const char* start = text_.c_str() + at_;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(start, &end, 10);
    if (end == start || errno == ERANGE) return Fail("not an integer");
    at_ += static_cast<size_t>(end - start);
    if (!force_64 && value >= std::numeric_limits<int32_t>::min() &&
        value <= std::numeric_limits<int32_t>::max()) {
      out->push_back(3);
      WriteLittleEndian(static_cast<uint32_t>(static_cast<int32_t>(value)), 4, out);
    } else {
      out->push_back(4);
      WriteLittleEndian(static_cast<uint64_t>(value), 8, out);
    }
    return true;
  }

  bool Double(std::vector<uint8_t>* out) {
    const char* start = text_.c_str() + at_;
    char* end = nullptr;
    const double value = std::strtod(start, &end);
    if (end == start) return Fail("not a number");
    at_ += static_cast<size_t>(end - start);
    out->push_back(6);
    while (out->size() % 8 != 0) out->push_back(0);
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    WriteLittleEndian(bits, 8, out);
    return true;
  }

  // Elements are counted first and encoded after, because the count comes
  // before them on the wire and alignment depends on where they land.
  bool List(std::vector<uint8_t>* out) {
    ++at_;
    std::vector<size_t> starts;
    if (!Elements(']', &starts, /*pairs=*/false)) return false;
    out->push_back(12);
    WriteSize(starts.size(), out);
    return Reencode(starts, /*pairs=*/false, out);
  }

  bool Map(std::vector<uint8_t>* out) {
    ++at_;
    std::vector<size_t> starts;
    if (!Elements('}', &starts, /*pairs=*/true)) return false;
    out->push_back(13);
    WriteSize(starts.size() / 2, out);
    return Reencode(starts, /*pairs=*/true, out);
  }

  // Finds where each element (or key and value) starts, checking syntax.
  bool Elements(char close, std::vector<size_t>* starts, bool pairs) {
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == close) {
      ++at_;
      return true;
    }
    for (;;) {
      std::vector<uint8_t> scratch;
      SkipSpace();
      starts->push_back(at_);
      if (!Value(&scratch)) return false;
      if (pairs) {
        SkipSpace();
        if (at_ >= text_.size() || text_[at_] != ':') return Fail("':' expected");
        ++at_;
        SkipSpace();
        starts->push_back(at_);
        if (!Value(&scratch)) return false;
      }
      SkipSpace();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < text_.size() && text_[at_] == close) {
        ++at_;
        return true;
      }
      return Fail(std::string("',' or '") + close + "' expected");
    }
  }

  bool Reencode(const std::vector<size_t>& starts, bool, std::vector<uint8_t>* out) {
    const size_t resume = at_;
    for (size_t start : starts) {
      at_ = start;
      if (!Value(out)) return false;
    }
    at_ = resume;
    return true;
  }

  const std::string& text_;
  size_t at_;
  std::string error_;
};

// --- Reading the standard codec, as text ------------------------------------

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
      case 0: return "null";
      case 1: return "true";
      case 2: return "false";
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
        std::string hex = "bytes:" + Hex(data_ + at_, n);
        at_ += n;
        return hex;
      }
      case 9:
      case 10:
      case 11:
      case 14: {
        const size_t width = (tag == 9 || tag == 14) ? 4 : 8;
        const char* name = tag == 9 ? "i32list" : tag == 10 ? "i64list" : tag == 11 ? "f64list" : "f32list";
        size_t n = 0;
        if (!Size(&n)) return Fail("truncated list size");
        Align(width);
        if (at_ > size_ || n > (size_ - at_) / width) return Fail("truncated typed list");
        std::string text = std::string(name) + ":" + Hex(data_ + at_, n * width);
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

bool ParseNumbers(ValueParser* parser, size_t count, std::vector<int>* numbers) {
  for (size_t i = 0; i < count; ++i) {
    const std::string token = parser->Token();
    char* end = nullptr;
    const long value = std::strtol(token.c_str(), &end, 10);
    if (token.empty() || *end != '\0') return false;
    numbers->push_back(static_cast<int>(value));
  }
  return true;
}

}  // namespace

bool EncodeScriptValue(const std::string& text, std::vector<uint8_t>* out, std::string* error) {
  ValueParser parser(text, 0);
  if (!parser.Value(out) || !parser.AtEnd()) {
    if (parser.error().empty()) parser.Fail("unexpected text after the value");
    *error = parser.error();
    return false;
  }
  return true;
}

bool ParseScript(const std::string& text, std::vector<ScriptStep>* steps, std::string* error) {
  size_t start = 0;
  int line_number = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.pop_back();

    ValueParser parser(line, 0);
    if (parser.AtEnd() || line[parser.position()] == '#') continue;
    auto fail = [&](const std::string& why) {
      *error = "line " + std::to_string(line_number) + ": " + why;
      return false;
    };

    ScriptStep step;
    step.line = line_number;
    const std::string verb = parser.Token();
    if (verb == "call") {
      step.kind = ScriptStep::Kind::kCall;
      step.channel = parser.Token();
      step.label = parser.Token();
      if (step.channel.empty() || step.label.empty()) return fail("call <channel> <method> [value]");
      WriteString(step.label, &step.message);
      if (parser.AtEnd()) {
        step.message.push_back(0);  // no arguments: null
      } else if (!parser.Value(&step.message) || !parser.AtEnd()) {
        if (parser.error().empty()) parser.Fail("unexpected text after the value");
        return fail(parser.error());
      }
    } else if (verb == "raw") {
      step.kind = ScriptStep::Kind::kRaw;
      step.channel = parser.Token();
      step.label = "raw";
      if (step.channel.empty()) return fail("raw <channel> [hex]");
      const std::string hex = parser.Token();
      if (!parser.AtEnd() || hex.size() % 2 != 0) return fail("raw takes one run of hex digit pairs");
      for (size_t i = 0; i < hex.size(); i += 2) {
        char* digits_end = nullptr;
        const std::string pair = hex.substr(i, 2);
        const long value = std::strtol(pair.c_str(), &digits_end, 16);
        if (*digits_end != '\0' || !std::isxdigit(static_cast<unsigned char>(pair[0]))) {
          return fail("raw takes hex digit pairs");
        }
        step.message.push_back(static_cast<uint8_t>(value));
      }
    } else if (verb == "font-change") {
      step.kind = ScriptStep::Kind::kFontChange;
    } else if (verb == "resize") {
      step.kind = ScriptStep::Kind::kResize;
      if (!ParseNumbers(&parser, 2, &step.numbers)) return fail("resize <width> <height>");
    } else if (verb == "dpi-changed") {
      step.kind = ScriptStep::Kind::kDpiChanged;
      if (!ParseNumbers(&parser, 5, &step.numbers)) {
        return fail("dpi-changed <dpi> <left> <top> <right> <bottom>");
      }
    } else if (verb == "destroy-waits-for-event") {
      step.kind = ScriptStep::Kind::kDestroyWaitsForEvent;
      step.name = parser.Token();
      if (step.name.empty() || !ParseNumbers(&parser, 1, &step.numbers)) {
        return fail("destroy-waits-for-event <name> <milliseconds>");
      }
    } else if (verb == "pause") {
      step.kind = ScriptStep::Kind::kPause;
      if (!ParseNumbers(&parser, 1, &step.numbers) || step.numbers[0] < 0) {
        return fail("pause <milliseconds>");
      }
    } else if (verb == "stats") {
      step.kind = ScriptStep::Kind::kStats;
    } else if (verb == "hold") {
      step.kind = ScriptStep::Kind::kHold;
    } else {
      return fail("unknown step '" + verb + "'");
    }
    if (!parser.AtEnd()) return fail("unexpected text at the end");
    steps->push_back(std::move(step));
  }
  return true;
}

std::string DescribeReply(const uint8_t* data, size_t size) {
  if (size == 0) return "empty";
  Reader reader(data, size, 1);
  std::string text;
  if (data[0] == 0) {
    text = "success " + reader.Value();
  } else if (data[0] == 1) {
    text = "error " + reader.Value();
    text += " " + reader.Value();
    text += " " + reader.Value();
  } else {
    return "malformed envelope " + std::to_string(data[0]);
  }
  if (reader.failed()) return "malformed " + text;
  if (reader.position() != size) text += " (+" + std::to_string(size - reader.position()) + " bytes)";
  return text;
}

std::string Hex(const uint8_t* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[data[i] >> 4];
    hex += kDigits[data[i] & 15];
  }
  return hex;
}

}  // namespace dev_engine
