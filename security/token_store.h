// The session token in the Windows Credential Manager: one generic
// credential, "Fernbrook.Launcher.DiscordSession", persisted for the local
// machine.
//
// Every copy of the token the store makes (the widened blob, the narrowed
// answer, the record the platform returns) is wiped before it is released,
// on every path, exceptions included; the written blob is wiped before the
// answer is sent, the returned record before CredFree. The Credential
// Manager calls go through security/credential_seam.h.
#ifndef SECURITY_TOKEN_STORE_H_
#define SECURITY_TOKEN_STORE_H_

#include <windows.h>
#include <wincred.h>

#include "channels/encodable_value.h"
#include "channels/method_call.h"
#include "util/unique_handle.h"

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

// Wipes the blob of a record returned by CredReadW, then releases the record
// through CredFree. Null is ignored.
void FreeCredential(PCREDENTIALW credential) noexcept;

// Owner of a record returned by CredReadW; closing it is FreeCredential, so
// the blob cannot be released unwiped.
using UniqueCredential = UniqueHandle<NullMeansNone<PCREDENTIALW, &FreeCredential>>;

}  // namespace tw::security

#endif  // SECURITY_TOKEN_STORE_H_
