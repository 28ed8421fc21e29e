#include "discord/activity_message.h"

#include <chrono>
#include <locale>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "util/hex.h"

namespace tw::discord {
namespace {

uint32_t CurrentProcessId() {
#ifdef _WIN32
  return static_cast<uint32_t>(::GetCurrentProcessId());
#else
  return static_cast<uint32_t>(::getpid());
#endif
}

// Whole seconds since the Unix epoch, the remainder dropped.
int64_t CurrentUnixSeconds() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::floor<std::chrono::seconds>(since_epoch).count();
}

}  // namespace

std::string EscapeJsonString(const std::string& text) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (byte) {
      case 0x22:
        out << "\\\"";
        break;
      case 0x5C:
        out << "\\\\";
        break;
      case 0x08:
        out << "\\b";
        break;
      case 0x0C:
        out << "\\f";
        break;
      case 0x0A:
        out << "\\n";
        break;
      case 0x0D:
        out << "\\r";
        break;
      case 0x09:
        out << "\\t";
        break;
      default:
        if (byte < 0x20) {
          out << "\\u00" << tw::LowerHexDigit(byte >> 4) << tw::LowerHexDigit(byte);
        } else {
          out << c;
        }
    }
  }
  return out.str();
}

std::string BuildSetActivityMessage(const std::string& details, const std::string& state,
                                    const std::string& large_image, const std::string& large_text) {
  // Clock first, then the pid: the start time is the moment the build began.
  const int64_t start_seconds = CurrentUnixSeconds();
  const uint32_t pid = CurrentProcessId();
  return BuildSetActivityMessage(details, state, large_image, large_text, pid, start_seconds);
}

std::string BuildSetActivityMessage(const std::string& details, const std::string& state,
                                    const std::string& large_image, const std::string& large_text,
                                    uint32_t pid, int64_t start_seconds) {
  std::ostringstream out;
  // Numbers as plain digits whatever the global locale says.
  out.imbue(std::locale::classic());
  out << "{\"cmd\":\"SET_ACTIVITY\",\"args\":{\"pid\":" << pid << ",\"activity\":{"
      << "\"name\":\"Tidewarden Launcher\","
      << "\"type\":0,"
      << "\"status_display_type\":0,"
      << "\"details\":\"" << EscapeJsonString(details) << "\","
      << "\"state\":\"" << EscapeJsonString(state) << "\","
      << "\"timestamps\":{\"start\":" << start_seconds << "},"
      << "\"assets\":{\"large_image\":\"" << EscapeJsonString(large_image) << "\",\"large_text\":\""
      << EscapeJsonString(large_text) << "\"},"
      << "\"party\":{\"id\":\"tidewarden-launcher\",\"size\":[1,1]},"
      << "\"instance\":true,"
      << "\"buttons\":["
      << "{\"label\":\"Open Website\",\"url\":\"" << kProductWebsiteUrl << "\"},"
      << "{\"label\":\"Join Discord\",\"url\":\"" << kCommunityInviteUrl << "\"}"
      << "]"
      << "}},\"nonce\":\"" << start_seconds << "-" << pid << "\"}";
  return out.str();
}

}  // namespace tw::discord
