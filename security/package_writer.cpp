#include "security/package_writer.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

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
  if (!out.Write(kPackageHeader, kPackageHeaderSize)) return {false, "Unable to write the package file"};

  SecureBuffer<std::uint8_t> chunk(chunk_size);
  std::vector<std::uint8_t> record;
  record.reserve(kRecordHeaderSize + chunk_size);
  std::uint64_t done = 0;
  for (;;) {
    // Fill a whole chunk: ReadFile may return less than asked before the end.
    std::size_t filled = 0;
    while (filled < chunk_size) {
      DWORD got = 0;
      if (!::ReadFile(in.get(), chunk.data() + filled, static_cast<DWORD>(chunk_size - filled), &got,
                      nullptr)) {
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
    if (!out.Write(record.data(), record.size())) return {false, "Unable to write the package file"};
    done += filled;
    if (progress) progress(done, static_cast<std::uint64_t>(total.QuadPart));
    if (filled < chunk_size) break;
  }
  if (!out.Commit()) return {false, "Unable to write the package file"};
  return {true, std::string()};
}

}  // namespace tw::security
