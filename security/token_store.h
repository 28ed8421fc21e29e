// The session token in the Windows Credential Manager: one generic
// credential, "Fernbrook.Launcher.DiscordSession", persisted for the local
// machine.
#ifndef SECURITY_TOKEN_STORE_H_
#define SECURITY_TOKEN_STORE_H_

#include "channels/encodable_value.h"
#include "channels/method_call.h"

namespace tw::security {

// The target name of the one credential the launcher reads, writes and deletes.
inline constexpr wchar_t kTokenTargetName[] = L"Fernbrook.Launcher.DiscordSession";

// "writeToken": `arguments` must be a string; stores it widened byte by byte
// and answers true, or "invalid" / "cred_write".
void WriteToken(const flutter::EncodableValue* arguments, flutter::MethodResult<>& result);

// "readToken": answers the stored token, or null when none can be read.
void ReadToken(flutter::MethodResult<>& result);

// "deleteToken": removes the credential and answers true, whether or not
// there was one.
void DeleteToken(flutter::MethodResult<>& result);

}  // namespace tw::security

#endif  // SECURITY_TOKEN_STORE_H_
