#include "security/package_writer.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "security/random_bytes.h"
#include "security/replacement_file.h"
#include "util/file_io.h"
#include "util/secure_buffer.h"
#include "util/win_handles.h"

namespace tw::security {

bool ChunkSealer::Init(const std::uint8_t* key, std::size_t key_size, std::string* error) {
  if (key_size != kKeySize) {
    *error = "Invalid AES key";
    return false;
  }
  switch (aes_.Init(key)) {
    case AesGcmKey::Status::kOk:
      return true;
    case AesGcmKey::Status::kUnavailable:
      *error = "AES unavailable";
      return false;
    case AesGcmKey::Status::kSetupFailed:
      break;
  }
  *error = "AES key setup failed";
  return false;
}

bool ChunkSealer::Seal(const std::uint8_t* plain, std::uint32_t length, const std::uint8_t* nonce,
                       std::vector<std::uint8_t>* record) {
  if (!aes_ || !IsValidChunkLength(length)) return false;
  const std::size_t start = record->size();
  record->resize(start + kRecordHeaderSize + length);
  std::uint8_t* r = record->data() + start;
  EncodeChunkLength(length, r);
  std::memcpy(r + kLengthSize, nonce, kNonceSize);
  if (!aes_.Seal(nonce, plain, length, r + kRecordHeaderSize, r + kLengthSize + kNonceSize)) {
    record->resize(start);
    return false;
  }
  return true;
}

namespace {

// Seals `in` from its current position to its end into records appended to
// `out`; null, or the failure's message.
const char* SealChunks(HANDLE in, ChunkSealer* sealer, std::uint32_t chunk_size,
                       std::uint64_t total, const PackageProgress& progress, ReplacementFile* out) {
  SecureBuffer<std::uint8_t> chunk(chunk_size);
  std::vector<std::uint8_t> record;
  record.reserve(kRecordHeaderSize + chunk_size);
  std::uint64_t done = 0;
  for (;;) {
    // A whole chunk: ReadFile may return less than asked before the end.
    std::size_t filled = 0;
    if (!ReadUpTo(in, chunk.data(), chunk_size, &filled)) return "Unable to read the plain file";
    if (filled == 0) return nullptr;
    std::uint8_t nonce[kNonceSize];
    record.clear();
    if (!RandomBytes(nonce, sizeof nonce) ||
        !sealer->Seal(chunk.data(), static_cast<std::uint32_t>(filled), nonce, &record)) {
      return "Unable to encrypt a chunk";
    }
    if (!out->Write(record.data(), record.size())) return "Unable to write the package file";
    done += filled;
    if (progress) progress(done, total);
    if (filled < chunk_size) return nullptr;
  }
}

}  // namespace

PackageStatus SealPackageFile(const std::wstring& plain, const std::wstring& package,
                              const std::uint8_t* key, std::size_t key_size,
                              std::uint32_t chunk_size, const PackageProgress& progress) {
  if (!IsValidChunkLength(chunk_size)) return {false, "Chunk size must be 1 to 1048576 bytes"};
  ChunkSealer sealer;
  std::string error;
  if (!sealer.Init(key, key_size, &error)) return {false, error};

  UniqueFile in(::CreateFileW(plain.c_str(), GENERIC_READ, FILE_SHARE_READ,
                              /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, /*hTemplateFile=*/nullptr));
  if (!in) return {false, "Unable to open the plain file"};
  LARGE_INTEGER total = {};
  if (!::GetFileSizeEx(in.get(), &total)) total.QuadPart = 0;

  ReplacementFile out;
  if (!out.Create(package)) return {false, "Unable to create the package file"};
  if (!out.Write(kPackageHeader, kPackageHeaderSize))
    return {false, "Unable to write the package file"};
  if (const char* failure =
          SealChunks(in.get(), &sealer, chunk_size, static_cast<std::uint64_t>(total.QuadPart),
                     progress, &out)) {
    return {false, failure};
  }
  if (!out.Commit()) return {false, "Unable to write the package file"};
  return {true, std::string()};
}

}  // namespace tw::security
