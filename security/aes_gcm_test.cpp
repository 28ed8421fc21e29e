// The AES-256-GCM key of the package format on the real bcrypt of the test's
// Wine prefix.
#include "security/aes_gcm.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "security/testing/fake_crypto_provider.h"
#include "testing/bytes.h"
#include "util/hex.h"

namespace tw::security::test {
namespace {

using ::tw::test::Bytes;
using ::tw::test::Pattern;

TEST(AesGcmKeyTest, SealsTheKnownKeystreamAndOpensWhatItSealed) {
  // AES-256 under the all-zero key and nonce: the ciphertext of 16 zero
  // bytes is the published keystream, whatever the additional data.
  const Bytes zero_key(32, 0);
  const Bytes nonce(12, 0);
  AesGcmKey aes;
  ASSERT_EQ(aes.Init(zero_key.data()), AesGcmKey::Status::kOk);
  const Bytes plain(16, 0);
  Bytes ciphertext(16), tag(16);
  ASSERT_TRUE(aes.Seal(nonce.data(), plain.data(), 16, ciphertext.data(), tag.data()));
  EXPECT_EQ(ParseHex("cea7403d4d606b6e074ec5d3baf39d18").value(), ciphertext);
  Bytes opened(16, 0xAA);
  ASSERT_TRUE(aes.Open(nonce.data(), tag.data(), ciphertext.data(), 16, opened.data()));
  EXPECT_EQ(opened, plain);
}

TEST(AesGcmKeyTest, AnyChangedByteFailsToOpen) {
  const Bytes key = Pattern(32, 9);
  const Bytes nonce = Pattern(12, 10);
  const Bytes plain = Pattern(100, 11);
  AesGcmKey aes;
  ASSERT_EQ(aes.Init(key.data()), AesGcmKey::Status::kOk);
  Bytes ciphertext(100), tag(16);
  ASSERT_TRUE(aes.Seal(nonce.data(), plain.data(), 100, ciphertext.data(), tag.data()));
  struct Case {
    const char* name;
    Bytes* part;
    std::size_t index;
  };
  Bytes changed_nonce = nonce;
  const Case cases[] = {
      {"nonce", &changed_nonce, 11}, {"tag", &tag, 0}, {"ciphertext", &ciphertext, 57}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    (*c.part)[c.index] ^= 0x01;
    Bytes opened(100);
    EXPECT_FALSE(aes.Open(changed_nonce.data(), tag.data(), ciphertext.data(), 100, opened.data()));
    (*c.part)[c.index] ^= 0x01;
  }
  Bytes opened(100);
  ASSERT_TRUE(aes.Open(nonce.data(), tag.data(), ciphertext.data(), 100, opened.data()));
  EXPECT_EQ(opened, plain);
  // Another key opens nothing.
  AesGcmKey other;
  ASSERT_EQ(other.Init(Pattern(32, 12).data()), AesGcmKey::Status::kOk);
  EXPECT_FALSE(other.Open(nonce.data(), tag.data(), ciphertext.data(), 100, opened.data()));
}

TEST(AesGcmKeyTest, ProviderFailuresHoldNothing) {
  const Bytes key = Pattern(32, 1);
  {
    FakeCryptoProvider provider;
    provider.FailToOpen();
    AesGcmKey aes;
    EXPECT_EQ(aes.Init(key.data()), AesGcmKey::Status::kUnavailable);
    EXPECT_FALSE(aes);
    EXPECT_EQ(provider.requested(), std::vector<std::wstring>{L"AES"});
  }
  {
    // A hash provider takes no chaining mode.
    FakeCryptoProvider provider;
    provider.OpenInstead(L"SHA256");
    AesGcmKey aes;
    EXPECT_EQ(aes.Init(key.data()), AesGcmKey::Status::kSetupFailed);
    EXPECT_FALSE(aes);
  }
  AesGcmKey aes;
  EXPECT_EQ(aes.Init(key.data()), AesGcmKey::Status::kOk);
  EXPECT_TRUE(aes);
  aes.Reset();
  EXPECT_FALSE(aes);
}

}  // namespace
}  // namespace tw::security::test
