// The one shape of the security seams: a null entry stands for the platform
// call, and the setter returns the table it replaced. (The addresses of
// imported functions differ between a static table and code that takes them
// at run time, so the platform entries are checked for being there, not
// compared.)
#include <windows.h>
#include <bcrypt.h>
#include <gtest/gtest.h>
#include <wincred.h>

#include "security/credential_seam.h"
#include "security/crypto_provider_seam.h"
#include "security/file_operations_seam.h"
#include "security/volume_seam.h"

namespace tw::security::test {
namespace {

BOOL WINAPI NoFlush(HANDLE) { return FALSE; }
NTSTATUS WINAPI NoProvider(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG) { return -1; }
VOID WINAPI NoFree(PVOID) {}
BOOL WINAPI NoVolume(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD) {
  return FALSE;
}

TEST(SecuritySeamTest, NullEntriesStandForThePlatformAndTheSetterReturnsWhatItReplaced) {
  {
    const FileOperations before =
        SetFileOperationsForTesting(FileOperations{nullptr, nullptr, &NoFlush, nullptr});
    EXPECT_NE(before.flush, &NoFlush);
    const FileOperations& now = CurrentFileOperations();
    EXPECT_EQ(now.flush, &NoFlush);
    EXPECT_NE(now.read, nullptr);
    EXPECT_NE(now.write, nullptr);
    EXPECT_NE(now.set_information, nullptr);
    EXPECT_EQ(SetFileOperationsForTesting(FileOperations{nullptr, nullptr, nullptr, nullptr}).flush,
              &NoFlush);
    EXPECT_NE(CurrentFileOperations().flush, nullptr);
    EXPECT_NE(CurrentFileOperations().flush, &NoFlush);
  }
  {
    SetCryptoProviderApiForTesting({&NoProvider});
    EXPECT_EQ(CurrentCryptoProviderApi().open_algorithm_provider, &NoProvider);
    EXPECT_EQ(SetCryptoProviderApiForTesting({nullptr}).open_algorithm_provider, &NoProvider);
    EXPECT_NE(CurrentCryptoProviderApi().open_algorithm_provider, nullptr);
    EXPECT_NE(CurrentCryptoProviderApi().open_algorithm_provider, &NoProvider);
  }
  {
    SetCredentialApiForTesting({nullptr, nullptr, nullptr, &NoFree});
    const CredentialApi& now = CurrentCredentialApi();
    EXPECT_EQ(now.cred_free, &NoFree);
    EXPECT_NE(now.cred_write, nullptr);
    EXPECT_NE(now.cred_read, nullptr);
    EXPECT_NE(now.cred_delete, nullptr);
    EXPECT_EQ(SetCredentialApiForTesting({nullptr, nullptr, nullptr, nullptr}).cred_free, &NoFree);
    EXPECT_NE(CurrentCredentialApi().cred_free, nullptr);
    EXPECT_NE(CurrentCredentialApi().cred_free, &NoFree);
  }
  {
    SetVolumeApiForTesting({&NoVolume});
    EXPECT_EQ(CurrentVolumeApi().get_volume_information, &NoVolume);
    EXPECT_EQ(SetVolumeApiForTesting({nullptr}).get_volume_information, &NoVolume);
    EXPECT_NE(CurrentVolumeApi().get_volume_information, nullptr);
    EXPECT_NE(CurrentVolumeApi().get_volume_information, &NoVolume);
  }
}

}  // namespace
}  // namespace tw::security::test
