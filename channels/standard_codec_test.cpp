#include "channels/standard_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "channels/testing/codec_support.h"

namespace flutter::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using V = EncodableValue;

const StandardCodecSerializer& Serializer() { return StandardCodecSerializer::GetInstance(); }

Bytes Encode(const V& value) {
  Bytes out;
  ByteBufferStreamWriter writer(&out);
  Serializer().WriteValue(value, &writer);
  return out;
}

struct Decoded {
  V value;
  uint64_t position;
  std::vector<std::string> lines;
};

Decoded Decode(const Bytes& bytes) {
  StderrCapture err;
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  V value = Serializer().ReadValue(&reader);
  return {std::move(value), reader.position(), err.TakeLines()};
}

V List(std::initializer_list<V> items) { return V(EncodableList(items)); }

// Depth of nested lists: 0 for a non-list, 1 for a list without list
// elements, and so on (the first element decides).
int ListDepth(const V& value) {
  int depth = 0;
  const V* current = &value;
  while (const auto* list = current->GetIf<EncodableList>()) {
    ++depth;
    if (list->empty()) break;
    current = &list->front();
  }
  return depth;
}

// Values whose encoding is fixed byte for byte, in both directions.
TEST(StandardCodecTest, GoldenVectorsEncodeAndDecode) {
  struct Case {
    const char* name;
    V value;
    Bytes bytes;
  };
  EncodableMap two_keys;
  two_keys.emplace(V("b"), V(int32_t{1}));
  two_keys.emplace(V("a"), V(int32_t{2}));
  const Case cases[] = {
      {"null", V(), {0x00}},
      {"true", V(true), {0x01}},
      {"false", V(false), {0x02}},
      {"int32 -2", V(int32_t{-2}), {0x03, 0xFE, 0xFF, 0xFF, 0xFF}},
      {"int64",
       V(int64_t{0x0102030405060708}),
       {0x04, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
      {"double at offset 0", V(2.0), Cat({{0x06}, Zeros(7), {0, 0, 0, 0, 0, 0, 0, 0x40}})},
      {"string hi", V("hi"), {0x07, 0x02, 0x68, 0x69}},
      {"empty string", V(""), {0x07, 0x00}},
      {"byte array", V(std::vector<uint8_t>{1, 2, 3}), {0x08, 0x03, 1, 2, 3}},
      {"int32 array",
       V(std::vector<int32_t>{1, -1}),
       {0x09, 0x02, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"int64 array", V(std::vector<int64_t>{-1}), Cat({{0x0A, 0x01}, Zeros(6), Bytes(8, 0xFF)})},
      {"float64 array", V(std::vector<double>{1.0}),
       Cat({{0x0B, 0x01}, Zeros(6), {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}})},
      {"float32 array", V(std::vector<float>{1.0f}), {0x0E, 0x01, 0, 0, 0, 0, 0x80, 0x3F}},
      {"list [1.5]: the double starts at offset 8", List({V(1.5)}),
       Cat({{0x0C, 0x01, 0x06}, Zeros(5), {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}})},
      {"map keys in ascending order",
       V(two_keys),
       {0x0D, 0x02, 0x07, 0x01, 0x61, 0x03, 0x02, 0x00, 0x00, 0x00,  //
        0x07, 0x01, 0x62, 0x03, 0x01, 0x00, 0x00, 0x00}},
      {"empty list", List({}), {0x0C, 0x00}},
      {"empty map", V(EncodableMap()), {0x0D, 0x00}},
      {"string of 254 bytes", V(std::string(254, 'x')),
       Cat({{0x07, 0xFE, 0xFE, 0x00}, Bytes(254, 'x')})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Hex(Encode(c.value)), Hex(c.bytes));
    Decoded d = Decode(c.bytes);
    EXPECT_EQ(d.value, c.value);
    EXPECT_EQ(d.position, c.bytes.size());
    EXPECT_THAT(d.lines, IsEmpty());
  }
}

// An empty typed array is padded after its size like a non-empty one, on
// both sides, so the writer's bytes read back as the value written.
TEST(StandardCodecTest, EmptyTypedArraysArePaddedLikeOthers) {
  struct Case {
    const char* name;
    V array;
    Bytes bytes;
  };
  const Case cases[] = {
      {"int32", V(std::vector<int32_t>{}), {0x0C, 0x03, 0x01, 0x09, 0x00, 0x00, 0x00, 0x00, 0x01}},
      {"float32", V(std::vector<float>{}), {0x0C, 0x03, 0x01, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x01}},
      {"int64", V(std::vector<int64_t>{}), Cat({{0x0C, 0x03, 0x01, 0x0A, 0x00}, Zeros(3), {0x01}})},
      {"float64", V(std::vector<double>{}),
       Cat({{0x0C, 0x03, 0x01, 0x0B, 0x00}, Zeros(3), {0x01}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const V list = List({V(true), c.array, V(true)});
    EXPECT_EQ(Hex(Encode(list)), Hex(c.bytes));
    Decoded d = Decode(c.bytes);
    EXPECT_EQ(d.value, list);
    EXPECT_EQ(d.position, c.bytes.size());
    EXPECT_THAT(d.lines, IsEmpty());
  }
  // Already aligned after the size: no padding at all.
  EXPECT_EQ(Hex(Encode(List({V(std::vector<int32_t>{})}))), Hex({0x0C, 0x01, 0x09, 0x00}));
}

TEST(StandardCodecTest, SizeFieldForms) {
  struct Case {
    uint32_t size;
    Bytes bytes;
  };
  const Case cases[] = {
      {0, {0x00}},
      {253, {0xFD}},
      {254, {0xFE, 0xFE, 0x00}},
      {300, {0xFE, 0x2C, 0x01}},
      {65535, {0xFE, 0xFF, 0xFF}},
      {65536, {0xFF, 0x00, 0x00, 0x01, 0x00}},
      {4294967295u, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    Bytes out;
    ByteBufferStreamWriter writer(&out);
    Serializer().WriteSize(c.size, &writer);
    EXPECT_EQ(Hex(out), Hex(c.bytes));
    ByteBufferStreamReader reader(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(Serializer().ReadSize(&reader), c.size);
    EXPECT_EQ(reader.position(), c.bytes.size());
  }
}

TEST(StandardCodecTest, SizeAboveThirtyTwoBitsIsNeverWritten) {
  if constexpr (sizeof(size_t) > 4) {
    StderrCapture err;
    Bytes out;
    ByteBufferStreamWriter writer(&out);
    Serializer().WriteSize(size_t{0x100000000}, &writer);
    EXPECT_THAT(out, IsEmpty());
    EXPECT_THAT(err.TakeLines(),
                ElementsAre("Size too large in StandardCodecSerializer::WriteSize: 4294967296"));
  } else {
    GTEST_SKIP() << "size_t cannot hold the count";
  }
}

TEST(StandardCodecTest, CustomValueWritesNullAndGoesOn) {
  StderrCapture err;
  const Bytes out = Encode(List({V(CustomEncodableValue(7)), V(true)}));
  EXPECT_EQ(Hex(out), Hex({0x0C, 0x02, 0x00, 0x01}));
  EXPECT_THAT(err.TakeLines(),
              ElementsAre("Unhandled custom type in StandardCodecSerializer::WriteValue. "
                          "Custom types require codec extensions."));
}

TEST(StandardCodecTest, PaddingCountsFromTheStartOfTheMessage) {
  // Three bytes already in the buffer: the double needs five bytes of
  // padding to reach offset 8.
  Bytes out = {0xAA, 0xBB, 0xCC};
  ByteBufferStreamWriter writer(&out);
  Serializer().WriteValue(V(1.0), &writer);
  EXPECT_EQ(Hex(out),
            Hex(Cat({{0xAA, 0xBB, 0xCC, 0x06}, Zeros(4), {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}})));

  // The reader skips padding bytes unread, whatever they hold.
  const Bytes in = Cat({{0x06}, Bytes(7, 0xEE), {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}});
  EXPECT_EQ(Decode(in).value, V(1.0));
}

// Inputs that decode without any diagnostic, beyond the golden vectors.
TEST(StandardCodecTest, ReadOnlyForms) {
  struct Case {
    const char* name;
    Bytes bytes;
    V want;
  };
  const Case cases[] = {
      {"tag 5 reads as a string", {0x05, 0x01, 0x41}, V("A")},
      {"repeated map key: first wins",
       {0x0D, 0x02, 0x07, 0x01, 0x61, 0x03, 0x01, 0, 0, 0, 0x07, 0x01, 0x61, 0x03, 0x02, 0, 0, 0},
       V(EncodableMap{{V("a"), V(int32_t{1})}})},
      {"map entries out of order are sorted",
       {0x0D, 0x02, 0x03, 0x02, 0, 0, 0, 0x00, 0x03, 0x01, 0, 0, 0, 0x01},
       V(EncodableMap{{V(int32_t{1}), V(true)}, {V(int32_t{2}), V()}})},
      {"string of exactly the remaining bytes", {0x07, 0x03, 0x61, 0x62, 0x63}, V("abc")},
      {"map of exactly two bytes per entry",
       {0x0D, 0x02, 0x00, 0x01, 0x00, 0x02},
       V(EncodableMap{{V(), V(true)}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Decoded d = Decode(c.bytes);
    EXPECT_EQ(d.value, c.want);
    EXPECT_THAT(d.lines, IsEmpty());
  }
  // The repeated key counts once.
  EXPECT_EQ(Decode(cases[1].bytes).value.GetIf<EncodableMap>()->size(), 1u);
}

// Truncated, corrupt and hostile input: the degraded value, where the reader
// stopped, and every line written.
TEST(StandardCodecTest, MalformedInput) {
  struct Case {
    const char* name;
    Bytes bytes;
    V want;
    uint64_t position;
    std::vector<std::string> lines;
  };
  const std::string unknown200 = std::string(kUnknownType) + "200";
  const Case cases[] = {
      {"empty message", {}, V(), 0, {kInvalidRead}},
      {"lone string tag", {0x07}, V(""), 1, {kInvalidRead}},
      {"unknown tag consumes nothing more", {200, 0x01, 0x02}, V(), 1, {unknown200}},
      {"truncated int32", {0x03, 0x01, 0x02}, V(int32_t{0}), 1, {kInvalidRead}},
      {"truncated int64", {0x04, 0x01}, V(int64_t{0}), 1, {kInvalidRead}},
      {"truncated double", {0x06, 0, 0, 0, 0, 0, 0, 0, 0x01}, V(0.0), 8, {kInvalidRead}},
      {"truncated 16-bit size", {0x07, 0xFE, 0x01}, V(""), 2, {kInvalidRead}},
      {"list runs out of elements",
       {0x0C, 0x02, 0x03, 0x01, 0, 0, 0},
       List({V(int32_t{1}), V()}),
       7,
       {kInvalidRead}},
      {"16 bytes claiming a 4 GiB string",
       Cat({{0x07, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, Bytes(10, 'x')}),
       V(""),
       6,
       {kInvalidRead}},
      {"byte array longer than the message",
       {0x08, 0x05, 1, 2},
       V(std::vector<uint8_t>{}),
       2,
       {kInvalidRead}},
      {"int32 array longer than the message",
       {0x09, 0x02, 0, 0, 1, 0, 0, 0},
       V(std::vector<int32_t>{}),
       4,
       {kInvalidRead}},
      {"float64 array claiming 4G elements",
       Cat({{0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, Zeros(2), Zeros(8)}),
       V(std::vector<double>{}),
       8,
       {kInvalidRead}},
      {"list claiming more elements than bytes",
       {0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00},
       V(EncodableList()),
       6,
       {kInvalidRead}},
      {"map claiming more than two bytes per entry",
       {0x0D, 0x02, 0x00, 0x00, 0x00},
       V(EncodableMap()),
       2,
       {kInvalidRead}},
      // The list still owes its second element a byte, so the string may
      // take at most two of the three bytes; the second element then reads
      // the string's first byte as its tag.
      {"a string may not take the bytes owed to later elements",
       {0x0C, 0x02, 0x07, 0x03, 0x61, 0x62, 0x63},
       List({V(""), V()}),
       5,
       {kInvalidRead, std::string(kUnknownType) + "97"}},
      {"owed bytes reach through nested containers",
       {0x0C, 0x02, 0x0C, 0x01, 0x08, 0x02, 0xAA, 0xBB},
       List({List({V(std::vector<uint8_t>{})}), V()}),
       7,
       {kInvalidRead, std::string(kUnknownType) + "170"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Decoded d = Decode(c.bytes);
    EXPECT_EQ(d.value, c.want);
    EXPECT_EQ(d.value.index(), c.want.index());
    EXPECT_EQ(d.position, c.position);
    EXPECT_EQ(d.lines, c.lines);
  }
}

TEST(StandardCodecTest, ReaderPrimitivesStayPutOnOverrun) {
  const Bytes data = {1, 2, 3};
  StderrCapture err;
  ByteBufferStreamReader reader(data.data(), data.size());
  uint8_t out[4] = {9, 9, 9, 9};
  reader.ReadBytes(out, 4);
  EXPECT_THAT(out, ElementsAre(9, 9, 9, 9));
  EXPECT_EQ(reader.position(), 0u);
  reader.ReadBytes(out, 3);
  EXPECT_THAT(out, ElementsAre(1, 2, 3, 9));
  EXPECT_EQ(reader.ReadByte(), 0);
  EXPECT_EQ(reader.position(), 3u);
  reader.ReadPadding(8);
  EXPECT_EQ(reader.position(), 8u);  // padding is not bounds-checked
  EXPECT_EQ(reader.RemainingBytes(), 0u);
  reader.ReadBytes(out, 0);  // a count of 0 always succeeds
  EXPECT_THAT(err.TakeLines(), ElementsAre(kInvalidRead, kInvalidRead));
}

TEST(StandardCodecTest, EveryStrictPrefixDecodesDegradedWithAnInvalidRead) {
  EncodableMap inner;
  inner.emplace(V("k"), V(std::vector<double>{1.0, 2.0}));
  inner.emplace(V(int64_t{5}), V(std::vector<float>{0.5f}));
  const V value = List({V("name"), V(inner), V(3.25), V(std::vector<int32_t>{7, 8}),
                        V(std::vector<uint8_t>{1, 2, 3}), V(int32_t{-9}), V(false)});
  const Bytes full = Encode(value);
  for (size_t n = 0; n < full.size(); ++n) {
    SCOPED_TRACE(n);
    Decoded d = Decode(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)));
    EXPECT_NE(d.value, value);
    EXPECT_THAT(d.lines, ::testing::Contains(kInvalidRead));
  }
}

Bytes NestedListTags(size_t levels, Bytes innermost) {
  return Cat({Repeat({0x0C, 0x01}, levels), innermost});
}

// Lists and maps nest up to 128 levels; the list or map that would open
// level 129 reads as null with the nesting line.
TEST(StandardCodecTest, NestingIsBoundedAt128Levels) {
  struct Case {
    const char* name;
    size_t levels;
    int want_depth;
    bool too_deep;
  };
  const Case cases[] = {
      {"100 levels", 100, 100, false},
      {"128 levels", 128, 128, false},
      {"129 levels", 129, 128, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Decoded d = Decode(NestedListTags(c.levels, {0x01}));
    EXPECT_EQ(ListDepth(d.value), c.want_depth);
    if (c.too_deep) {
      // Nothing after the refused list's tag is consumed: the enclosing list
      // is complete, so the trailing true is never read.
      EXPECT_EQ(d.position, 2u * 128 + 1);
      EXPECT_THAT(d.lines, ElementsAre(kTooDeep));
    } else {
      EXPECT_EQ(d.position, 2u * c.levels + 1);
      EXPECT_THAT(d.lines, IsEmpty());
    }
  }

  // Maps count as levels too.
  EXPECT_THAT(Decode(Cat({Repeat({0x0D, 0x01, 0x00}, 128), {0x00}})).lines, IsEmpty());
  EXPECT_THAT(Decode(Cat({Repeat({0x0D, 0x01, 0x00}, 129), {0x00}})).lines, ElementsAre(kTooDeep));

  // The depth is released again: a fresh message nests as deep as before.
  EXPECT_THAT(Decode(NestedListTags(128, {0x01})).lines, IsEmpty());
}

TEST(StandardCodecTest, AMillionNestedListTagsDoNotCrash) {
  Decoded d = Decode(Repeat({0x0C}, 1000000));
  // Each tag's size byte is the next 0x0C (12 elements) until the depth
  // limit turns one into null; no line for anything else.
  EXPECT_THAT(d.lines, ::testing::Contains(kTooDeep));
  EXPECT_EQ(ListDepth(d.value), 128);

  Decoded pairs = Decode(NestedListTags(1000000, {}));
  EXPECT_THAT(pairs.lines, ElementsAre(kTooDeep));
}

// A map whose two keys share a run of 120 equal single-element lists, close
// to the nesting limit. Ordering the keys walks each pair once; comparing
// each level twice would double the work per level (2^120 steps), and the
// decode would never end.
TEST(StandardCodecTest, MapKeysSharingADeepRunDecodeAtOnce) {
  auto key = [](uint8_t last) {
    return Cat({{0x0C, 0x02}, NestedListTags(120, {0x00}), {0x03, last, 0, 0, 0}});
  };
  Decoded d = Decode(Cat({{0x0D, 0x02}, key(2), {0x01}, key(1), {0x02}}));
  EXPECT_THAT(d.lines, IsEmpty());
  const auto& map = d.value.Get<EncodableMap>();
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map.begin()->second, V(false));  // key ...1 sorts first
  EXPECT_EQ(std::next(map.begin())->second, V(true));

  // Written back, the keys come out in order: key ...1 first.
  EXPECT_EQ(Hex(Encode(d.value)), Hex(Cat({{0x0D, 0x02}, key(1), {0x02}, key(2), {0x01}})));
}

// A serializer that adds tag 128 for a point (two int32) shows that the
// extension applies inside lists and maps, on both sides.
struct Point {
  int32_t x;
  int32_t y;
};

class PointSerializer : public StandardCodecSerializer {
 public:
  void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const override {
    if (const auto* custom = value.GetIf<CustomEncodableValue>()) {
      if (const Point* p = custom->GetIf<Point>()) {
        stream->WriteByte(128);
        stream->WriteBytes(reinterpret_cast<const uint8_t*>(&p->x), 4);
        stream->WriteBytes(reinterpret_cast<const uint8_t*>(&p->y), 4);
        return;
      }
    }
    StandardCodecSerializer::WriteValue(value, stream);
  }

  EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const override {
    if (type != 128) return StandardCodecSerializer::ReadValueOfType(type, stream);
    Point p{};
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&p.x), 4);
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&p.y), 4);
    return EncodableValue(CustomEncodableValue(p));
  }
};

TEST(StandardCodecTest, ExtensionAppliesAtEveryDepth) {
  PointSerializer serializer;
  EncodableMap map;
  map.emplace(V("p"), V(CustomEncodableValue(Point{1, 2})));
  const V value = List({V(map)});

  Bytes bytes;
  ByteBufferStreamWriter writer(&bytes);
  StderrCapture err;
  serializer.WriteValue(value, &writer);
  EXPECT_EQ(Hex(bytes),
            Hex({0x0C, 0x01, 0x0D, 0x01, 0x07, 0x01, 0x70, 128, 1, 0, 0, 0, 2, 0, 0, 0}));

  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  V back = serializer.ReadValue(&reader);
  EXPECT_THAT(err.TakeLines(), IsEmpty());
  const auto& inner = back.Get<EncodableList>().at(0).Get<EncodableMap>();
  const Point* p = inner.at(V("p")).Get<CustomEncodableValue>().GetIf<Point>();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->x, 1);
  EXPECT_EQ(p->y, 2);
}

TEST(StandardCodecTest, LargeValuesRoundTrip) {
  std::vector<int32_t> ints(70000);
  for (size_t i = 0; i < ints.size(); ++i) ints[i] = static_cast<int32_t>(i * 2654435761u);
  std::vector<double> doubles = {std::numeric_limits<double>::infinity(), -0.0,
                                 std::numeric_limits<double>::denorm_min()};
  EncodableList list;
  for (int i = 0; i < 300; ++i) list.push_back(V(int64_t{i} << 40));
  const V value = List({V(ints), V(doubles), V(std::move(list)), V(std::string(70000, 'z'))});
  Decoded d = Decode(Encode(value));
  EXPECT_EQ(d.value, value);
  EXPECT_THAT(d.lines, IsEmpty());
  // -0.0 keeps its sign bit.
  EXPECT_TRUE(std::signbit(d.value.Get<EncodableList>()[1].Get<std::vector<double>>()[1]));
}

}  // namespace
}  // namespace flutter::test
