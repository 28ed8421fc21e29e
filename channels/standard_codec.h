// The standard message codec: EncodableValue to bytes and back.
//
// Every value is one tag byte followed by its payload. Numbers are
// little-endian in their in-memory representation (two's complement
// integers, IEEE 754 floating point). Padding bytes are zero on write and
// skipped unread on read; "padding to N" is counted from the first byte of
// the whole message.
//
//   tag  kind               payload
//   0    null               -
//   1/2  true/false         -
//   3    int32              4 bytes
//   4    int64              8 bytes
//   5    string (read only) as tag 7
//   6    double             padding to 8, 8 bytes
//   7    string             size, bytes
//   8    byte array         size, bytes
//   9    int32 array        size, padding to 4, size x 4 bytes
//   10   int64 array        size, padding to 8, size x 8 bytes
//   11   float64 array      size, padding to 8, size x 8 bytes
//   12   list               size, each element as a complete value
//   13   map                size, key and value of each entry as complete values
//   14   float32 array      size, padding to 4, size x 4 bytes
//
// The size field is one byte for 0-253, byte 254 and a 16-bit count for
// 254-65535, byte 255 and a 32-bit count above. Writer and reader both pad
// after the size of a typed array, empty or not, so every written message
// reads back as itself.
//
// Problems never raise and never stop decoding or encoding: each one writes
// one fixed line to standard error (newline, flush) and yields a degraded
// value:
//   "Invalid read in StandardCodecByteStreamReader"
//       a read at or past the end (byte 0, scalars 0), or a declared count
//       that the remaining bytes cannot hold (see below);
//   "Unknown type in StandardCodecSerializer::ReadValueOfType: <tag>"
//       tag above 14: null, nothing consumed after the tag;
//   "Nesting too deep in StandardCodecSerializer::ReadValueOfType"
//       a list or map that would open level kMaxNestingDepth + 1: null,
//       nothing consumed after the tag;
//   "Unhandled custom type in StandardCodecSerializer::WriteValue. Custom types require codec
//   extensions."
//       a custom value on write: tag 0 (null) in its place;
//   "Size too large in StandardCodecSerializer::WriteValue: <count>"
//       a string, array, list or map longer than kMaxSize on write: tag 0
//       (null) in its place, so the output stays a well-formed message;
//   "Size too large in StandardCodecSerializer::WriteSize: <count>"
//       WriteSize called with a count above kMaxSize: nothing written.
//
// Hostile input. A message may be corrupt, so a declared count is checked
// before anything is allocated for it. The bytes that remain after the
// count must hold the value's payload AND at least one byte for every
// element still owed to the enclosing lists (two per map entry: key and
// value), because those elements follow it:
//   strings, byte arrays:  count bytes;
//   typed arrays:          count x element size, measured after the padding;
//   lists:                 one byte per element (its tag);
//   maps:                  two bytes per entry.
// A count that fails this check is an invalid read: one invalid-read line,
// an empty value of that kind, and the reader stays where it was (after the
// size field, for typed arrays after the padding). Well-formed messages
// always pass, so they decode exactly as the table above says; a truncated
// message still decodes padded out with nulls and zeros wherever its counts
// fit. This bounds the whole decoded tree by the message size: a 16-byte
// message claiming a 4 GiB string reads as "" at once.
//
// Example:
//   std::vector<uint8_t> bytes;
//   flutter::ByteBufferStreamWriter writer(&bytes);
//   const auto& serializer = flutter::StandardCodecSerializer::GetInstance();
//   serializer.WriteValue(flutter::EncodableValue("hi"), &writer);  // 07 02 68 69
//   flutter::ByteBufferStreamReader reader(bytes.data(), bytes.size());
//   flutter::EncodableValue value = serializer.ReadValue(&reader);
#ifndef CHANNELS_STANDARD_CODEC_H_
#define CHANNELS_STANDARD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "channels/encodable_value.h"

namespace flutter {

// An abstract source of bytes.
class ByteStreamReader {
 public:
  ByteStreamReader() = default;
  virtual ~ByteStreamReader() = default;
  ByteStreamReader(const ByteStreamReader&) = delete;
  ByteStreamReader& operator=(const ByteStreamReader&) = delete;

