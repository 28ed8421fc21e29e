#include "channels/standard_method_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "channels/testing/codec_support.h"
#include "testing/recording_result.h"

namespace flutter::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using V = EncodableValue;

const char kNotAString[] = "Invalid method call; method name is not a string.";

const StandardMethodCodec& Codec() { return StandardMethodCodec::GetInstance(); }

using tw::test::Answer;
using tw::test::RecordingResult;
constexpr Answer::Kind kSuccess = Answer::Kind::kSuccess;
constexpr Answer::Kind kError = Answer::Kind::kError;

TEST(StandardMethodCodecTest, DecodeMethodCall) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::string method;
    V arguments;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"name and null arguments", {0x07, 0x05, 's', 't', 'a', 'r', 't', 0x00}, "start", V(), {}},
      {"message ends after the name",
       {0x07, 0x04, 's', 't', 'o', 'p'},
       "stop",
       V(),
       {kInvalidRead}},
      {"map arguments, trailing bytes ignored",
       {0x07, 0x01, 'm', 0x0D, 0x01, 0x07, 0x01, 'k', 0x03, 0x05, 0, 0, 0, 0xEE, 0xEE},
       "m",
       V(EncodableMap{{V("k"), V(int32_t{5})}}),
       {}},
      // The envelope-free call still pads from the message's first byte.
      {"double argument",
       Cat({{0x07, 0x01, 'd', 0x06}, Zeros(4), {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}}),
       "d",
       V(1.0),
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StderrCapture err;
    auto call = Codec().DecodeMethodCall(c.bytes.data(), c.bytes.size());
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->method_name(), c.method);
    ASSERT_NE(call->arguments(), nullptr);  // present, even when null
    EXPECT_EQ(*call->arguments(), c.arguments);
    EXPECT_EQ(err.TakeLines(), c.lines);
  }
}

TEST(StandardMethodCodecTest, DecodeMethodCallWithoutStringName) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"int32 name", {0x03, 0x01, 0x00, 0x00, 0x00, 0x00}, {kNotAString}},
      {"null name", {0x00, 0x07, 0x01, 'x'}, {kNotAString}},
      {"empty message", {}, {kInvalidRead, kNotAString}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StderrCapture err;
    EXPECT_EQ(Codec().DecodeMethodCall(c.bytes.data(), c.bytes.size()), nullptr);
    EXPECT_EQ(err.TakeLines(), c.lines);
  }
}

TEST(StandardMethodCodecTest, EncodeMethodCall) {
  MethodCall<V> with_args("start", std::make_unique<V>(V(EncodableMap{{V("a"), V(true)}})));
  EXPECT_EQ(Hex(*Codec().EncodeMethodCall(with_args)),
            Hex({0x07, 0x05, 's', 't', 'a', 'r', 't', 0x0D, 0x01, 0x07, 0x01, 'a', 0x01}));

  // A hand-built call without arguments sends null for them.
  MethodCall<V> without_args("stop", nullptr);
  const Bytes bytes = *Codec().EncodeMethodCall(without_args);
  EXPECT_EQ(Hex(bytes), Hex({0x07, 0x04, 's', 't', 'o', 'p', 0x00}));
  auto back = Codec().DecodeMethodCall(bytes.data(), bytes.size());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->method_name(), "stop");
  ASSERT_NE(back->arguments(), nullptr);
  EXPECT_TRUE(back->arguments()->IsNull());
}

