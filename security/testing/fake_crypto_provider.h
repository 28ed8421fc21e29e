// The one stand-in of the provider seam (security/crypto_provider_seam.h):
// makes every provider open fail, or open another algorithm than the one
// asked for, and notes which algorithms were asked for. Until told
// otherwise it opens what is asked.
//
// Example:
//   FakeCryptoProvider provider;            // installed for this scope
//   provider.FailToOpen();                  // as for an algorithm the system lacks
//   provider.OpenInstead(L"SHA256");        // a real provider of another kind
//
#ifndef SECURITY_TESTING_FAKE_CRYPTO_PROVIDER_H_
#define SECURITY_TESTING_FAKE_CRYPTO_PROVIDER_H_

#include <windows.h>
#include <bcrypt.h>

#include <string>
#include <vector>

#include "security/crypto_provider_seam.h"
#include "testing/seam_stand_in.h"

namespace tw::security::test {

class FakeCryptoProvider : public ::tw::test::SeamStandIn<FakeCryptoProvider, CryptoProviderApi,
                                                          &SetCryptoProviderApiForTesting> {
 public:
  FakeCryptoProvider() : SeamStandIn(Table()) {}

  // Later opens fail with STATUS_NOT_FOUND and open nothing.
  void FailToOpen() { fail_ = true; }
  // Later opens open `algorithm` (a real provider) whatever is asked.
  void OpenInstead(std::wstring algorithm) {
    fail_ = false;
    instead_ = std::move(algorithm);
  }

  // The algorithm ids asked for, in order.
  const std::vector<std::wstring>& requested() const { return requested_; }

 private:
  static CryptoProviderApi Table() {
    CryptoProviderApi table;
    table.open_algorithm_provider = &Open;
    return table;
  }

  static NTSTATUS WINAPI Open(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR id, LPCWSTR implementation,
                              ULONG flags) {
    FakeCryptoProvider& self = current();
    self.requested_.push_back(id != nullptr ? id : L"");
    if (self.fail_) return static_cast<NTSTATUS>(0xC0000225);  // STATUS_NOT_FOUND
    const wchar_t* opened = self.instead_.empty() ? id : self.instead_.c_str();
    return ::BCryptOpenAlgorithmProvider(algorithm, opened, implementation, flags);
  }

  bool fail_ = false;
  std::wstring instead_;
  std::vector<std::wstring> requested_;
};

}  // namespace tw::security::test

#endif  // SECURITY_TESTING_FAKE_CRYPTO_PROVIDER_H_
