#include "security/package_writer.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "security/crypto_provider.h"
#include "security/replacement_file.h"
#include "util/secure_buffer.h"

namespace tw::security {

bool RandomBytes(std::uint8_t* data, std::size_t size) {
  return ::BCryptGenRandom(/*hAlgorithm=*/nullptr, data, static_cast<ULONG>(size),
                           BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}

bool ChunkSealer::Init(const std::uint8_t* key, std::size_t key_size, std::string* error) {
  if (key_size != kKeySize) {
    *error = "Invalid AES key";
    return false;
  }
  if (OpenAlgorithmProvider(aes_.put(), BCRYPT_AES_ALGORITHM) < 0) {
    *error = "AES unavailable";
    return false;
  }
  if (::BCryptSetProperty(aes_.get(), BCRYPT_CHAINING_MODE,
                          reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_GCM)),
                          sizeof(BCRYPT_CHAIN_MODE_GCM), /*dwFlags=*/0) < 0 ||
      ::BCryptGenerateSymmetricKey(aes_.get(), key_.put(), nullptr, 0,
                                   const_cast<std::uint8_t*>(key), kKeySize, /*dwFlags=*/0) < 0) {
    *error = "AES key setup failed";
    return false;
  }
  return true;
}

bool ChunkSealer::Seal(const std::uint8_t* plain, std::uint32_t length, const std::uint8_t* nonce,
                       std::vector<std::uint8_t>* record) {
  if (!key_ || !IsValidChunkLength(length)) return false;
  const std::size_t start = record->size();
  record->resize(start + kRecordHeaderSize + length);
  std::uint8_t* r = record->data() + start;
  EncodeChunkLength(length, r);
  std::memcpy(r + kLengthSize, nonce, kNonceSize);

  std::uint8_t nonce_copy[kNonceSize];
  std::memcpy(nonce_copy, nonce, kNonceSize);
  std::uint8_t aad[kChunkAadSize];
  std::memcpy(aad, kChunkAad, kChunkAadSize);
  BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
  BCRYPT_INIT_AUTH_MODE_INFO(info);
  info.pbNonce = nonce_copy;
  info.cbNonce = kNonceSize;
  info.pbAuthData = aad;
  info.cbAuthData = kChunkAadSize;
  info.pbTag = r + kLengthSize + kNonceSize;
  info.cbTag = kTagSize;
  ULONG written = 0;
  if (::BCryptEncrypt(key_.get(), const_cast<std::uint8_t*>(plain), length, &info, nullptr, 0,
                      r + kRecordHeaderSize, length, &written, /*dwFlags=*/0) < 0 ||
      written != length) {
    record->resize(start);
    return false;
  }
  return true;
}

PackageStatus SealPackageFile(const std::wstring& plain, const std::wstring& package,
                              const std::uint8_t* key, std::size_t key_size,
                              std::uint32_t chunk_size, const PackageProgress& progress) {
  if (!IsValidChunkLength(chunk_size)) return {false, "Chunk size must be 1 to 1048576 bytes"};
  ChunkSealer sealer;
  std::string error;
  if (!sealer.Init(key, key_size, &error)) return {false, error};

  UniqueFile in(::CreateFileW(plain.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!in) return {false, "Unable to open the plain file"};
  LARGE_INTEGER total = {};
  if (!::GetFileSizeEx(in.get(), &total)) total.QuadPart = 0;

  ReplacementFile out;
  if (!out.Create(package)) return {false, "Unable to create the package file"};
  if (!out.Write(kPackageHeader, kPackageHeaderSize))
    return {false, "Unable to write the package file"};

  SecureBuffer<std::uint8_t> chunk(chunk_size);
  std::vector<std::uint8_t> record;
  record.reserve(kRecordHeaderSize + chunk_size);
  std::uint64_t done = 0;
  for (;;) {
    // Fill a whole chunk: ReadFile may return less than asked before the end.
    std::size_t filled = 0;
    while (filled < chunk_size) {
      DWORD got = 0;
      if (!::ReadFile(in.get(), chunk.data() + filled, static_cast<DWORD>(chunk_size - filled),
                      &got, nullptr)) {
        return {false, "Unable to read the plain file"};
      }
      if (got == 0) break;
      filled += got;
    }
    if (filled == 0) break;
    std::uint8_t nonce[kNonceSize];
    record.clear();
    if (!RandomBytes(nonce, sizeof nonce) ||
        !sealer.Seal(chunk.data(), static_cast<std::uint32_t>(filled), nonce, &record)) {
      return {false, "Unable to encrypt a chunk"};
    }
    if (!out.Write(record.data(), record.size()))
      return {false, "Unable to write the package file"};
    done += filled;
    if (progress) progress(done, static_cast<std::uint64_t>(total.QuadPart));
    if (filled < chunk_size) break;
  }
  if (!out.Commit()) return {false, "Unable to write the package file"};
  return {true, std::string()};
}

namespace {

// An absolute security descriptor whose DACL grants the current user full
// access and nobody else any; protected, so the folder's inheritable entries
// are not added.
class OwnerOnlySecurity {
 public:
  bool Init() {
    UniqueKernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return false;
    user_.resize((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    if (!::GetTokenInformation(token.get(), TokenUser, user_.data(), size, &size)) return false;
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    const DWORD acl_size = static_cast<DWORD>(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) -
                                              sizeof(DWORD) + ::GetLengthSid(sid));
    acl_.resize((acl_size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    auto* acl = reinterpret_cast<PACL>(acl_.data());
    return ::InitializeAcl(acl, acl_size, ACL_REVISION) &&
           ::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
           ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
           ::SetSecurityDescriptorDacl(&descriptor_, /*bDaclPresent=*/TRUE, acl,
                                       /*bDaclDefaulted=*/FALSE) &&
           ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  }
  SECURITY_ATTRIBUTES* attributes() {
    attributes_ = {sizeof attributes_, &descriptor_, /*bInheritHandle=*/FALSE};
    return &attributes_;
  }

 private:
  std::vector<std::uint64_t> user_;
  std::vector<std::uint64_t> acl_;
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
};

}  // namespace

PackageStatus CreateKeyFile(const std::wstring& path) {
  SecureBuffer<std::uint8_t> key(kKeySize);
  if (!RandomBytes(key.data(), key.size())) return {false, "Unable to generate a key"};
  OwnerOnlySecurity security;
  if (!security.Init()) return {false, "Unable to create the key file"};
  // Never replace a key: whatever it sealed would be lost with it. Nobody
  // else opens the file while it is written.
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                                security.attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                /*hTemplateFile=*/nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    return {false, error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                       ? "The key file already exists"
                       : "Unable to create the key file"};
  }
  if (!SetDeleteOnClose(file.get(), true)) {
    ::DeleteFileW(path.c_str());
    return {false, "Unable to write the key file"};
  }
  // Any failure from here closes the handle with the mark still set.
  if (!WriteAll(file.get(), key.data(), key.size()) || !CurrentFileOperations().flush(file.get()) ||
      !SetDeleteOnClose(file.get(), false)) {
    return {false, "Unable to write the key file"};
  }
  return {true, std::string()};
}

}  // namespace tw::security
