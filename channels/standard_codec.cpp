#include "channels/standard_codec.h"

#include <bit>
#include <cstring>
#include <iostream>
#include <string>
#include <utility>

namespace flutter {

// The format is little-endian and the codec copies numbers as they lie in
// memory; both targets (x86-64 Windows and the host) are little-endian.
static_assert(std::endian::native == std::endian::little,
              "the standard codec copies numbers in their in-memory order");

namespace {

enum Tag : uint8_t {
  kTagNull = 0,
  kTagTrue = 1,
  kTagFalse = 2,
  kTagInt32 = 3,
  kTagInt64 = 4,
  kTagLargeInt = 5,  // read as a string; never written
  kTagDouble = 6,
  kTagString = 7,
  kTagUInt8List = 8,
  kTagInt32List = 9,
  kTagInt64List = 10,
  kTagFloat64List = 11,
  kTagList = 12,
  kTagMap = 13,
  kTagFloat32List = 14,
};

// Size field: one byte below kSize16, else a marker and 2 or 4 bytes.
constexpr uint8_t kSize16 = 254;
constexpr uint8_t kSize32 = 255;

void ReportInvalidRead() {
  std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
}

// Bookkeeping while a list or map is being read. The serializer itself is
// stateless and shared, so this lives per thread; a scope restores it on the
// way out (also when an element's read throws).
//
// depth counts the lists and maps open on this thread. owed counts the
// bytes that the elements not yet started of the open containers need at
// least (one per list element, one per map key and one per map value); it
// belongs to one reader, so that a nested decode of another buffer (from a
// derived serializer) starts from nothing.
struct ReadState {
  int depth = 0;
  const ByteStreamReader* reader = nullptr;
  uint64_t owed = 0;
};
thread_local ReadState t_read_state;

uint64_t OwedBy(const ByteStreamReader* stream) {
  return t_read_state.reader == stream ? t_read_state.owed : 0;
}

// Whether count items of unit bytes each fit in what remains of the stream
// once the bytes owed to later elements are set aside.
bool CountFits(const ByteStreamReader* stream, uint64_t count, uint64_t unit) {
  const uint64_t remaining = stream->RemainingBytes();
  const uint64_t owed = OwedBy(stream);
  if (owed > remaining) return count == 0;
  // count <= kMaxSize and unit <= 8: the product cannot overflow.
  return count * unit <= remaining - owed;
}

class ContainerScope {
 public:
  ContainerScope(const ByteStreamReader* stream, uint64_t owed_bytes) : saved_(t_read_state) {
    if (t_read_state.reader != stream) {
      t_read_state.reader = stream;
      t_read_state.owed = 0;
    }
    t_read_state.owed += owed_bytes;
    ++t_read_state.depth;
  }
  ~ContainerScope() { t_read_state = saved_; }
  ContainerScope(const ContainerScope&) = delete;
  ContainerScope& operator=(const ContainerScope&) = delete;

  // One owed byte is now being read.
  void Start() {
    if (t_read_state.owed != 0) --t_read_state.owed;
  }