TEST(StandardMethodCodecTest, Envelopes) {
  const V yes(true);
  const V two(2.0);
  const V details(int32_t{7});
  struct Case {
    const char* name;
    Bytes got;
    Bytes want;
  };
  const Case cases[] = {
      {"success without value", *Codec().EncodeSuccessEnvelope(nullptr), {0x00, 0x00}},
      {"success true", *Codec().EncodeSuccessEnvelope(&yes), {0x00, 0x01}},
      // The envelope byte counts for the padding.
      {"success 2.0", *Codec().EncodeSuccessEnvelope(&two),
       Cat({{0x00, 0x06}, Zeros(6), {0, 0, 0, 0, 0, 0, 0, 0x40}})},
      {"error, empty message, no details",
       *Codec().EncodeErrorEnvelope("bad", "", nullptr),
       {0x01, 0x07, 0x03, 'b', 'a', 'd', 0x00, 0x00}},
      {"error with message",
       *Codec().EncodeErrorEnvelope("bad", "x", nullptr),
       {0x01, 0x07, 0x03, 'b', 'a', 'd', 0x07, 0x01, 'x', 0x00}},
      {"empty code is still a string",
       *Codec().EncodeErrorEnvelope("", "", nullptr),
       {0x01, 0x07, 0x00, 0x00, 0x00}},
      {"error with details",
       *Codec().EncodeErrorEnvelope("e", "m", &details),
       {0x01, 0x07, 0x01, 'e', 0x07, 0x01, 'm', 0x03, 0x07, 0x00, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Hex(c.got), Hex(c.want));
  }
}

TEST(StandardMethodCodecTest, DecodeResponseEnvelope) {
  struct Case {
    const char* name;
    Bytes bytes;
    Answer::Kind kind;
    std::string code;
    std::string message;
    std::optional<V> value;  // the success value or the error details
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"success with value", {0x00, 0x03, 0x2A, 0, 0, 0}, kSuccess, "", "", V(int32_t{42}), {}},
      {"success with null passes no value", {0x00, 0x00}, kSuccess, "", "", std::nullopt, {}},
      {"empty response reads as success without value",
       {},
       kSuccess,
       "",
       "",
       std::nullopt,
       {kInvalidRead, kInvalidRead}},
      {"error with message and details",
       {0x01, 0x07, 0x01, 'e', 0x07, 0x01, 'm', 0x01},
       kError,
       "e",
       "m",
       V(true),
       {}},
      {"error with null message",
       {0x01, 0x07, 0x01, 'e', 0x00, 0x00},
       kError,
       "e",
       "",
       std::nullopt,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StderrCapture err;
    Answer answer;
    RecordingResult result(&answer);
    EXPECT_TRUE(Codec().DecodeResponseEnvelope(c.bytes.data(), c.bytes.size(), &result));
    EXPECT_EQ(answer.count, 1);
    EXPECT_EQ(answer.kind, c.kind);
    EXPECT_EQ(answer.code, c.code);
    EXPECT_EQ(answer.message, c.message);
    EXPECT_EQ(c.kind == kError ? answer.details : answer.value, c.value);
    EXPECT_EQ(err.TakeLines(), c.lines);
  }
}

TEST(StandardMethodCodecTest, UnusableResponseEnvelopeLeavesResultUntouched) {
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case cases[] = {
      {"unknown envelope byte", {0x02, 0x00}},
      {"error code is not a string", {0x01, 0x03, 0x01, 0, 0, 0, 0x00, 0x00}},
      {"error message is neither null nor a string", {0x01, 0x07, 0x01, 'e', 0x01, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StderrCapture err;
    Answer answer;
    RecordingResult result(&answer);
    EXPECT_FALSE(Codec().DecodeResponseEnvelope(c.bytes.data(), c.bytes.size(), &result));
    EXPECT_EQ(answer.count, 0);
    EXPECT_THAT(err.TakeLines(), IsEmpty());
  }
}

TEST(StandardMethodCodecTest, EnvelopesRoundTrip) {
  const V details(EncodableList{V("a"), V(std::vector<int64_t>{1, 2})});
  auto bytes = Codec().EncodeErrorEnvelope("cred_write", "could not write", &details);
  Answer answer;
  RecordingResult result(&answer);
  ASSERT_TRUE(Codec().DecodeResponseEnvelope(bytes->data(), bytes->size(), &result));
  EXPECT_EQ(answer.kind, kError);
  EXPECT_EQ(answer.code, "cred_write");
  EXPECT_EQ(answer.message, "could not write");
  EXPECT_EQ(answer.details, details);
}

// Writes every int32 as a string, to tell which serializer a codec uses.
class Int32AsTextSerializer : public StandardCodecSerializer {
 public:
  void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const override {
    if (const auto* i = value.GetIf<int32_t>()) {
      StandardCodecSerializer::WriteValue(EncodableValue(std::to_string(*i)), stream);
      return;
    }
    StandardCodecSerializer::WriteValue(value, stream);
  }
};

TEST(StandardMethodCodecTest, OneCodecPerSerializer) {
  const StandardMethodCodec& standard = StandardMethodCodec::GetInstance();
  EXPECT_EQ(&standard, &StandardMethodCodec::GetInstance());
  // The default codec is keyed by the serializer's one instance: were each
  // StandardCodecSerializer::GetInstance() call a new object, this would
  // make a second codec.
  EXPECT_EQ(&standard, &StandardMethodCodec::GetInstance(&StandardCodecSerializer::GetInstance()));

  static const Int32AsTextSerializer* const custom = new Int32AsTextSerializer();
  const StandardMethodCodec& other = StandardMethodCodec::GetInstance(custom);
  EXPECT_NE(&other, &standard);
  EXPECT_EQ(&other, &StandardMethodCodec::GetInstance(custom));

  const V nine(int32_t{9});
  EXPECT_EQ(Hex(*other.EncodeSuccessEnvelope(&nine)), Hex({0x00, 0x07, 0x01, '9'}));
  EXPECT_EQ(Hex(*standard.EncodeSuccessEnvelope(&nine)), Hex({0x00, 0x03, 0x09, 0, 0, 0}));
}

}  // namespace
}  // namespace flutter::test
