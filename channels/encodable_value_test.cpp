#include "channels/encodable_value.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace flutter {
namespace {

using V = EncodableValue;

TEST(EncodableValueTest, DefaultIsNullAndEquivalentToEveryNull) {
  V a;
  V b(std::monostate{});
  EXPECT_TRUE(a.IsNull());
  EXPECT_EQ(a.index(), 0u);
  EXPECT_FALSE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_EQ(a, b);
}

TEST(EncodableValueTest, LiteralsLandInTheirOwnAlternative) {
  EXPECT_EQ(V("x").index(), V::kString);
  EXPECT_EQ(V(true).index(), V::kBool);
  EXPECT_EQ(V(int32_t{7}).index(), V::kInt32);
  EXPECT_EQ(V(int64_t{7}).index(), V::kInt64);
  EXPECT_EQ(V(1.0).index(), V::kDouble);
  EXPECT_EQ(V(std::vector<float>{1.0f}).index(), V::kFloat32List);
  EXPECT_EQ(V(CustomEncodableValue(42)).index(), V::kCustom);
}

// Pairs that must be strictly ordered a < b (and so not b < a).
TEST(EncodableValueTest, OrderingTable) {
  struct Case {
    const char* name;
    V less;
    V greater;
  };
  const Case cases[] = {
      {"null before bool", V(), V(false)},
      {"false before true", V(false), V(true)},
      {"bool before int32", V(true), V(int32_t{-5})},
      {"int32 7 before int64 7", V(int32_t{7}), V(int64_t{7})},
      {"int32 1 before double 1.0", V(int32_t{1}), V(1.0)},
      {"signed int32", V(int32_t{-1}), V(int32_t{0})},
      {"signed int64", V(int64_t{-1}), V(int64_t{1})},
      {"double", V(-0.5), V(0.25)},
      {"empty string first", V(""), V("a")},
      {"prefix string", V("a"), V("ab")},
      {"ab before b", V("ab"), V("b")},
      {"bytes unsigned", V("A"), V("\xC3")},
      {"byte arrays unsigned", V(std::vector<uint8_t>{0x41}), V(std::vector<uint8_t>{0xC3})},
      {"int32 array prefix", V(std::vector<int32_t>{1, 2}), V(std::vector<int32_t>{1, 2, 0})},
      {"int32 array element", V(std::vector<int32_t>{1, 2, 0}), V(std::vector<int32_t>{1, 3})},
      {"empty array first", V(std::vector<int64_t>{}), V(std::vector<int64_t>{-9})},
      {"float64 array", V(std::vector<double>{1.0}), V(std::vector<double>{1.5})},
      {"list prefix", V(EncodableList{V(1), V(2)}), V(EncodableList{V(1), V(2), V(0)})},
      {"list element", V(EncodableList{V(1), V(2), V(0)}), V(EncodableList{V(1), V(3)})},
      {"map value", V(EncodableMap{{V("a"), V(1)}}), V(EncodableMap{{V("a"), V(2)}})},
      {"map prefix", V(EncodableMap{{V("a"), V(1)}}),
       V(EncodableMap{{V("a"), V(1)}, {V("b"), V(0)}})},
      {"map key", V(EncodableMap{{V("a"), V(9)}}), V(EncodableMap{{V("b"), V(0)}})},
      {"custom before float32 array", V(CustomEncodableValue(1)), V(std::vector<float>{})},
      {"float32 array after everything", V(EncodableMap{}), V(std::vector<float>{})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(c.less < c.greater);
    EXPECT_FALSE(c.greater < c.less);
    EXPECT_NE(c.less, c.greater);
    EXPECT_LT(Compare(c.less, c.greater), 0);
    EXPECT_GT(Compare(c.greater, c.less), 0);
  }
}

// Pairs that are the same map key: neither is less, and Compare gives 0.
TEST(EncodableValueTest, EquivalentPairs) {
  struct Case {
    const char* name;
    V a;
    V b;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {"nulls", V(), V(std::monostate{})},
      {"equal strings", V("ab"), V(std::string("ab"))},
      {"empty arrays", V(std::vector<float>{}), V(std::vector<float>{})},
      {"NaN is no less than a number", V(nan), V(1.0)},
      {"NaN elements", V(std::vector<double>{nan, 2.0}), V(std::vector<double>{0.0, 2.0})},
      {"equal nested lists", V(EncodableList{V(EncodableList{V(1)}), V("x")}),
       V(EncodableList{V(EncodableList{V(1)}), V("x")})},
      {"equal maps", V(EncodableMap{{V("a"), V(EncodableList{V(true)})}}),
       V(EncodableMap{{V("a"), V(EncodableList{V(true)})}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(c.a < c.b);
    EXPECT_FALSE(c.b < c.a);
    EXPECT_EQ(Compare(c.a, c.b), 0);
    EXPECT_EQ(Compare(c.b, c.a), 0);
  }
}

// Two values sharing a long run of equal single-element lists. Comparing
// them costs their size: were each level compared twice (once each way),
// 200 levels would take 2^200 steps and this test would never end.
TEST(EncodableValueTest, DeepEqualRunsCompareInLinearTime) {
  auto run = [](V innermost) {
    V value = std::move(innermost);
    for (int i = 0; i < 200; ++i) value = V(EncodableList{std::move(value)});
    return value;
  };
  const V a = V(EncodableList{run(V()), V(int32_t{1})});
  const V b = V(EncodableList{run(V()), V(int32_t{2})});
  EXPECT_LT(Compare(a, b), 0);
  EXPECT_TRUE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_EQ(Compare(run(V("x")), run(V("x"))), 0);

  EncodableMap map;
  map.emplace(b, V(2));
  map.emplace(a, V(1));
  map.emplace(a, V(3));  // equivalent: kept out
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map.begin()->second, V(1));
}

TEST(EncodableValueTest, MapIteratesInValueOrder) {
  EncodableMap map;
  for (const V& key : {V("b"), V(true), V(), V(int32_t{-1}), V("ab"), V(false), V("a")}) {
    map.emplace(key, V(0));
  }
  std::vector<V> keys;
  for (const auto& [key, value] : map) keys.push_back(key);
  const std::vector<V> want = {V(), V(false), V(true), V(int32_t{-1}), V("a"), V("ab"), V("b")};
  EXPECT_EQ(keys, want);
}

TEST(EncodableValueTest, EquivalentKeyInsertLeavesMapUnchanged) {
  EncodableMap map;
  map.emplace(V("k"), V(1));
  auto [it, inserted] = map.emplace(V("k"), V(2));
  EXPECT_FALSE(inserted);
  EXPECT_EQ(map.size(), 1u);
  EXPECT_EQ(map.at(V("k")), V(1));
  // int32 7 and int64 7 are different keys.
  map.emplace(V(int32_t{7}), V(0));
  map.emplace(V(int64_t{7}), V(0));
  EXPECT_EQ(map.size(), 3u);
}

TEST(EncodableValueTest, CustomValueIsEquivalentOnlyToItself) {
  V a(CustomEncodableValue(std::string("payload")));
  V copy = a;
  EXPECT_FALSE(a < a);
  EXPECT_TRUE(a < copy || copy < a);
  ASSERT_NE(copy.Get<CustomEncodableValue>().GetIf<std::string>(), nullptr);
  EXPECT_EQ(*copy.Get<CustomEncodableValue>().GetIf<std::string>(), "payload");
}

TEST(EncodableValueTest, UncheckedAccessToWrongAlternativeRaisesFixedText) {
  V v(int32_t{3});
  EXPECT_EQ(v.GetIf<bool>(), nullptr);
  try {
    (void)v.Get<bool>();
    FAIL() << "no exception";
  } catch (const std::bad_variant_access& e) {
    EXPECT_STREQ(e.what(), "bad variant access");
  }
}

TEST(EncodableValueTest, AbsentKeyLookupRaisesFixedText) {
  EncodableMap map{{V("source"), V("a")}};
  try {
    (void)map.at(V("key"));
    FAIL() << "no exception";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "invalid map<K, T> key");
  }
  const EncodableMap& cmap = map;
  EXPECT_THROW((void)cmap.at(V("key")), std::out_of_range);
  EXPECT_EQ(cmap.at(V("source")), V("a"));
}

TEST(EncodableValueTest, CopiesAreDeepAndMovesTransfer) {
  V original(EncodableList{V("x"), V(EncodableMap{{V(1), V(std::vector<uint8_t>{1, 2})}})});
  V copy = original;
  copy.Get<EncodableList>()[0] = V("changed");
  EXPECT_EQ(original.Get<EncodableList>()[0], V("x"));
  V moved = std::move(copy);
  EXPECT_EQ(moved.Get<EncodableList>()[0], V("changed"));
}

}  // namespace
}  // namespace flutter
