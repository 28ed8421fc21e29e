// Token store and dispatch, on the real Credential Manager of the test's
// Wine prefix.
#include "security/token_store.h"

#include <windows.h>
#include <wincred.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "security/security_test_support.h"
#include "security/win_handles.h"

namespace tw::security {
namespace {

using testing::Answer;
using testing::Call;
using testing::IsError;
using testing::IsSuccess;

const ::testing::Environment* const kLock =
    ::testing::AddGlobalTestEnvironment(new testing::MachineStateLock);

// The stored credential as the platform returns it, or nothing.
UniqueCredential ReadStored() {
  UniqueCredential credential;
  ::CredReadW(kTokenTargetName, CRED_TYPE_GENERIC, 0, credential.put());
  return credential;
}

class TokenStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ::CredDeleteW(kTokenTargetName, CRED_TYPE_GENERIC, 0); }
  void TearDown() override { ::CredDeleteW(kTokenTargetName, CRED_TYPE_GENERIC, 0); }
};

TEST_F(TokenStoreTest, TokensReadBackByteForByte) {
  std::string all_high;
  for (int b = 0x80; b <= 0xFF; ++b) all_high.push_back(static_cast<char>(b));
  struct Case {
    const char* name;
    std::string token;
  };
  const Case cases[] = {
      {"ascii", "mfa.abc-DEF_123"},
      {"empty", ""},
      {"bytes 0x80 to 0xFF", all_high},
      {"embedded NUL", std::string("a\0b", 3)},
      {"long", std::string(1000, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Answer written = Call("writeToken", flutter::EncodableValue(c.token));
    ASSERT_TRUE(IsSuccess(written));
    EXPECT_EQ(written.value, flutter::EncodableValue(true));

    const Answer read = Call("readToken");
    ASSERT_TRUE(IsSuccess(read));
    // The empty token is a string, not null.
    ASSERT_TRUE(read.value.has_value());
    ASSERT_NE(read.value->GetIf<std::string>(), nullptr);
    EXPECT_EQ(*read.value->GetIf<std::string>(), c.token);

    const Answer deleted = Call("deleteToken");
    ASSERT_TRUE(IsSuccess(deleted));
    EXPECT_EQ(deleted.value, flutter::EncodableValue(true));
    EXPECT_FALSE(ReadStored());
  }
}

TEST_F(TokenStoreTest, StoresTheRecordAsDescribed) {
  ASSERT_TRUE(IsSuccess(Call("writeToken", flutter::EncodableValue("A\xC3\xA9"))));
  UniqueCredential stored = ReadStored();
  ASSERT_TRUE(stored);
  const CREDENTIALW& c = *stored.get();
  EXPECT_EQ(c.Type, static_cast<DWORD>(CRED_TYPE_GENERIC));
  EXPECT_EQ(c.Persist, static_cast<DWORD>(CRED_PERSIST_LOCAL_MACHINE));
  ASSERT_NE(c.UserName, nullptr);
  EXPECT_EQ(std::wstring(c.UserName), L"Discord");
  EXPECT_EQ(std::wstring(c.TargetName), L"Fernbrook.Launcher.DiscordSession");
  // Units 0x0041 0xFFC3 0xFFA9, little-endian, no terminator.
  const std::vector<std::uint8_t> want = {0x41, 0x00, 0xC3, 0xFF, 0xA9, 0xFF};
  ASSERT_EQ(c.CredentialBlobSize, want.size());
  EXPECT_EQ(std::vector<std::uint8_t>(c.CredentialBlob, c.CredentialBlob + c.CredentialBlobSize),
            want);
}

TEST_F(TokenStoreTest, EmptyTokenStoresAnEmptyBlob) {
  ASSERT_TRUE(IsSuccess(Call("writeToken", flutter::EncodableValue(""))));
  UniqueCredential stored = ReadStored();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored.get()->CredentialBlobSize, 0u);
}

TEST_F(TokenStoreTest, WriteReplacesAnEarlierToken) {
  ASSERT_TRUE(IsSuccess(Call("writeToken", flutter::EncodableValue("first-and-longer"))));
  ASSERT_TRUE(IsSuccess(Call("writeToken", flutter::EncodableValue("second"))));
  const Answer read = Call("readToken");
  ASSERT_TRUE(IsSuccess(read));
  EXPECT_EQ(read.value, flutter::EncodableValue("second"));
}

TEST_F(TokenStoreTest, OddSizedBlobWrittenElsewhereReadsWithoutItsLastByte) {
  std::wstring target(kTokenTargetName);
  std::uint8_t blob[] = {'o', 0x00, 'k', 0x00, 0xE9, 0xFF, '!'};
  CREDENTIALW credential = {};
  credential.Type = CRED_TYPE_GENERIC;
  credential.TargetName = target.data();
  credential.CredentialBlobSize = sizeof blob;
  credential.CredentialBlob = blob;
  credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
  ASSERT_TRUE(::CredWriteW(&credential, 0));

  const Answer read = Call("readToken");
  ASSERT_TRUE(IsSuccess(read));
  EXPECT_EQ(read.value, flutter::EncodableValue("ok\xE9"));
}

TEST_F(TokenStoreTest, ReadAndDeleteWithNothingStored) {
  const Answer read = Call("readToken");
  ASSERT_TRUE(IsSuccess(read));
  EXPECT_FALSE(read.value.has_value());  // success without a value: null
  for (int i = 0; i < 2; ++i) {
    const Answer deleted = Call("deleteToken");
    ASSERT_TRUE(IsSuccess(deleted));
    EXPECT_EQ(deleted.value, flutter::EncodableValue(true));
  }
}

TEST_F(TokenStoreTest, WriteTokenRejectsAnythingButABareString) {
  flutter::EncodableMap wrapped;
  wrapped.emplace(flutter::EncodableValue("token"), flutter::EncodableValue("abc"));
  struct Case {
    const char* name;
    std::optional<flutter::EncodableValue> arguments;
  };
  const Case cases[] = {
      {"no arguments", std::nullopt},
      {"null", flutter::EncodableValue()},
      {"map holding the token", flutter::EncodableValue(wrapped)},
      {"int", flutter::EncodableValue(int32_t{42})},
      {"bytes", flutter::EncodableValue(std::vector<std::uint8_t>{'a', 'b'})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(IsError(Call("writeToken", c.arguments), "invalid", "Missing token"));
    EXPECT_FALSE(ReadStored());
  }
}

TEST_F(TokenStoreTest, ArgumentsOfOtherMethodsAreNotRead) {
  ASSERT_TRUE(IsSuccess(Call("writeToken", flutter::EncodableValue("kept"))));
  const Answer read = Call("readToken", flutter::EncodableValue(int32_t{7}));
  ASSERT_TRUE(IsSuccess(read));
  EXPECT_EQ(read.value, flutter::EncodableValue("kept"));
  EXPECT_TRUE(IsSuccess(Call("deleteToken", flutter::EncodableValue("kept"))));
  EXPECT_FALSE(ReadStored());
}

TEST(SecurityDispatchTest, UnknownNamesAreNotImplemented) {
  for (const char* name : {"WriteToken", "writeToken ", " readToken", "readtoken", "gethardwareid",
                           "decryptpackage", "", "start"}) {
    SCOPED_TRACE(name);
    const Answer answer = Call(name, flutter::EncodableValue("x"));
    EXPECT_EQ(answer.count, 1);
    EXPECT_EQ(answer.kind, Answer::Kind::kNotImplemented);
  }
}

TEST(SecurityDispatchTest, DecryptPackageWithoutAMapIsInvalid) {
  const std::optional<flutter::EncodableValue> cases[] = {
      std::nullopt,
      flutter::EncodableValue(),
      flutter::EncodableValue("source"),
      flutter::EncodableValue(flutter::EncodableList{flutter::EncodableValue("a")}),
  };
  for (const auto& arguments : cases) {
    EXPECT_TRUE(IsError(Call("decryptPackage", arguments), "invalid", "Missing arguments"));
  }
}

}  // namespace
}  // namespace tw::security
