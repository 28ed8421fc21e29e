// Reads arbitrary bytes as an encrypted package, whole and in small pieces,
// keeping the ciphertext and dropping it. Checks that every way gives the
// same records and the same problem, that the records laid back to back are
// exactly the bytes the reader consumed, that every length is within its
// bounds, and that a package without a problem was consumed to its end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "security/byte_source.h"
#include "security/package_format.h"
#include "security/package_reader.h"

namespace {

using tw::security::ByteSource;
using tw::security::ChunkRecord;
using tw::security::PackageReader;

// At most `piece` bytes per read, as a pipe or a slow disk gives them.
class PieceSource : public ByteSource {
 public:
  PieceSource(const std::uint8_t* data, std::size_t size, std::size_t piece)
      : data_(data), size_(size), piece_(piece) {}
  bool Read(void* out, std::size_t size, std::size_t* got) override {
    *got = 0;
    while (*got < size && offset_ < size_) {
      std::size_t n = size - *got;
      if (n > piece_) n = piece_;
      if (n > size_ - offset_) n = size_ - offset_;
      std::memcpy(static_cast<std::uint8_t*>(out) + *got, data_ + offset_, n);
      offset_ += n;
      *got += n;
    }
    return true;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t piece_;
  std::size_t offset_ = 0;
};

struct Outcome {
  bool header = false;
  std::vector<std::uint8_t> rebuilt;  // header and records as they were read
  PackageReader::Problem problem = PackageReader::Problem::kNone;
  std::uint64_t consumed = 0;
  std::size_t records = 0;
};

Outcome Read(ByteSource* source, bool keep_ciphertext) {
  Outcome outcome;
  PackageReader reader(source);
  outcome.header = reader.ReadHeader();
  if (outcome.header) {
    outcome.rebuilt.assign(tw::security::kPackageHeader,
                           tw::security::kPackageHeader + tw::security::kPackageHeaderSize);
    ChunkRecord record;
    std::vector<std::uint8_t> ciphertext;
    while (reader.Next(&record, keep_ciphertext ? &ciphertext : nullptr)) {
      if (!tw::security::IsValidChunkLength(record.length)) std::abort();
      ++outcome.records;
      std::uint8_t length[tw::security::kLengthSize];
      tw::security::EncodeChunkLength(record.length, length);
      outcome.rebuilt.insert(outcome.rebuilt.end(), length, length + sizeof length);
      outcome.rebuilt.insert(outcome.rebuilt.end(), record.nonce,
                             record.nonce + tw::security::kNonceSize);
      outcome.rebuilt.insert(outcome.rebuilt.end(), record.tag,
                             record.tag + tw::security::kTagSize);
      if (keep_ciphertext) {
        if (ciphertext.size() < record.length) std::abort();
        outcome.rebuilt.insert(outcome.rebuilt.end(), ciphertext.begin(),
                               ciphertext.begin() + record.length);
      }
    }
  }
  outcome.problem = reader.problem();
  outcome.consumed = reader.consumed();
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tw::security::MemoryByteSource whole(data, size);
  const Outcome kept = Read(&whole, /*keep_ciphertext=*/true);
  PieceSource pieces(data, size, size % 7 + 1);
  const Outcome in_pieces = Read(&pieces, /*keep_ciphertext=*/true);
  tw::security::MemoryByteSource again(data, size);
  const Outcome dropped = Read(&again, /*keep_ciphertext=*/false);

  for (const Outcome* other : {&in_pieces, &dropped}) {
    if (other->header != kept.header || other->problem != kept.problem ||
        other->consumed != kept.consumed || other->records != kept.records) {
      std::abort();
    }
  }
  if (kept.rebuilt != in_pieces.rebuilt) std::abort();
  if (kept.consumed > size) std::abort();
  if (kept.header) {
    // What was read is the input's first bytes, unchanged.
    if (kept.rebuilt.size() != kept.consumed ||
        std::memcmp(kept.rebuilt.data(), data, kept.rebuilt.size()) != 0) {
      std::abort();
    }
    if (kept.problem == PackageReader::Problem::kNone && kept.consumed != size) std::abort();
  } else if (kept.problem != PackageReader::Problem::kInvalidHeader) {
    std::abort();
  }
  if (kept.problem == PackageReader::Problem::kReadError) std::abort();  // memory never fails
  return 0;
}
