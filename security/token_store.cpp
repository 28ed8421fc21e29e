#include "security/token_store.h"

#include <string>

#include "security/credential_seam.h"
#include "security/token_codec.h"
#include "util/secure_buffer.h"

namespace tw::security {

void FreeCredential(PCREDENTIALW credential) noexcept {
  if (credential == nullptr) return;
  SecureWipe(credential->CredentialBlob, credential->CredentialBlobSize);
  CurrentCredentialApi().cred_free(credential);
}

void WriteToken(const flutter::EncodableValue* arguments, flutter::MethodResult<>& result) {
  const std::string* token = arguments != nullptr ? arguments->GetIf<std::string>() : nullptr;
  if (token == nullptr) {
    result.Error("invalid", "Missing token");
    return;
  }
  // Wiped below before either answer, and by its destructor if anything
  // throws first.
  SecureBuffer<std::uint8_t> blob = WidenToken(*token);

  // CREDENTIALW wants mutable strings; the API does not modify them.
  std::wstring target(kTokenTargetName);
  std::wstring user_name(L"Discord");
  CREDENTIALW credential = {};
  credential.Flags = 0;
  credential.Type = CRED_TYPE_GENERIC;
  credential.TargetName = target.data();
  credential.Comment = nullptr;
  credential.CredentialBlobSize = static_cast<DWORD>(blob.size());
  credential.CredentialBlob = blob.empty() ? nullptr : blob.data();
  credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
  credential.AttributeCount = 0;
  credential.Attributes = nullptr;
  credential.TargetAlias = nullptr;
  credential.UserName = user_name.data();

  // A blob larger than DWORD can describe would be silently truncated by the
  // cast above; let the store refuse it instead.
  const bool too_large = blob.size() > MAXDWORD;
  const bool stored = !too_large && CurrentCredentialApi().cred_write(&credential, /*Flags=*/0);
  blob.Wipe();
  if (!stored) {
    result.Error("cred_write", "Credential Manager rejected the token");
    return;
  }
  result.Success(flutter::EncodableValue(true));
}

void ReadToken(flutter::MethodResult<>& result) {
  UniqueCredential credential;
  if (!CurrentCredentialApi().cred_read(kTokenTargetName, CRED_TYPE_GENERIC, /*Flags=*/0,
                                        credential.put())) {
    result.Success();
    return;
  }
  // The token is built inside the answer itself, so no moved-from copy of it
  // is left behind; the guard wipes it after the answer, also when answering
  // throws.
  flutter::EncodableValue answer{std::string()};
  WipeOnDestroy<std::string> token(answer.Get<std::string>());
  NarrowToken(credential.get()->CredentialBlob, credential.get()->CredentialBlobSize, token);
  // The platform's copy goes back wiped before the answer is sent.
  credential.reset();
  result.Success(answer);
}

void DeleteToken(flutter::MethodResult<>& result) {
  CurrentCredentialApi().cred_delete(kTokenTargetName, CRED_TYPE_GENERIC, /*Flags=*/0);
  result.Success(flutter::EncodableValue(true));
}

}  // namespace tw::security
