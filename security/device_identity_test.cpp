// Device identity on the real registry, volume and bcrypt of the test's Wine
// prefix. The expected identifier is computed here from the registry value
// and the volume serial with an independent SHA-256.
#include "security/device_identity.h"

#include <windows.h>
#include <bcrypt.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "security/testing/fake_crypto_provider.h"
#include "security/testing/fake_volume.h"
#include "security/testing/security_support.h"
#include "util/win_handles.h"

namespace tw::security::test {
namespace {

const ::testing::Environment* const kLock =
    ::testing::AddGlobalTestEnvironment(new MachineStateEnvironment);

constexpr wchar_t kKey[] = L"SOFTWARE\\Microsoft\\Cryptography";

// FIPS 180-4 SHA-256, written out so that the expected values do not come
// from the platform call under test.
std::string Sha256Hex(const std::vector<std::uint8_t>& message) {
  static constexpr std::uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::vector<std::uint8_t> m = message;
  const std::uint64_t bits = static_cast<std::uint64_t>(message.size()) * 8;
  m.push_back(0x80);
  while (m.size() % 64 != 56) m.push_back(0);
  for (int i = 7; i >= 0; --i) m.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  auto rotr = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  for (std::size_t block = 0; block < m.size(); block += 64) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      const std::uint8_t* p = &m[block + 4 * i];
      w[i] = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
             (std::uint32_t{p[2]} << 8) | p[3];
    }
    for (int i = 16; i < 64; ++i) {
      const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      const std::uint32_t t1 =
          hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      const std::uint32_t t2 =
          (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += hh;
  }
  char hex[65];
  for (int i = 0; i < 8; ++i) std::snprintf(hex + 8 * i, 9, "%08x", h[i]);
  return std::string(hex, 64);
}

TEST(TestSha256, MatchesPublishedVectors) {
  EXPECT_EQ(Sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex({'a', 'b', 'c'}),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(Sha256Hex(std::vector<std::uint8_t>(two_blocks.begin(), two_blocks.end())),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

// The identifier the handler should answer for this machine GUID text and
// this serial, written in decimal.
std::string ExpectedIdWithSerial(const std::wstring& guid, const std::wstring& serial) {
  const std::wstring material = guid + L"|" + serial + L"|Fernbrook-HWID-v1";
  std::vector<std::uint8_t> input;
  for (wchar_t unit : material) {
    input.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    input.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return Sha256Hex(input);
}

// The same with the real serial of C:.
std::string ExpectedId(const std::wstring& guid) {
  DWORD serial = 0;
  ::GetVolumeInformationW(L"C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);
  return ExpectedIdWithSerial(guid, std::to_wstring(serial));
}

// Changes MachineGuid of the test's prefix and puts the original back when
// it goes out of scope, also when an assertion ends the test early.
class MachineGuidOverride {
 public:
  MachineGuidOverride() {
    EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0,
                              KEY_READ | KEY_SET_VALUE | KEY_WOW64_64KEY, key_.put()),
              ERROR_SUCCESS);
    DWORD size = 0;
    if (::RegQueryValueExW(key_.get(), L"MachineGuid", nullptr, &type_, nullptr, &size) ==
        ERROR_SUCCESS) {
      original_.resize(size);
      had_value_ = ::RegQueryValueExW(key_.get(), L"MachineGuid", nullptr, &type_, original_.data(),
                                      &size) == ERROR_SUCCESS;
      original_.resize(size);
    }
    EXPECT_TRUE(had_value_) << "the prefix has no MachineGuid to restore";
  }
  ~MachineGuidOverride() {
    if (had_value_) {
      EXPECT_EQ(::RegSetValueExW(key_.get(), L"MachineGuid", 0, type_, original_.data(),
                                 static_cast<DWORD>(original_.size())),
                ERROR_SUCCESS);
    }
  }
  MachineGuidOverride(const MachineGuidOverride&) = delete;
  MachineGuidOverride& operator=(const MachineGuidOverride&) = delete;

  // Stores `text` with its terminator, as the system stores the value.
  bool Set(const std::wstring& text) {
    return ::RegSetValueExW(
               key_.get(), L"MachineGuid", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  bool SetRaw(const std::vector<std::uint8_t>& bytes) {
    return ::RegSetValueExW(key_.get(), L"MachineGuid", 0, REG_SZ, bytes.data(),
                            static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
  }
  bool Remove() { return ::RegDeleteValueW(key_.get(), L"MachineGuid") == ERROR_SUCCESS; }
  bool ok() const { return had_value_; }

 private:
  UniqueHKey key_;
  DWORD type_ = REG_SZ;
  std::vector<std::uint8_t> original_;
  bool had_value_ = false;
};

std::wstring CurrentGuid() {
  wchar_t buffer[257] = {};
  DWORD size = 512;
  UniqueHKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) !=
          ERROR_SUCCESS ||
      ::RegQueryValueExW(key.get(), L"MachineGuid", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return std::wstring(buffer);
}

std::string AnsweredId() {
  const Answer answer = Call("getHardwareId", flutter::EncodableValue("ignored"));
  EXPECT_TRUE(IsSuccess(answer));
  if (!answer.value || answer.value->GetIf<std::string>() == nullptr) return std::string();
  return *answer.value->GetIf<std::string>();
}

TEST(DeviceIdentityTest, AnswersTheDigestOfGuidAndSerial) {
  const std::wstring guid = CurrentGuid();
  ASSERT_FALSE(guid.empty());
  const std::string id = AnsweredId();
  EXPECT_EQ(id, ExpectedId(guid));
  ASSERT_EQ(id.size(), 64u);
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(AnsweredId(), id);  // stable
}

TEST(DeviceIdentityTest, SerialZeroAndAFailingQueryBothHashAsZero) {
  const std::wstring guid = CurrentGuid();
  ASSERT_FALSE(guid.empty());
  FakeVolume volume;
  struct Case {
    const char* name;
    bool fail;
    DWORD serial;
    std::wstring written;  // the serial as the material holds it
  };
  const Case cases[] = {
      {"serial 0", false, 0, L"0"},
      {"failing query", true, 0, L"0"},
      {"one digit", false, 7, L"7"},
      {"largest serial", false, 0xFFFFFFFF, L"4294967295"},
      {"serial with zeros inside", false, 1000200003, L"1000200003"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.fail) {
      volume.Fail();
    } else {
      volume.Answer(c.serial);
    }
    const int before = volume.queries();
    EXPECT_EQ(AnsweredId(), ExpectedIdWithSerial(guid, c.written));
    EXPECT_EQ(volume.queries(), before + 1);
    EXPECT_EQ(volume.last_root(), L"C:\\");
  }
}

TEST(DeviceIdentityTest, FollowsTheGuidTextAsStored) {
  MachineGuidOverride guid;
  ASSERT_TRUE(guid.ok());
  const std::wstring cases[] = {
      L"3f2504e0-4f89-11d3-9a0c-0305e82c3301",
      L"3F2504E0-4F89-11D3-9A0C-0305E82C3301",    // upper case hashes differently
      L"{3f2504e0-4f89-11d3-9a0c-0305e82c3301}",  // braces kept
      L" 3f2504e0 ",                              // blanks kept
      L"",                                        // empty text still succeeds
      std::wstring(255, L'g'),                    // 510 bytes and the terminator fill the buffer
  };
  std::vector<std::string> seen;
  for (const std::wstring& text : cases) {
    SCOPED_TRACE(::tw::Utf16ToUtf8Lossy(text));
    ASSERT_TRUE(guid.Set(text));
    const std::string id = AnsweredId();
    EXPECT_EQ(id, ExpectedId(text));
    for (const std::string& other : seen) EXPECT_NE(id, other);
    seen.push_back(id);
  }
}

TEST(DeviceIdentityTest, TextEndsAtTheFirstZeroUnit) {
  MachineGuidOverride guid;
  ASSERT_TRUE(guid.ok());
  const std::vector<std::uint8_t> bytes = {'a', 0, 'b', 0, 0, 0, 'c', 0, 0, 0};
  ASSERT_TRUE(guid.SetRaw(bytes));
  EXPECT_EQ(AnsweredId(), ExpectedId(L"ab"));
}

TEST(DeviceIdentityTest, UnreadableGuidIsAnError) {
  MachineGuidOverride guid;
  ASSERT_TRUE(guid.ok());
  ASSERT_TRUE(guid.Remove());
  EXPECT_TRUE(IsError(Call("getHardwareId"), "hwid", "Unable to read device identity"));
  // 257 units with the terminator: 514 bytes, more than the 512-byte buffer.
  ASSERT_TRUE(guid.Set(std::wstring(256, L'a')));
  EXPECT_TRUE(IsError(Call("getHardwareId"), "hwid", "Unable to read device identity"));
}

TEST(DeviceIdentityTest, ProviderFailuresAreHwidErrors) {
  {
    FakeCryptoProvider provider;
    provider.FailToOpen();
    EXPECT_TRUE(IsError(Call("getHardwareId"), "hwid", "SHA-256 unavailable"));
    EXPECT_EQ(provider.requested(), std::vector<std::wstring>{L"SHA256"});
  }
  {
    // A real provider of another algorithm: the SHA-256 calls that follow
    // the open then fail on the real platform. The random number provider
    // has no hash object length.
    FakeCryptoProvider provider;
    provider.OpenInstead(L"RNG");
    EXPECT_TRUE(IsError(Call("getHardwareId"), "hwid", "SHA-256 unavailable"));
  }
  {
    // A cipher provider has an object length but makes no hash.
    FakeCryptoProvider provider;
    provider.OpenInstead(L"AES");
    EXPECT_TRUE(IsError(Call("getHardwareId"), "hwid", "Unable to hash device identity"));
  }
  // And nothing survives a failure.
  EXPECT_EQ(AnsweredId(), ExpectedId(CurrentGuid()));
}

}  // namespace
}  // namespace tw::security::test
