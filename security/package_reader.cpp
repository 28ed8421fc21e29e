#include "security/package_reader.h"

#include <cstring>

namespace tw::security {

bool PackageReader::ReadHeader() {
  std::uint8_t header[kPackageHeaderSize] = {};
  std::size_t got = 0;
  // A header that cannot be read is no package at all; only a record that
  // cannot be read counts against the package.
  if (!source_->Read(header, sizeof header, &got) || got != sizeof header ||
      std::memcmp(header, kPackageHeader, sizeof header) != 0) {
    return Fail(Problem::kInvalidHeader);
  }
  consumed_ = kPackageHeaderSize;
  return true;
}

bool PackageReader::Next(ChunkRecord* record, std::vector<std::uint8_t>* ciphertext) {
  if (done_) return false;
  // Length, nonce and tag in one read: an end that falls exactly here is
  // the package's end; anywhere else inside them, a record cut short.
  std::uint8_t fixed[kRecordHeaderSize];
  std::size_t got = 0;
  if (!source_->Read(fixed, sizeof fixed, &got)) return Fail(Problem::kReadError);
  if (got == 0) {
    done_ = true;
    return false;
  }
  if (got != sizeof fixed) return Fail(Problem::kTruncatedRecord);
  const std::uint32_t length = DecodeChunkLength(fixed);
  if (!IsValidChunkLength(length)) {
    invalid_length_ = length;
    return Fail(Problem::kInvalidLength);
  }
  record->length = length;
  std::memcpy(record->nonce, fixed + kLengthSize, kNonceSize);
  std::memcpy(record->tag, fixed + kLengthSize + kNonceSize, kTagSize);
  if (ciphertext == nullptr) {
    if (!Skip(length)) return false;
  } else {
    if (ciphertext->size() < length) ciphertext->assign(length, 0);
    if (!ReadAll(ciphertext->data(), length)) return false;
  }
  consumed_ += kRecordHeaderSize + length;
  return true;
}

bool PackageReader::ReadAll(void* data, std::size_t size) {
  std::size_t got = 0;
  if (!source_->Read(data, size, &got)) return Fail(Problem::kReadError);
  if (got != size) return Fail(Problem::kTruncatedRecord);
  return true;
}

bool PackageReader::Skip(std::size_t size) {
  std::uint8_t scratch[4096];
  while (size > 0) {
    const std::size_t piece = size < sizeof scratch ? size : sizeof scratch;
    if (!ReadAll(scratch, piece)) return false;
    size -= piece;
  }
  return true;
}

bool PackageReader::Fail(Problem problem) {
  problem_ = problem;
  done_ = true;
  return false;
}

}  // namespace tw::security
