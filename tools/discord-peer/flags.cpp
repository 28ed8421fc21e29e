#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "tools/discord-peer/peer.h"

namespace discord_peer {
namespace {

template <typename T>
bool ParseNumber(const std::string& text, T min, T max, T* out) {
  T value{};
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < min || value > max) return false;
  *out = value;
  return true;
}

}  // namespace

const char* Usage() {
  return "usage: discord-peer [options]\n"
         "Serves \\\\.\\pipe\\discord-ipc-N like the Discord desktop client.\n"
         "  --pipe N             pipe number 0-9 (default 0)\n"
         "  --log FILE           append every received frame to FILE\n"
         "  --connections N      exit after N connections have ended (default: until Ctrl+C)\n"
         "  --strict             refuse a frame that does not arrive whole in one read\n"
         "  --buffer N           pipe buffer of N bytes each way (default 2097152; 0: none)\n"
         "Misbehaviours, applied to the reply chosen by --at:\n"
         "  --at handshake|command  the reply to change (default handshake)\n"
         "  --close              close the connection instead of answering\n"
         "  --silent             never answer\n"
         "  --delay MS           answer after MS milliseconds\n"
         "  --reply TEXT         send TEXT as the reply payload\n"
         "  --pad N              pad the reply payload to exactly N bytes\n"
         "  --opcode N           send the reply with opcode N\n"
         "  --length N           announce a payload of N bytes and send none\n"
         "  --short              announce the full length, send half the payload\n"
         "  --no-read            stop reading before that frame (handshake: never read)\n"
         "  --refuse             refuse the handshake with a close frame (Invalid Client ID)\n"
         "  --reject CODE        answer SET_ACTIVITY with an ERROR event carrying CODE\n";
}

bool ParseFlags(const std::vector<std::string>& args, Options* options, std::size_t* connections,
                std::string* error) {
  *connections = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string flag = args[i];
    std::string value;
    bool has_value = false;
    if (const auto eq = flag.find('='); eq != std::string::npos) {
      value = flag.substr(eq + 1);
      flag.resize(eq);
      has_value = true;
    }
    const auto take_value = [&]() {
      if (has_value) return true;
      if (i + 1 >= args.size()) {
        *error = flag + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    const auto bad_value = [&]() {
      *error = "bad value for " + flag + ": \"" + value + "\"";
      return false;
    };
    const auto no_value = [&]() {
      if (!has_value) return true;
      *error = flag + " takes no value";
      return false;
    };

    if (flag == "--pipe") {
      if (!take_value()) return false;
      if (!ParseNumber(value, 0, 9, &options->pipe_number)) return bad_value();
    } else if (flag == "--log") {
      if (!take_value()) return false;
      if (value.empty()) return bad_value();
      options->log_path = value;
    } else if (flag == "--connections") {
      if (!take_value()) return false;
      if (!ParseNumber<std::size_t>(value, 1, 1000000, connections)) return bad_value();
    } else if (flag == "--strict") {
      if (!no_value()) return false;
      options->strict = true;
    } else if (flag == "--buffer") {
      if (!take_value()) return false;
      if (!ParseNumber<uint32_t>(value, 0, 64u << 20, &options->pipe_buffer)) return bad_value();
    } else if (flag == "--at") {
      if (!take_value()) return false;
      if (value == "handshake") {
        options->stage = Stage::kHandshake;
      } else if (value == "command") {
        options->stage = Stage::kCommand;
      } else {
        return bad_value();
      }
    } else if (flag == "--close") {
      if (!no_value()) return false;
      options->close = true;
    } else if (flag == "--silent") {
      if (!no_value()) return false;
      options->silent = true;
    } else if (flag == "--delay") {
      if (!take_value()) return false;
      if (!ParseNumber(value, 0, 600000, &options->delay_ms)) return bad_value();
    } else if (flag == "--reply") {
      if (!take_value()) return false;
      options->reply_text = value;
    } else if (flag == "--pad") {
      if (!take_value()) return false;
      std::size_t size = 0;
      if (!ParseNumber<std::size_t>(value, 1, 64u << 20, &size)) return bad_value();
      options->pad_to = size;
    } else if (flag == "--opcode") {
      if (!take_value()) return false;
      uint32_t opcode = 0;
      if (!ParseNumber<uint32_t>(value, 0, UINT32_MAX, &opcode)) return bad_value();
      options->reply_opcode = opcode;
    } else if (flag == "--length") {
      if (!take_value()) return false;
      uint32_t length = 0;
      if (!ParseNumber<uint32_t>(value, 0, UINT32_MAX, &length)) return bad_value();
      options->announce_length = length;
    } else if (flag == "--short") {
      if (!no_value()) return false;
      options->short_frame = true;
    } else if (flag == "--no-read") {
      if (!no_value()) return false;
      options->never_read = true;
    } else if (flag == "--refuse") {
      if (!no_value()) return false;
      options->refuse_handshake = true;
    } else if (flag == "--reject") {
      if (!take_value()) return false;
      int code = 0;
      if (!ParseNumber(value, 0, 99999, &code)) return bad_value();
      options->reject_code = code;
    } else {
      *error = "unknown option: " + args[i];
      return false;
    }
  }
  return true;
}

}  // namespace discord_peer