  // The next byte; at the end, 0 after the invalid-read line.
  virtual uint8_t ReadByte() = 0;
  // Copies count bytes to destination; when fewer remain, copies nothing,
  // does not move and writes the invalid-read line. A count of 0 always
  // succeeds.
  virtual void ReadBytes(uint8_t* destination, size_t count) = 0;
  // Skips to the next multiple of alignment, counted from the start of the
  // message. Not bounds-checked: the next read reports an overrun.
  virtual void ReadPadding(uint8_t alignment) = 0;

  // How many bytes are left to read; the serializer bounds declared counts
  // by it. A stream of unknown length keeps this default (no bound).
  virtual uint64_t RemainingBytes() const { return UINT64_MAX; }
};

// An abstract sink of bytes.
class ByteStreamWriter {
 public:
  ByteStreamWriter() = default;
  virtual ~ByteStreamWriter() = default;
  ByteStreamWriter(const ByteStreamWriter&) = delete;
  ByteStreamWriter& operator=(const ByteStreamWriter&) = delete;

  virtual void WriteByte(uint8_t byte) = 0;
  virtual void WriteBytes(const uint8_t* source, size_t count) = 0;
  // Appends zero bytes up to the next multiple of alignment, counted from
  // the start of the message.
  virtual void WritePadding(uint8_t alignment) = 0;
};

// Reads from a borrowed buffer; data must stay alive while reading.
class ByteBufferStreamReader : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t ReadByte() override;
  void ReadBytes(uint8_t* destination, size_t count) override;
  void ReadPadding(uint8_t alignment) override;
  uint64_t RemainingBytes() const override;

  // Offset of the next byte to read. Padding may move it past the end.
  uint64_t position() const { return position_; }

 private:
  const uint8_t* data_;
  uint64_t size_;
  uint64_t position_ = 0;
};

// Appends to a borrowed vector, which must outlive the writer. The current
// offset is the vector's size, so the vector starts empty for every message.
class ByteBufferStreamWriter : public ByteStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer) : buffer_(buffer) {}

  void WriteByte(uint8_t byte) override;
  void WriteBytes(const uint8_t* source, size_t count) override;
  void WritePadding(uint8_t alignment) override;

 private:
  std::vector<uint8_t>* buffer_;
};

// Writes and reads values in the standard format. Stateless; the standard
// instance is process-wide (GetInstance). A derived serializer may extend
// the format by overriding WriteValue and ReadValueOfType: nested elements
// go through those virtual operations, so an extension applies at every
// depth.
//
// Reading and writing may happen on any thread; the bookkeeping for nesting
// depth and owed bytes is per thread.
class StandardCodecSerializer {
 public:
  // Lists and maps nest at most this deep when read; a deeper one reads as
  // null with the nesting line. 128 levels keep the recursion far from any
  // thread's stack limit, including the 1 MiB default of Windows threads.
  static constexpr int kMaxNestingDepth = 128;
  // The widest size field holds 32 bits.
  static constexpr uint64_t kMaxSize = 0xFFFFFFFFu;

  virtual ~StandardCodecSerializer() = default;
  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;

  // The process-wide instance, created on first use and kept until exit.
  static const StandardCodecSerializer& GetInstance();

  // Writes one complete value (tag and payload).
  virtual void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const;

  // Reads the payload of a value whose tag has been read already.
  virtual EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const;

  // Reads one complete value: its tag, then ReadValueOfType.
  EncodableValue ReadValue(ByteStreamReader* stream) const;

  // The size field. A failed read yields 0.
  size_t ReadSize(ByteStreamReader* stream) const;
  // REQUIRES: size <= kMaxSize; a larger size writes its line and nothing
  // else.
  void WriteSize(size_t size, ByteStreamWriter* stream) const;

 protected:
  StandardCodecSerializer() = default;
};

}  // namespace flutter

#endif  // CHANNELS_STANDARD_CODEC_H_
