// The step parser of the development engine's scripted UI (ui_script.h).
#include "tools/flutter_windows/ui_script.h"

#include <cctype>
#include <cstdlib>

#include "tools/flutter_windows/wire_format.h"

namespace dev_engine {
namespace {

bool ParseNumbers(ScriptValueParser* parser, size_t count, std::vector<int>* numbers) {
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

    ScriptValueParser parser(line, 0);
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
      if (step.channel.empty() || step.label.empty())
        return fail("call <channel> <method> [value]");
      WriteStandardString(step.label, &step.message);
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
      if (!parser.AtEnd() || hex.size() % 2 != 0)
        return fail("raw takes one run of hex digit pairs");
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

}  // namespace dev_engine
