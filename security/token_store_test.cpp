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

#include "security/testing/security_support.h"

namespace tw::security {
namespace {

using testing::Answer;
using testing::Call;
using testing::CredentialApiOverride;
using testing::IsError;
using testing::IsSuccess;

const ::testing::Environment* const kLock =
    ::testing::AddGlobalTestEnvironment(new testing::MachineStateEnvironment);

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

bool AllZero(const std::uint8_t* bytes, std::size_t size) {
  return std::all_of(bytes, bytes + size, [](std::uint8_t b) { return b == 0; });
}

// What the fake Credential Manager calls saw, in the order they happened.
struct SeamLog {
  bool accept_writes = true;
  std::vector<std::uint8_t> written_blob;     // the blob as CredWriteW got it
  const std::uint8_t* blob_memory = nullptr;  // where the store kept it
  std::size_t blob_size = 0;
  std::vector<std::string> events;  // "write", "free wiped"/"free NOT wiped", "answer"
};
SeamLog seam;

BOOL WINAPI RecordingWrite(PCREDENTIALW credential, DWORD flags) {
  seam.events.push_back("write");
  seam.blob_memory = credential->CredentialBlob;
  seam.blob_size = credential->CredentialBlobSize;
  seam.written_blob.assign(credential->CredentialBlob,
                           credential->CredentialBlob + credential->CredentialBlobSize);
  if (!seam.accept_writes) {
    ::SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
    return FALSE;
  }
  return ::CredWriteW(credential, flags);
}

// Looks at the record before it goes back to the platform.
VOID WINAPI CheckingFree(PVOID buffer) {
  const auto* credential = static_cast<const CREDENTIALW*>(buffer);
  seam.events.push_back(AllZero(credential->CredentialBlob, credential->CredentialBlobSize)
                            ? "free wiped"
                            : "free NOT wiped");
  ::CredFree(buffer);
}

class TokenSeamTest : public TokenStoreTest {
 protected:
  void SetUp() override {
    TokenStoreTest::SetUp();
    seam = SeamLog();
  }
  // At the moment of the answer the store's own blob is still alive: it
  // must already be zeros.
  std::function<void()> NoteAnswer() {
    return [] {
      seam.events.push_back(AllZero(seam.blob_memory, seam.blob_size) ? "answer"
                                                                      : "answer before wipe");
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
    seam = SeamLog();
    seam.accept_writes = c.accept;
    CredentialApiOverride fake({&RecordingWrite, nullptr, nullptr, nullptr});
    const Answer answer = Call("writeToken", flutter::EncodableValue(token), NoteAnswer());
    EXPECT_EQ(seam.written_blob, widened);
    EXPECT_EQ(seam.events, (std::vector<std::string>{"write", "answer"}));
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
  seam.accept_writes = false;
  {
    CredentialApiOverride fake({&RecordingWrite, nullptr, nullptr, nullptr});
    EXPECT_TRUE(IsError(Call("writeToken", flutter::EncodableValue("later")), "cred_write",
                        "Credential Manager rejected the token"));
  }
  EXPECT_EQ(Call("readToken").value, flutter::EncodableValue("earlier"));
}

TEST_F(TokenSeamTest, ReadRecordGoesBackWipedBeforeTheAnswer) {
  const std::string token(300, 'k');
  ASSERT_TRUE(IsSuccess(Call("writeToken", flutter::EncodableValue(token))));
  CredentialApiOverride fake({nullptr, nullptr, nullptr, &CheckingFree});
  const Answer read = Call("readToken", std::nullopt, [] { seam.events.push_back("answer"); });
  ASSERT_TRUE(IsSuccess(read));
  EXPECT_EQ(read.value, flutter::EncodableValue(token));
  EXPECT_EQ(seam.events, (std::vector<std::string>{"free wiped", "answer"}));
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
