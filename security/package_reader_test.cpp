// The package reader over memory and over a source that fails on demand:
// whole packages, every cut, bad lengths and headers, read errors.
#include "security/package_reader.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "security/byte_source.h"
#include "security/testing/package_bytes.h"

namespace tw::security::test {
namespace {

using Problem = PackageReader::Problem;

// Gives the bytes of `data` in pieces of at most `piece` bytes, as a pipe or
// a slow disk may, and fails every read once `fail_after` bytes are out.
class ChoppySource : public ByteSource {
 public:
  ChoppySource(const Bytes& data, std::size_t piece, std::size_t fail_after = SIZE_MAX)
      : data_(data), piece_(piece), fail_after_(fail_after) {}

  bool Read(void* out, std::size_t size, std::size_t* got) override {
    ++reads_;
    *got = 0;
    auto* p = static_cast<std::uint8_t*>(out);
    while (*got < size) {
      if (offset_ >= fail_after_) return false;
      std::size_t n = size - *got;
      if (n > piece_) n = piece_;
      if (n > data_.size() - offset_) n = data_.size() - offset_;
      if (n > fail_after_ - offset_) n = fail_after_ - offset_;
      if (n == 0) break;
      std::copy(data_.begin() + static_cast<std::ptrdiff_t>(offset_),
                data_.begin() + static_cast<std::ptrdiff_t>(offset_ + n), p + *got);
      offset_ += n;
      *got += n;
    }
    return true;
  }
  int reads() const { return reads_; }

