#include "security/device_identity.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <string>

#include "security/crypto_provider.h"
#include "security/token_codec.h"
#include "security/volume_seam.h"
#include "util/secure_buffer.h"
#include "util/win_handles.h"

namespace tw::security {
namespace {

constexpr wchar_t kCryptographyKey[] = L"SOFTWARE\\Microsoft\\Cryptography";
constexpr wchar_t kMachineGuidValue[] = L"MachineGuid";
constexpr wchar_t kSuffix[] = L"|Fernbrook-HWID-v1";
constexpr DWORD kGuidBufferBytes = 512;
constexpr ULONG kDigestSize = 32;

// Reads MachineGuid (up to its first zero unit) into `guid`; false when the
// key or the value cannot be read or the value exceeds 512 bytes.
bool ReadMachineGuid(SecureBuffer<wchar_t>* guid, std::size_t* length) {
  UniqueHKey key;
  // The 64-bit view, whatever this process's own width: a 32-bit build would
  // otherwise read the redirected key.
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCryptographyKey, /*ulOptions=*/0,
                      KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
    return false;
  }
  DWORD size = kGuidBufferBytes;
  // The value's type is not examined: the text is taken as stored.
  if (::RegQueryValueExW(key.get(), kMachineGuidValue, /*lpReserved=*/nullptr, /*lpType=*/nullptr,
                         reinterpret_cast<BYTE*>(guid->data()), &size) != ERROR_SUCCESS) {
    return false;
  }
  std::size_t n = 0;
  while (n < guid->size() && (*guid)[n] != L'\0') ++n;
  *length = n;
  return true;
}

DWORD ReadVolumeSerial() {
  DWORD serial = 0;
  // Failure means 0, which is part of the identity rather than an error;
  // what a failing call left in the serial is not looked at.
  if (!CurrentVolumeApi().get_volume_information(
          L"C:\\", /*lpVolumeNameBuffer=*/nullptr, /*nVolumeNameSize=*/0, &serial,
          /*lpMaximumComponentLength=*/nullptr, /*lpFileSystemFlags=*/nullptr,
          /*lpFileSystemNameBuffer=*/nullptr, /*nFileSystemNameSize=*/0)) {
    return 0;
  }
  return serial;
}

// "<guid>|<serial in decimal>|Fernbrook-HWID-v1", the hash input.
SecureBuffer<wchar_t> IdentityMaterial(const SecureBuffer<wchar_t>& guid, std::size_t guid_length,
                                       DWORD serial) {
  // Decimal serial: at most 10 digits, no sign, "0" for zero.
  wchar_t digits[10];
  std::size_t digit_count = 0;
  do {
    digits[digit_count++] = static_cast<wchar_t>(L'0' + serial % 10);
    serial /= 10;
  } while (serial != 0);

  const std::size_t suffix_length = sizeof(kSuffix) / sizeof(wchar_t) - 1;
  SecureBuffer<wchar_t> material(guid_length + 1 + digit_count + suffix_length);
  wchar_t* out = material.data();
  std::memcpy(out, guid.data(), guid_length * sizeof(wchar_t));
  out += guid_length;
  *out++ = L'|';
  while (digit_count > 0) *out++ = digits[--digit_count];
  std::memcpy(out, kSuffix, suffix_length * sizeof(wchar_t));
  SecureWipe(digits, sizeof digits);
  return material;
}

enum class Hashed { kOk, kUnavailable, kFailed };

// SHA-256 of the material's memory into `*digest` (kDigestSize bytes).
Hashed HashMaterial(const SecureBuffer<wchar_t>& material, SecureBuffer<std::uint8_t>* digest) {
  UniqueAlgorithm sha256;
  DWORD object_length = 0;
  ULONG written = 0;
  if (OpenAlgorithmProvider(sha256.put(), BCRYPT_SHA256_ALGORITHM) < 0 ||
      ::BCryptGetProperty(sha256.get(), BCRYPT_OBJECT_LENGTH,
                          reinterpret_cast<PUCHAR>(&object_length), sizeof object_length, &written,
                          /*dwFlags=*/0) < 0) {
    return Hashed::kUnavailable;
  }
  // wchar_t is UTF-16LE on Windows, so the material's memory is the hash
  // input as it stands.
  SecureBuffer<std::uint8_t> hash_object(object_length);
  UniqueHash hash;
  const bool hashed =
      ::BCryptCreateHash(sha256.get(), hash.put(), hash_object.data(), object_length,
                         /*pbSecret=*/nullptr, /*cbSecret=*/0, /*dwFlags=*/0) >= 0 &&
      ::BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(material.data())),
                       static_cast<ULONG>(material.size_bytes()), /*dwFlags=*/0) >= 0 &&
      ::BCryptFinishHash(hash.get(), digest->data(), kDigestSize, /*dwFlags=*/0) >= 0;
  return hashed ? Hashed::kOk : Hashed::kFailed;
}

}  // namespace

void GetHardwareId(flutter::MethodResult<>& result) {
  SecureBuffer<wchar_t> guid(kGuidBufferBytes / sizeof(wchar_t));
  std::size_t guid_length = 0;
  if (!ReadMachineGuid(&guid, &guid_length)) {
    result.Error("hwid", "Unable to read device identity");
    return;
  }
  SecureBuffer<wchar_t> material = IdentityMaterial(guid, guid_length, ReadVolumeSerial());
  guid.Wipe();

  SecureBuffer<std::uint8_t> digest(kDigestSize);
  const Hashed hashed = HashMaterial(material, &digest);
  material.Wipe();
  if (hashed == Hashed::kUnavailable) {
    result.Error("hwid", "SHA-256 unavailable");
    return;
  }
  if (hashed == Hashed::kFailed) {
    result.Error("hwid", "Unable to hash device identity");
    return;
  }

  // Built inside the answer itself, so no moved-from copy is left behind;
  // the guard wipes it after the answer, also when answering throws.
  flutter::EncodableValue answer{std::string()};
  WipeOnDestroy<std::string> hex(answer.Get<std::string>());
  LowerHex(digest.data(), digest.size(), hex);
  digest.Wipe();
  result.Success(answer);
}

}  // namespace tw::security
