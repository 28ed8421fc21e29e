// The scripted UI of the development engine: a small text script of steps
// that the engine plays after its first frame, as the Flutter UI would. Its
// values are encoded, and the replies read, by the engine's own second
// implementation of the wire format (wire_format.h).
//
// Script syntax: one step per line; blank lines and lines starting with '#'
// are skipped.
//   call <channel> <method> [<value>]   a method call, encoded
//   raw <channel> [<hex bytes>]         a message of exactly these bytes
//   font-change                         WM_FONTCHANGE to the top-level window
//   resize <width> <height>             resize the top-level window
//   dpi-changed <dpi> <l> <t> <r> <b>   WM_DPICHANGED with that suggestion
//   destroy-waits-for-event <name> <ms> when the view controller is
//                                       destroyed, first wait up to <ms> for
//                                       the named event
//   pause <ms>                          wait before the next step (the
//                                       message loop keeps running)
//   stats                               record the process's handle count
//                                       and memory in the transcript
//   hold                                end the script without closing the
//                                       window: it stays for a person
// Values: the syntax of wire_format.h.
#ifndef TOOLS_FLUTTER_WINDOWS_UI_SCRIPT_H_
#define TOOLS_FLUTTER_WINDOWS_UI_SCRIPT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dev_engine {

struct ScriptStep {
  enum class Kind {
    kCall,
    kRaw,
    kFontChange,
    kResize,
    kDpiChanged,
    kDestroyWaitsForEvent,
    kPause,
    kStats,
    kHold,
  };
  Kind kind = Kind::kCall;
  int line = 0;
  std::string channel;
  std::string label;             // the method name, or "raw"
  std::vector<uint8_t> message;  // kCall, kRaw
  std::vector<int> numbers;      // kResize: w h; kDpiChanged: dpi l t r b; kDestroy..., kPause: ms
  std::string name;              // kDestroyWaitsForEvent: the event
};

// Parses a whole script. False, with "line N: reason" in `*error`, at the
// first line that is not a valid step.
bool ParseScript(const std::string& text, std::vector<ScriptStep>* steps, std::string* error);

}  // namespace dev_engine

#endif  // TOOLS_FLUTTER_WINDOWS_UI_SCRIPT_H_
