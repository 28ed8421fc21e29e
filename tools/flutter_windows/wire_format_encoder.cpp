// The value syntax to standard-codec bytes: the encoding half of the
// development engine's second implementation of the wire format.
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "tools/flutter_windows/wire_format.h"
#include "util/hex.h"
#include "util/utf.h"

namespace dev_engine {
namespace {

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

}  // namespace

void WriteStandardString(const std::string& text, std::vector<uint8_t>* out) {
  out->push_back(7);
  WriteSize(text.size(), out);
  out->insert(out->end(), text.begin(), text.end());
}

void ScriptValueParser::SkipSpace() {
  while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t')) ++at_;
}

bool ScriptValueParser::AtEnd() {
  SkipSpace();
  return at_ >= text_.size();
}

bool ScriptValueParser::Value(std::vector<uint8_t>* out) {
  SkipSpace();
  if (at_ >= text_.size()) return Fail("a value is missing");
  const char c = text_[at_];
  if (c == '"') {
    std::string s;
    if (!String(&s)) return false;
    WriteStandardString(s, out);
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

bool ScriptValueParser::String(std::string* s) {
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
      case '\\':
        s->push_back('\\');
        break;
      case '"':
        s->push_back('"');
        break;
      case 'n':
        s->push_back('\n');
        break;
      case 'r':
        s->push_back('\r');
        break;
      case 't':
        s->push_back('\t');
        break;
      case 'x': {
        unsigned value = 0;
        if (!HexDigits(2, &value)) return Fail("\\x needs two hex digits");
        s->push_back(static_cast<char>(value));
        break;
      }
      case 'u': {
        unsigned cp = 0;
        if (!HexDigits(4, &cp)) return Fail("\\u needs four hex digits");
        tw::AppendUtf8(cp, s);
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

std::string ScriptValueParser::Token() {
  SkipSpace();
  const size_t start = at_;
  while (at_ < text_.size() && text_[at_] != ' ' && text_[at_] != '\t') ++at_;
  return text_.substr(start, at_ - start);
}

bool ScriptValueParser::Fail(const std::string& why) {
  if (error_.empty()) error_ = why + " at column " + std::to_string(at_ + 1);
  return false;
}

bool ScriptValueParser::Push(std::vector<uint8_t>* out, uint8_t tag) {
  out->push_back(tag);
  return true;
}

bool ScriptValueParser::Word(const char* word) {
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

bool ScriptValueParser::HexDigits(int count, unsigned* value) {
  *value = 0;
  for (int i = 0; i < count; ++i) {
    if (at_ >= text_.size()) return false;
    const int digit = tw::HexDigitValue(static_cast<unsigned char>(text_[at_++]));
    if (digit < 0) return false;
    *value = *value * 16 + static_cast<unsigned>(digit);
  }
  return true;
}

bool ScriptValueParser::Bytes(std::vector<uint8_t>* out) {
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

bool ScriptValueParser::Integer(std::vector<uint8_t>* out, bool force_64) {
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

bool ScriptValueParser::Double(std::vector<uint8_t>* out) {
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

bool ScriptValueParser::List(std::vector<uint8_t>* out) {
  ++at_;
  std::vector<size_t> starts;
  if (!Elements(']', &starts, /*pairs=*/false)) return false;
  out->push_back(12);
  WriteSize(starts.size(), out);
  return Reencode(starts, /*pairs=*/false, out);
}

bool ScriptValueParser::Map(std::vector<uint8_t>* out) {
  ++at_;
  std::vector<size_t> starts;
  if (!Elements('}', &starts, /*pairs=*/true)) return false;
  out->push_back(13);
  WriteSize(starts.size() / 2, out);
  return Reencode(starts, /*pairs=*/true, out);
}

bool ScriptValueParser::Elements(char close, std::vector<size_t>* starts, bool pairs) {
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

bool ScriptValueParser::Reencode(const std::vector<size_t>& starts, bool,
                                 std::vector<uint8_t>* out) {
  const size_t resume = at_;
  for (size_t start : starts) {
    at_ = start;
    if (!Value(out)) return false;
  }
  at_ = resume;
  return true;
}

bool EncodeScriptValue(const std::string& text, std::vector<uint8_t>* out, std::string* error) {
  ScriptValueParser parser(text, 0);
  if (!parser.Value(out) || !parser.AtEnd()) {
    if (parser.error().empty()) parser.Fail("unexpected text after the value");
    *error = parser.error();
    return false;
  }
  return true;
}

}  // namespace dev_engine
