#include "channels/encodable_value.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace flutter {

namespace {

// Byte-wise comparison as unsigned 8-bit values; the shorter of two strings
// that agree up to its end is less.
template <typename Bytes>
bool BytesLess(const Bytes& a, const Bytes& b) {
  const std::size_t common = std::min(a.size(), b.size());
  if (common != 0) {
    const int c = std::memcmp(a.data(), b.data(), common);
    if (c != 0) return c < 0;
  }
  return a.size() < b.size();
}

template <typename Sequence>
bool SequenceLess(const Sequence& a, const Sequence& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

bool MapLess(const EncodableMap& a, const EncodableMap& b) {
  auto ia = a.begin();
  auto ib = b.begin();
  for (; ia != a.end() && ib != b.end(); ++ia, ++ib) {
    if (ia->first < ib->first) return true;
    if (ib->first < ia->first) return false;
    if (ia->second < ib->second) return true;
    if (ib->second < ia->second) return false;
  }
  return ia == a.end() && ib != b.end();
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

bool operator<(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return a.index() < b.index();
  switch (a.index()) {
    case EncodableValue::kNull:
      return false;
    case EncodableValue::kBool:
      return !a.Get<bool>() && b.Get<bool>();
    case EncodableValue::kInt32:
      return a.Get<int32_t>() < b.Get<int32_t>();
    case EncodableValue::kInt64:
      return a.Get<int64_t>() < b.Get<int64_t>();
    case EncodableValue::kDouble:
      return a.Get<double>() < b.Get<double>();
    case EncodableValue::kString:
      return BytesLess(a.Get<std::string>(), b.Get<std::string>());
    case EncodableValue::kUInt8List:
      return BytesLess(a.Get<std::vector<uint8_t>>(), b.Get<std::vector<uint8_t>>());
    case EncodableValue::kInt32List:
      return SequenceLess(a.Get<std::vector<int32_t>>(), b.Get<std::vector<int32_t>>());
    case EncodableValue::kInt64List:
      return SequenceLess(a.Get<std::vector<int64_t>>(), b.Get<std::vector<int64_t>>());
    case EncodableValue::kFloat64List:
      return SequenceLess(a.Get<std::vector<double>>(), b.Get<std::vector<double>>());
    case EncodableValue::kList:
      return SequenceLess(a.Get<EncodableList>(), b.Get<EncodableList>());
    case EncodableValue::kMap:
      return MapLess(a.Get<EncodableMap>(), b.Get<EncodableMap>());
    case EncodableValue::kCustom:
      return std::less<const void*>()(&a, &b);
    case EncodableValue::kFloat32List:
      return SequenceLess(a.Get<std::vector<float>>(), b.Get<std::vector<float>>());
  }
  return false;
}

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
