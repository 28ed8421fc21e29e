// Reads an encrypted package (layout in security/package_format.h) record
// by record from a byte source, checking everything that can be checked
// without the key: the header, each length against its bounds before any
// buffer is made, and that every record is whole.
//
// Portable (no <windows.h>). A reader never reads further once it has met a
// problem or the end.
//
// Example:
//   PackageReader reader(&source);
//   if (!reader.ReadHeader()) ...              // not a package
//   ChunkRecord record;
//   std::vector<std::uint8_t> ciphertext;
//   while (reader.Next(&record, &ciphertext)) ...  // record.length bytes
//   if (reader.problem() != PackageReader::Problem::kNone) ...
#ifndef SECURITY_PACKAGE_READER_H_
#define SECURITY_PACKAGE_READER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "security/byte_source.h"
#include "security/package_format.h"

namespace tw::security {

// The fixed part of one record; the ciphertext goes where the caller says.
struct ChunkRecord {
  std::uint32_t length = 0;
  std::uint8_t nonce[kNonceSize] = {};
  std::uint8_t tag[kTagSize] = {};
};

class PackageReader {
 public:
  enum class Problem {
    kNone,
    kInvalidHeader,    // shorter than the header, another header, or unreadable
    kTruncatedRecord,  // a record cut short by the end of the source
    kInvalidLength,    // a length of 0 or above kMaxChunkSize
    kReadError,        // the source failed inside the records
  };

  // `source` must outlive the reader.
  explicit PackageReader(ByteSource* source) : source_(source) {}

  PackageReader(const PackageReader&) = delete;
  PackageReader& operator=(const PackageReader&) = delete;

  // Reads and checks the 8-byte header; false with kInvalidHeader.
  bool ReadHeader();

  // Reads the next record into `*record` and its ciphertext into the first
  // record->length bytes of `*ciphertext`, which grows to the largest chunk
  // and never shrinks (null: the ciphertext is read and dropped). False at
  // the end of the source, when it falls on a record boundary (problem()
  // stays kNone), and on a problem. Requires a successful ReadHeader().
  bool Next(ChunkRecord* record, std::vector<std::uint8_t>* ciphertext);

  Problem problem() const { return problem_; }
  // The package bytes consumed by the header and the whole records so far.
  std::uint64_t consumed() const { return consumed_; }
  // After kInvalidLength, the length found.
  std::uint32_t invalid_length() const { return invalid_length_; }

 private:
  // Reads exactly `size` bytes; false (with the problem set) when the source
  // ends first or fails.
  bool ReadAll(void* data, std::size_t size);
  // Reads and drops `size` bytes.
  bool Skip(std::size_t size);
  bool Fail(Problem problem);

  ByteSource* source_;
  Problem problem_ = Problem::kNone;
  bool done_ = false;
  std::uint64_t consumed_ = 0;
  std::uint32_t invalid_length_ = 0;
};

}  // namespace tw::security

#endif  // SECURITY_PACKAGE_READER_H_