 private:
  const Bytes& data_;
  std::size_t piece_;
  std::size_t fail_after_;
  std::size_t offset_ = 0;
  int reads_ = 0;
};

struct Outcome {
  bool header = false;
  std::vector<std::uint32_t> lengths;
  Bytes ciphertexts;  // each record's ciphertext, one after the other
  Problem problem = Problem::kNone;
  std::uint64_t consumed = 0;
};

Outcome ReadAll(ByteSource* source, bool keep_ciphertext = true) {
  Outcome outcome;
  PackageReader reader(source);
  outcome.header = reader.ReadHeader();
  if (outcome.header) {
    ChunkRecord record;
    Bytes ciphertext;
    while (reader.Next(&record, keep_ciphertext ? &ciphertext : nullptr)) {
      outcome.lengths.push_back(record.length);
      if (!keep_ciphertext) continue;
      outcome.ciphertexts.insert(outcome.ciphertexts.end(), ciphertext.begin(),
                                 ciphertext.begin() + record.length);
    }
  }
  outcome.problem = reader.problem();
  outcome.consumed = reader.consumed();
  return outcome;
}

TEST(PackageReaderTest, YieldsEveryRecordWithItsFields) {
  const Bytes first = UnsealedRecord(5, 1);
  const Bytes second = UnsealedRecord(1, 3);
  const Bytes third = UnsealedRecord(300, 5);
  const Bytes package = Concat({Header(), first, second, third});
  for (std::size_t piece : {std::size_t{1}, std::size_t{7}, package.size()}) {
    SCOPED_TRACE(piece);
    ChoppySource source(package, piece);
    PackageReader reader(&source);
    ASSERT_TRUE(reader.ReadHeader());
    EXPECT_EQ(reader.consumed(), 8u);
    ChunkRecord record;
    Bytes ciphertext;
    std::uint64_t offset = 8;
    for (const Bytes* expected : {&first, &second, &third}) {
      ASSERT_TRUE(reader.Next(&record, &ciphertext));
      EXPECT_EQ(record.length, expected->size() - 32);
      EXPECT_EQ(Bytes(record.nonce, record.nonce + 12),
                Bytes(expected->begin() + 4, expected->begin() + 16));
      EXPECT_EQ(Bytes(record.tag, record.tag + 16),
                Bytes(expected->begin() + 16, expected->begin() + 32));
      EXPECT_EQ(Bytes(ciphertext.begin(), ciphertext.begin() + record.length),
                Bytes(expected->begin() + 32, expected->end()));
      offset += expected->size();
      EXPECT_EQ(reader.consumed(), offset);
    }
    // The buffer grew to the largest chunk and did not shrink.
    EXPECT_EQ(ciphertext.size(), 300u);
    EXPECT_FALSE(reader.Next(&record, &ciphertext));
    EXPECT_EQ(reader.problem(), Problem::kNone);
    EXPECT_EQ(reader.consumed(), package.size());
  }
}

TEST(PackageReaderTest, LengthsAtTheBoundsAndBeyond) {
  struct Case {
    std::uint32_t length;
    bool valid;
  };
  for (const Case& c : {Case{1, true}, Case{1048576, true}, Case{0, false}, Case{1048577, false},
                        Case{0xFFFFFFFF, false}}) {
    SCOPED_TRACE(c.length);
    // A valid length gets its whole record; an invalid one only the fixed
    // part, so that only the bound can refuse it.
    const Bytes package =
        c.valid ? Concat({Header(), UnsealedRecord(c.length, 1)})
                : Concat({Header(), LengthField(c.length), Pattern(28, 1), Pattern(64, 2)});
    MemoryByteSource source(package.data(), package.size());
    PackageReader reader(&source);
    ASSERT_TRUE(reader.ReadHeader());
    ChunkRecord record;
    Bytes ciphertext;
    EXPECT_EQ(reader.Next(&record, &ciphertext), c.valid);
    if (c.valid) {
      EXPECT_EQ(record.length, c.length);
      EXPECT_EQ(reader.problem(), Problem::kNone);
    } else {
      EXPECT_EQ(reader.problem(), Problem::kInvalidLength);
      EXPECT_EQ(reader.invalid_length(), c.length);
      EXPECT_EQ(reader.consumed(), 8u);
      // Refused before any buffer was made for it.
      EXPECT_EQ(ciphertext.size(), 0u);
    }
  }
}

TEST(PackageReaderTest, EveryCutEndsCleanlyOnlyOnARecordBoundary) {
  const Bytes package =
      Concat({Header(), UnsealedRecord(3, 1), UnsealedRecord(9, 3), UnsealedRecord(2, 5)});
  const std::vector<std::size_t> boundaries = {8, 8 + 35, 8 + 35 + 41, package.size()};
  for (std::size_t cut = 0; cut <= package.size(); ++cut) {
    SCOPED_TRACE(cut);
    const Bytes prefix(package.begin(), package.begin() + static_cast<std::ptrdiff_t>(cut));
    for (bool keep : {true, false}) {
      MemoryByteSource source(prefix.data(), prefix.size());
      const Outcome outcome = ReadAll(&source, keep);
      if (cut < 8) {
        EXPECT_FALSE(outcome.header);
        EXPECT_EQ(outcome.problem, Problem::kInvalidHeader);
        continue;
      }
      ASSERT_TRUE(outcome.header);
      std::size_t whole = 0;
      while (whole + 1 < boundaries.size() && boundaries[whole + 1] <= cut) ++whole;
      EXPECT_EQ(outcome.lengths.size(), whole);
      EXPECT_EQ(outcome.consumed, boundaries[whole]);
      const bool on_boundary = boundaries[whole] == cut;
      EXPECT_EQ(outcome.problem, on_boundary ? Problem::kNone : Problem::kTruncatedRecord);
    }
  }
}

TEST(PackageReaderTest, BadHeaders) {
  const Bytes good = Concat({Header(), UnsealedRecord(4, 1)});
  struct Case {
    const char* name;
    std::size_t index;
    std::uint8_t value;
  };
  const Case cases[] = {{"carriage return ends it", 7, '\r'},
                        {"lower case", 0, 'v'},
                        {"another version", 6, '2'},
                        {"NUL inside", 3, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bad = good;
    bad[c.index] = c.value;
    MemoryByteSource source(bad.data(), bad.size());
    PackageReader reader(&source);
    EXPECT_FALSE(reader.ReadHeader());
    EXPECT_EQ(reader.problem(), Problem::kInvalidHeader);
  }
}

TEST(PackageReaderTest, ReadErrorsInTheHeaderAndInTheRecords) {
  const Bytes package = Concat({Header(), UnsealedRecord(100, 1), UnsealedRecord(100, 3)});
  struct Case {
    const char* name;
    std::size_t fail_after;
    bool header;
    Problem problem;
    std::size_t records;
  };
  const Case cases[] = {
      {"nothing readable", 0, false, Problem::kInvalidHeader, 0},
      {"inside the header", 5, false, Problem::kInvalidHeader, 0},
      {"right after the header", 8, true, Problem::kReadError, 0},
      {"inside the first record's fixed part", 8 + 20, true, Problem::kReadError, 0},
      {"inside the second ciphertext", 8 + 132 + 32 + 50, true, Problem::kReadError, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool keep : {true, false}) {
      ChoppySource source(package, 13, c.fail_after);
      const Outcome outcome = ReadAll(&source, keep);
      EXPECT_EQ(outcome.header, c.header);
      EXPECT_EQ(outcome.problem, c.problem);
      EXPECT_EQ(outcome.lengths.size(), c.records);
    }
  }
}

TEST(PackageReaderTest, ReadsNothingMoreAfterTheEndOrAProblem) {
  const Bytes ended = Concat({Header(), UnsealedRecord(4, 1)});
  const Bytes broken = Concat({Header(), LengthField(0), Pattern(40, 1)});
  for (const Bytes* package : {&ended, &broken}) {
    ChoppySource source(*package, package->size());
    PackageReader reader(&source);
    ASSERT_TRUE(reader.ReadHeader());
    ChunkRecord record;
    Bytes ciphertext;
    while (reader.Next(&record, &ciphertext)) {
    }
    const int reads = source.reads();
    const Problem problem = reader.problem();
    EXPECT_FALSE(reader.Next(&record, &ciphertext));
    EXPECT_EQ(source.reads(), reads);
    EXPECT_EQ(reader.problem(), problem);
  }
}

TEST(PackageReaderTest, CiphertextDroppedOrKeptGivesTheSameRecords) {
  const Bytes package = Concat({Header(), UnsealedRecord(5000, 1), UnsealedRecord(4097, 3)});
  MemoryByteSource kept_source(package.data(), package.size());
  MemoryByteSource dropped_source(package.data(), package.size());
  const Outcome kept = ReadAll(&kept_source, true);
  const Outcome dropped = ReadAll(&dropped_source, false);
  EXPECT_EQ(kept.lengths, (std::vector<std::uint32_t>{5000, 4097}));
  EXPECT_EQ(dropped.lengths, kept.lengths);
  EXPECT_EQ(dropped.consumed, kept.consumed);
  EXPECT_EQ(kept.ciphertexts, Concat({Pattern(5000, 2), Pattern(4097, 4)}));
}

}  // namespace
}  // namespace tw::security::test
