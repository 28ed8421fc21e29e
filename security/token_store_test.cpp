// Token store and dispatch, on the real Credential Manager of the test's
// Wine prefix; a refused write and the record handed to CredFree through
// the store's credential seam.
#include "security/token_store.h"

#include <windows.h>
#include <gtest/gtest.h>
#include <wincred.h>

#include <algorithm>
#include <string>
#include <vector>

#include "security/testing/recording_credential_api.h"
#include "security/testing/security_support.h"

namespace tw::security::test {
namespace {

const ::testing::Environment* const kLock =
    ::testing::AddGlobalTestEnvironment(new MachineStateEnvironment);

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
      {"ascii", "mfa.abc-DEF_123"},     {"empty", ""},
      {"bytes 0x80 to 0xFF", all_high}, {"embedded NUL", std::string("a\0b", 3)},
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

class TokenSeamTest : public TokenStoreTest {
 protected:
  // At the moment of the answer the store's own blob is still alive: it
  // must already be zeros.
  static std::function<void()> NoteAnswer(RecordingCredentialApi* credentials) {
    return [credentials] {
      credentials->AddEvent(credentials->WrittenMemoryIsWiped() ? "answer" : "answer before wipe");
    };
  }
};

TEST_F(TokenSeamTest, WrittenBlobIsWipedBeforeEitherAnswer) {
  const std::string token = "mfa.\xC3\xA9-session";
  const std::vector<std::uint8_t> widened = {'m',  0,    'f', 0, 'a', 0, '.', 0, 0xC3, 0xFF,
                                             0xA9, 0xFF, '-', 0, 's', 0, 'e', 0, 's',  0,
                                             's',  0,    'i', 0, 'o', 0, 'n', 0};
  struct Case {
    const char* name;
    bool accept;
  };
  for (const Case& c : {Case{"stored", true}, Case{"refused", false}}) {
    SCOPED_TRACE(c.name);
    RecordingCredentialApi credentials;
    if (!c.accept) credentials.RefuseWrites();
    const Answer answer =
        Call("writeToken", flutter::EncodableValue(token), NoteAnswer(&credentials));
    EXPECT_EQ(credentials.written_blob(), widened);
    EXPECT_EQ(credentials.events(), (std::vector<std::string>{"write", "answer"}));
    if (c.accept) {
      ASSERT_TRUE(IsSuccess(answer));
      EXPECT_EQ(answer.value, flutter::EncodableValue(true));
      EXPECT_TRUE(ReadStored());
    } else {
      EXPECT_TRUE(IsError(answer, "cred_write", "Credential Manager rejected the token"));
      EXPECT_FALSE(ReadStored()) << "nothing stored by a refused write";
    }
    ::CredDeleteW(kTokenTargetName, CRED_TYPE_GENERIC, 0);
  }
}

TEST_F(TokenSeamTest, RefusedWriteKeepsTheEarlierToken) {
  ASSERT_TRUE(IsSuccess(Call("writeToken", flutter::EncodableValue("earlier"))));
  {
    RecordingCredentialApi credentials;
    credentials.RefuseWrites();
    EXPECT_TRUE(IsError(Call("writeToken", flutter::EncodableValue("later")), "cred_write",
                        "Credential Manager rejected the token"));
  }
  EXPECT_EQ(Call("readToken").value, flutter::EncodableValue("earlier"));
}

TEST_F(TokenSeamTest, ReadRecordGoesBackWipedBeforeTheAnswer) {
  const std::string token(300, 'k');
  ASSERT_TRUE(IsSuccess(Call("writeToken", flutter::EncodableValue(token))));
  RecordingCredentialApi credentials;
  const Answer read =
      Call("readToken", std::nullopt, [&credentials] { credentials.AddEvent("answer"); });
  ASSERT_TRUE(IsSuccess(read));
  EXPECT_EQ(read.value, flutter::EncodableValue(token));
  EXPECT_EQ(credentials.events(), (std::vector<std::string>{"free wiped", "answer"}));
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
}  // namespace tw::security::test
