// The text the launcher sends to the Discord client: JSON string escaping
// and the SET_ACTIVITY command that publishes the launcher's activity.
//
// There is no JSON serializer here: messages are fixed fragments with the
// caller's values inserted through EscapeJsonString. Strings are byte
// strings (UTF-8 by convention) and are never validated or converted.
//
// Stateless and thread-compatible. Portable: no Windows headers.
#ifndef DISCORD_ACTIVITY_MESSAGE_H_
#define DISCORD_ACTIVITY_MESSAGE_H_

#include <cstdint>
#include <string>

namespace tw::discord {

// The body of a JSON string literal for `text`, without the surrounding
// quotation marks. Escapes the quotation mark, the backslash and every byte
// below 0x20 (\b \f \n \r \t by name, the others as \u00xx in lower case);
// every other byte, DEL and UTF-8 sequences included, is copied unchanged.
std::string EscapeJsonString(const std::string& text);

// The complete SET_ACTIVITY command: one line of compact JSON naming this
// process and starting the activity now. Reads the process id and the
// system clock (whole seconds since 1970-01-01 UTC) once per call.
std::string BuildSetActivityMessage(const std::string& details, const std::string& state,
                                    const std::string& large_image, const std::string& large_text);

// The same command for a given process id and start time, so that the
// exact bytes can be checked. `start_seconds` is also the first half of the
// nonce ("<start_seconds>-<pid>").
std::string BuildSetActivityMessage(const std::string& details, const std::string& state,
                                    const std::string& large_image, const std::string& large_text,
                                    uint32_t pid, int64_t start_seconds);

// The two button targets of the activity. Inserted without escaping, so they
// hold nothing that JSON would need to escape.
inline constexpr const char* kProductWebsiteUrl = "https://tidewarden.example.com/";
inline constexpr const char* kCommunityInviteUrl = "https://community.example.com/tidewarden";

}  // namespace tw::discord

#endif  // DISCORD_ACTIVITY_MESSAGE_H_
