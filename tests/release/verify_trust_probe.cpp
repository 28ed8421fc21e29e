// Asks Windows whether the Authenticode signature of each file is intact, for
// tests/release/release_test.sh:
//
//   verify_trust_probe FILE...    one "0xXXXXXXXX FILE" line per file
//
// The number is WinVerifyTrust's answer for the generic verify action:
// 0x00000000 signed and unchanged, 0x800B0100 (TRUST_E_NOSIGNATURE) not
// signed, 0x80096010 (TRUST_E_BAD_DIGEST) changed after it was signed. Under
// Wine the chain is not checked against a trusted root; osslsigncode verify
// -CAfile does that. Exit code 0 once every file has its answer, 1 on bad
// usage.
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cwchar>

namespace {

// One verification's state: WinVerifyTrust keeps it from the verify action
// until the close action, which this owner performs on every path.
class TrustVerification {
 public:
  explicit TrustVerification(const wchar_t* path) {
    file_.cbStruct = sizeof(file_);
    file_.pcwszFilePath = path;
    data_.cbStruct = sizeof(data_);
    data_.dwUIChoice = WTD_UI_NONE;
    data_.fdwRevocationChecks = WTD_REVOKE_NONE;
    data_.dwUnionChoice = WTD_CHOICE_FILE;
    data_.pFile = &file_;
    data_.dwStateAction = WTD_STATEACTION_VERIFY;
  }
  TrustVerification(const TrustVerification&) = delete;
  TrustVerification& operator=(const TrustVerification&) = delete;
  ~TrustVerification() {
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data_);
  }

  LONG Verify() {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    // INVALID_HANDLE_VALUE: no window may be shown for this check.
    return ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data_);
  }

 private:
  WINTRUST_FILE_INFO file_ = {};
  WINTRUST_DATA data_ = {};
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: verify_trust_probe FILE...\n");
    return 1;
  }
  for (int i = 1; i < argc; ++i) {
    TrustVerification verification(argv[i]);
    const LONG answer = verification.Verify();
    std::wprintf(L"0x%08lX %ls\n", static_cast<unsigned long>(answer), argv[i]);
  }
  return 0;
}
