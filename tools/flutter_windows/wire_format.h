// A second implementation of the standard message codec's wire format, for
// the development engine's scripted UI: script values in a text syntax
// encoded to bytes (wire_format_encoder.cpp), and reply envelopes decoded to
// text (wire_format_decoder.cpp).
//
// It is deliberately independent of channels/, which holds the launcher's
// own codec: the end-to-end tests then check the launcher's codec against a
// second implementation of the same wire format instead of against itself.
// Nothing here may include or link the channel layer.
//
// Value syntax:
//   null  true  false  42  -7  i64:42  1.5  f64:2  "text"  bytes:0aff
//   [<value>, ...]  {<key>: <value>, ...}
// Integers take int32 when they fit, else int64. Strings take the escapes
// \\ \" \n \r \t \xNN (one raw byte) and \uXXXX (UTF-8 of a BMP code point);
// other bytes are taken as they are.
#ifndef TOOLS_FLUTTER_WINDOWS_WIRE_FORMAT_H_
#define TOOLS_FLUTTER_WINDOWS_WIRE_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dev_engine {

// Appends a string value (tag, size, UTF-8 bytes).
void WriteStandardString(const std::string& text, std::vector<uint8_t>* out);

// Reads one line of script text from `at` on: tokens, and values in the
// syntax above, encoded as they are read.
class ScriptValueParser {
 public:
  ScriptValueParser(const std::string& text, size_t at) : text_(text), at_(at) {}

  size_t position() const { return at_; }
  const std::string& error() const { return error_; }

  void SkipSpace();

  bool AtEnd();

  bool Value(std::vector<uint8_t>* out);

  bool String(std::string* s);

  // A run of non-space characters (channel and method names).
  std::string Token();

  bool Fail(const std::string& why);

 private:
  bool Push(std::vector<uint8_t>* out, uint8_t tag);

  bool Word(const char* word);

  bool HexDigits(int count, unsigned* value);

  bool Bytes(std::vector<uint8_t>* out);

  bool Integer(std::vector<uint8_t>* out, bool force_64);

  bool Double(std::vector<uint8_t>* out);

  // Elements are counted first and encoded after, because the count comes
  // before them on the wire and alignment depends on where they land.
  bool List(std::vector<uint8_t>* out);

  bool Map(std::vector<uint8_t>* out);

  // Finds where each element (or key and value) starts, checking syntax.
  bool Elements(char close, std::vector<size_t>* starts, bool pairs);

  bool Reencode(const std::vector<size_t>& starts, bool, std::vector<uint8_t>* out);

  const std::string& text_;
  size_t at_;
  std::string error_;
};

// Encodes one value written in the script syntax, appending it to `out`
// (alignment counts from the start of `out`). False on a syntax error.
bool EncodeScriptValue(const std::string& text, std::vector<uint8_t>* out, std::string* error);

// A reply envelope as text: "empty", "success <value>",
// "error <code> <message> <details>", or "malformed <reason>".
std::string DescribeReply(const uint8_t* data, size_t size);

}  // namespace dev_engine

#endif  // TOOLS_FLUTTER_WINDOWS_WIRE_FORMAT_H_