 private:
  ReadState saved_;
};

template <typename T>
T ReadScalar(ByteStreamReader* stream) {
  T value{};  // stays 0 when the read fails
  stream->ReadBytes(reinterpret_cast<uint8_t*>(&value), sizeof(T));
  return value;
}

template <typename T>
void WriteScalar(T value, ByteStreamWriter* stream) {
  stream->WriteBytes(reinterpret_cast<const uint8_t*>(&value), sizeof(T));
}

// Bytes and strings: count bytes, no padding.
template <typename Container>
Container ReadByteSequence(const StandardCodecSerializer& serializer, ByteStreamReader* stream) {
  const size_t size = serializer.ReadSize(stream);
  if (!CountFits(stream, size, 1)) {
    ReportInvalidRead();
    return Container();
  }
  Container result(size, 0);
  stream->ReadBytes(reinterpret_cast<uint8_t*>(result.data()), size);
  return result;
}

// Typed arrays: size, padding to the element size (always, also for an
// empty array), elements.
template <typename T>
std::vector<T> ReadTypedArray(const StandardCodecSerializer& serializer, ByteStreamReader* stream) {
  const size_t count = serializer.ReadSize(stream);
  stream->ReadPadding(sizeof(T));
  if (!CountFits(stream, count, sizeof(T))) {
    ReportInvalidRead();
    return std::vector<T>();
  }
  std::vector<T> result(count);
  stream->ReadBytes(reinterpret_cast<uint8_t*>(result.data()), count * sizeof(T));
  return result;
}

// A count that the size field cannot hold: the value is replaced by a null,
// so that the output stays a well-formed message. Checked before the tag.
bool WriteOversizedAsNull(uint64_t size, ByteStreamWriter* stream) {
  if (size <= StandardCodecSerializer::kMaxSize) return false;
  std::cerr << "Size too large in StandardCodecSerializer::WriteValue: " << size << std::endl;
  stream->WriteByte(kTagNull);
  return true;
}

template <typename T>
void WriteTypedArray(uint8_t tag, const std::vector<T>& array,
                     const StandardCodecSerializer& serializer, ByteStreamWriter* stream) {
  if (WriteOversizedAsNull(array.size(), stream)) return;
  stream->WriteByte(tag);
  serializer.WriteSize(array.size(), stream);
  // Padded also when empty: the reader always skips this padding, so an
  // empty array written without it would swallow the next value's tag.
  stream->WritePadding(sizeof(T));
  if (array.empty()) return;
  stream->WriteBytes(reinterpret_cast<const uint8_t*>(array.data()), array.size() * sizeof(T));
}

}  // namespace

// ByteBufferStreamReader

uint8_t ByteBufferStreamReader::ReadByte() {
  if (position_ >= size_) {
    ReportInvalidRead();
    return 0;
  }
  return data_[position_++];
}

void ByteBufferStreamReader::ReadBytes(uint8_t* destination, size_t count) {
  if (count == 0) return;
  if (position_ > size_ || count > size_ - position_) {
    ReportInvalidRead();
    return;
  }
  std::memcpy(destination, data_ + position_, count);
  position_ += count;
}

void ByteBufferStreamReader::ReadPadding(uint8_t alignment) {
  if (alignment < 2) return;
  const uint64_t r = position_ % alignment;
  if (r != 0) position_ += alignment - r;
}

uint64_t ByteBufferStreamReader::RemainingBytes() const {
  return position_ >= size_ ? 0 : size_ - position_;
}

// ByteBufferStreamWriter

void ByteBufferStreamWriter::WriteByte(uint8_t byte) { buffer_->push_back(byte); }

void ByteBufferStreamWriter::WriteBytes(const uint8_t* source, size_t count) {
  if (count == 0) return;
  buffer_->insert(buffer_->end(), source, source + count);
}

void ByteBufferStreamWriter::WritePadding(uint8_t alignment) {
  if (alignment < 2) return;
  const size_t r = buffer_->size() % alignment;
  if (r == 0) return;
  for (size_t i = r; i < alignment; ++i) WriteByte(0);
}

// StandardCodecSerializer

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  // Leaked on purpose: codecs registered against it may be used until the
  // process ends, after static destructors have run.
  static const StandardCodecSerializer* const instance = new StandardCodecSerializer();
  return *instance;
}

EncodableValue StandardCodecSerializer::ReadValue(ByteStreamReader* stream) const {
  const uint8_t type = stream->ReadByte();
  return ReadValueOfType(type, stream);
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  const uint8_t byte = stream->ReadByte();
  if (byte < kSize16) return byte;
  if (byte == kSize16) return ReadScalar<uint16_t>(stream);
  return ReadScalar<uint32_t>(stream);
}

void StandardCodecSerializer::WriteSize(size_t size, ByteStreamWriter* stream) const {
  if (static_cast<uint64_t>(size) > kMaxSize) {
    std::cerr << "Size too large in StandardCodecSerializer::WriteSize: " << size << std::endl;
    return;
  }
  if (size < kSize16) {
    stream->WriteByte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    stream->WriteByte(kSize16);
    WriteScalar(static_cast<uint16_t>(size), stream);
  } else {
    stream->WriteByte(kSize32);
    WriteScalar(static_cast<uint32_t>(size), stream);
  }
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  switch (value.index()) {
    case EncodableValue::kNull:
      stream->WriteByte(kTagNull);
      return;
    case EncodableValue::kBool:
      stream->WriteByte(*value.GetIf<bool>() ? kTagTrue : kTagFalse);
      return;
    case EncodableValue::kInt32:
      stream->WriteByte(kTagInt32);
      WriteScalar(*value.GetIf<int32_t>(), stream);
      return;
    case EncodableValue::kInt64:
      stream->WriteByte(kTagInt64);
      WriteScalar(*value.GetIf<int64_t>(), stream);
      return;
    case EncodableValue::kDouble:
      stream->WriteByte(kTagDouble);
      stream->WritePadding(8);
      WriteScalar(*value.GetIf<double>(), stream);
      return;
    case EncodableValue::kString: {
      const auto& s = *value.GetIf<std::string>();
      if (WriteOversizedAsNull(s.size(), stream)) return;
      stream->WriteByte(kTagString);
      WriteSize(s.size(), stream);
      if (!s.empty()) stream->WriteBytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
      return;
    }
    case EncodableValue::kUInt8List: {
      const auto& bytes = *value.GetIf<std::vector<uint8_t>>();
      if (WriteOversizedAsNull(bytes.size(), stream)) return;
      stream->WriteByte(kTagUInt8List);
      WriteSize(bytes.size(), stream);
      if (!bytes.empty()) stream->WriteBytes(bytes.data(), bytes.size());
      return;
    }
    case EncodableValue::kInt32List:
      WriteTypedArray(kTagInt32List, *value.GetIf<std::vector<int32_t>>(), *this, stream);
      return;
    case EncodableValue::kInt64List:
      WriteTypedArray(kTagInt64List, *value.GetIf<std::vector<int64_t>>(), *this, stream);
      return;
    case EncodableValue::kFloat64List:
      WriteTypedArray(kTagFloat64List, *value.GetIf<std::vector<double>>(), *this, stream);
      return;
    case EncodableValue::kList: {
      const auto& list = *value.GetIf<EncodableList>();
      if (WriteOversizedAsNull(list.size(), stream)) return;
      stream->WriteByte(kTagList);
      WriteSize(list.size(), stream);
      for (const EncodableValue& element : list) WriteValue(element, stream);
      return;
    }
    case EncodableValue::kMap: {
      const auto& map = *value.GetIf<EncodableMap>();
      if (WriteOversizedAsNull(map.size(), stream)) return;
      stream->WriteByte(kTagMap);
      WriteSize(map.size(), stream);
      for (const auto& [key, element] : map) {
        WriteValue(key, stream);
        WriteValue(element, stream);
      }
      return;
    }
    case EncodableValue::kCustom:
      stream->WriteByte(kTagNull);
      std::cerr << "Unhandled custom type in StandardCodecSerializer::WriteValue. "
                << "Custom types require codec extensions." << std::endl;
      return;
    case EncodableValue::kFloat32List:
      WriteTypedArray(kTagFloat32List, *value.GetIf<std::vector<float>>(), *this, stream);
      return;
  }
}

