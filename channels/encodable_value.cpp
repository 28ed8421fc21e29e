#include "channels/encodable_value.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace flutter {

namespace {

// -1, 0 or 1 from a less-than: equivalent when neither is less, which is what
// a NaN is to every double (as the map sees it).
template <typename T>
int CompareScalars(const T& a, const T& b) {
  if (a < b) return -1;
  if (b < a) return 1;
  return 0;
}

// Byte-wise comparison as unsigned 8-bit values; the shorter of two strings
// that agree up to its end is less.
template <typename Bytes>
int CompareBytes(const Bytes& a, const Bytes& b) {
  const std::size_t common = std::min(a.size(), b.size());
  if (common != 0) {
    const int c = std::memcmp(a.data(), b.data(), common);
    if (c != 0) return c < 0 ? -1 : 1;
  }
  return CompareScalars(a.size(), b.size());
}

// Element by element: the first position that is not equivalent decides; a
// proper prefix is less.
template <typename Sequence, typename ElementCompare>
int CompareSequences(const Sequence& a, const Sequence& b, ElementCompare compare) {
  auto ia = a.begin();
  auto ib = b.begin();
  for (; ia != a.end() && ib != b.end(); ++ia, ++ib) {
    const int c = compare(*ia, *ib);
    if (c != 0) return c;
  }
  if (ia == a.end()) return ib == b.end() ? 0 : -1;
  return 1;
}

template <typename T>
int CompareArrays(const std::vector<T>& a, const std::vector<T>& b) {
  return CompareSequences(a, b, CompareScalars<T>);
}

// Entries in ascending key order: the key decides, then the value.
int CompareEntries(const EncodableMap::value_type& a, const EncodableMap::value_type& b) {
  const int c = Compare(a.first, b.first);
  return c != 0 ? c : Compare(a.second, b.second);
}

}  // namespace

const EncodableValue& EncodableMap::at(const EncodableValue& key) const {
  auto it = find(key);
  if (it == end()) throw InvalidMapKey();
  return it->second;
}

EncodableValue& EncodableMap::at(const EncodableValue& key) {
  auto it = find(key);
  if (it == end()) throw InvalidMapKey();
  return it->second;
}

int Compare(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return a.index() < b.index() ? -1 : 1;
  switch (a.index()) {
    case EncodableValue::kNull:
      return 0;
    case EncodableValue::kBool:
      return CompareScalars(a.Get<bool>(), b.Get<bool>());
    case EncodableValue::kInt32:
      return CompareScalars(a.Get<int32_t>(), b.Get<int32_t>());
    case EncodableValue::kInt64:
      return CompareScalars(a.Get<int64_t>(), b.Get<int64_t>());
    case EncodableValue::kDouble:
      return CompareScalars(a.Get<double>(), b.Get<double>());
    case EncodableValue::kString:
      return CompareBytes(a.Get<std::string>(), b.Get<std::string>());
    case EncodableValue::kUInt8List:
      return CompareBytes(a.Get<std::vector<uint8_t>>(), b.Get<std::vector<uint8_t>>());
    case EncodableValue::kInt32List:
      return CompareArrays(a.Get<std::vector<int32_t>>(), b.Get<std::vector<int32_t>>());
    case EncodableValue::kInt64List:
      return CompareArrays(a.Get<std::vector<int64_t>>(), b.Get<std::vector<int64_t>>());
    case EncodableValue::kFloat64List:
      return CompareArrays(a.Get<std::vector<double>>(), b.Get<std::vector<double>>());
    case EncodableValue::kList:
      return CompareSequences(a.Get<EncodableList>(), b.Get<EncodableList>(), Compare);
    case EncodableValue::kMap:
      return CompareSequences(a.Get<EncodableMap>(), b.Get<EncodableMap>(), CompareEntries);
    case EncodableValue::kCustom:
      if (&a == &b) return 0;
      return std::less<const void*>()(&a, &b) ? -1 : 1;
    case EncodableValue::kFloat32List:
      return CompareArrays(a.Get<std::vector<float>>(), b.Get<std::vector<float>>());
  }
  return 0;
}

bool operator<(const EncodableValue& a, const EncodableValue& b) { return Compare(a, b) < 0; }

bool operator==(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return false;
  switch (a.index()) {
    case EncodableValue::kNull:
      return true;
    case EncodableValue::kBool:
      return a.Get<bool>() == b.Get<bool>();
    case EncodableValue::kInt32:
      return a.Get<int32_t>() == b.Get<int32_t>();
    case EncodableValue::kInt64:
      return a.Get<int64_t>() == b.Get<int64_t>();
    case EncodableValue::kDouble:
      return a.Get<double>() == b.Get<double>();
    case EncodableValue::kString:
      return a.Get<std::string>() == b.Get<std::string>();
    case EncodableValue::kUInt8List:
      return a.Get<std::vector<uint8_t>>() == b.Get<std::vector<uint8_t>>();
    case EncodableValue::kInt32List:
      return a.Get<std::vector<int32_t>>() == b.Get<std::vector<int32_t>>();
    case EncodableValue::kInt64List:
      return a.Get<std::vector<int64_t>>() == b.Get<std::vector<int64_t>>();
    case EncodableValue::kFloat64List:
      return a.Get<std::vector<double>>() == b.Get<std::vector<double>>();
    case EncodableValue::kList: {
      const auto& la = a.Get<EncodableList>();
      const auto& lb = b.Get<EncodableList>();
      return std::equal(la.begin(), la.end(), lb.begin(), lb.end());
    }
    case EncodableValue::kMap: {
      const auto& ma = a.Get<EncodableMap>();
      const auto& mb = b.Get<EncodableMap>();
      if (ma.size() != mb.size()) return false;
      for (auto ia = ma.begin(), ib = mb.begin(); ia != ma.end(); ++ia, ++ib) {
        if (!(ia->first == ib->first) || !(ia->second == ib->second)) return false;
      }
      return true;
    }
    case EncodableValue::kCustom:
      return &a == &b;
    case EncodableValue::kFloat32List:
      return a.Get<std::vector<float>>() == b.Get<std::vector<float>>();
  }
  return false;
}

}  // namespace flutter