EncodableValue StandardCodecSerializer::ReadValueOfType(uint8_t type,
                                                        ByteStreamReader* stream) const {
  switch (type) {
    case kTagNull:
      return EncodableValue();
    case kTagTrue:
      return EncodableValue(true);
    case kTagFalse:
      return EncodableValue(false);
    case kTagInt32:
      return EncodableValue(ReadScalar<int32_t>(stream));
    case kTagInt64:
      return EncodableValue(ReadScalar<int64_t>(stream));
    case kTagDouble:
      stream->ReadPadding(8);
      return EncodableValue(ReadScalar<double>(stream));
    case kTagLargeInt:
    case kTagString:
      return EncodableValue(ReadByteSequence<std::string>(*this, stream));
    case kTagUInt8List:
      return EncodableValue(ReadByteSequence<std::vector<uint8_t>>(*this, stream));
    case kTagInt32List:
      return EncodableValue(ReadTypedArray<int32_t>(*this, stream));
    case kTagInt64List:
      return EncodableValue(ReadTypedArray<int64_t>(*this, stream));
    case kTagFloat64List:
      return EncodableValue(ReadTypedArray<double>(*this, stream));
    case kTagFloat32List:
      return EncodableValue(ReadTypedArray<float>(*this, stream));
    case kTagList:
    case kTagMap:
      break;
    default:
      std::cerr << "Unknown type in StandardCodecSerializer::ReadValueOfType: "
                << static_cast<int>(type) << std::endl;
      return EncodableValue();
  }

  if (t_read_state.depth >= kMaxNestingDepth) {
    std::cerr << "Nesting too deep in StandardCodecSerializer::ReadValueOfType" << std::endl;
    return EncodableValue();
  }
  const size_t count = ReadSize(stream);
  if (type == kTagList) {
    if (!CountFits(stream, count, 1)) {
      ReportInvalidRead();
      return EncodableValue(EncodableList());
    }
    ContainerScope scope(stream, count);
    EncodableList list;
    list.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      scope.Start();
      const uint8_t element_type = stream->ReadByte();
      list.push_back(ReadValueOfType(element_type, stream));
    }
    return EncodableValue(std::move(list));
  }

  if (!CountFits(stream, count, 2)) {
    ReportInvalidRead();
    return EncodableValue(EncodableMap());
  }
  ContainerScope scope(stream, uint64_t{count} * 2);
  EncodableMap map;
  for (size_t i = 0; i < count; ++i) {
    scope.Start();
    const uint8_t key_type = stream->ReadByte();
    EncodableValue key = ReadValueOfType(key_type, stream);
    scope.Start();
    const uint8_t value_type = stream->ReadByte();
    EncodableValue element = ReadValueOfType(value_type, stream);
    // Encoders write keys in ascending order, so the end is the right hint
    // almost always. An equivalent key already present keeps its entry: the
    // first occurrence wins.
    map.emplace_hint(map.end(), std::move(key), std::move(element));
  }
  return EncodableValue(std::move(map));
}

}  // namespace flutter
