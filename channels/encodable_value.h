// The value type that crosses every method channel, with its list and map
// forms.
//
// An EncodableValue always holds exactly one of fourteen alternatives. The
// alternative's index fixes both the wire tag the standard codec writes and
// the ordering between values of different kinds, so the order below is part
// of the wire contract: the float32 array sits at index 13, after the custom
// alternative.
//
// Values have plain value semantics: copying copies the whole tree, moving
// transfers it, and nothing is shared or reference-counted.
//
// Example:
//   flutter::EncodableMap args;
//   args.emplace(flutter::EncodableValue("clientId"), flutter::EncodableValue("123"));
//   flutter::EncodableValue value(std::move(args));
//   if (const auto* map = value.GetIf<flutter::EncodableMap>()) {
//     const auto& id = map->at(flutter::EncodableValue("clientId")).Get<std::string>();
//   }
#ifndef CHANNELS_ENCODABLE_VALUE_H_
#define CHANNELS_ENCODABLE_VALUE_H_

#include <any>
#include <cstddef>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

namespace flutter {

class EncodableValue;

// Raised by unchecked access to an alternative the value does not hold. Its
// text is fixed ("bad variant access") whatever standard library builds the
// code, because the services send it to the UI as an error message.
class BadVariantAccess : public std::bad_variant_access {
 public:
  const char* what() const noexcept override { return "bad variant access"; }
};

// Raised by EncodableMap::at for an absent key, with the fixed text
// "invalid map<K, T> key" for the same reason.
class InvalidMapKey : public std::out_of_range {
 public:
  InvalidMapKey() : std::out_of_range("invalid map<K, T> key") {}
};

// Values in insertion order, owned by the list.
using EncodableList = std::vector<EncodableValue>;

// Entries with unique keys in ascending key order under EncodableValue's
// ordering. Behaves as std::map, except that at() on an absent key raises
// InvalidMapKey.
class EncodableMap : public std::map<EncodableValue, EncodableValue> {
 public:
  using std::map<EncodableValue, EncodableValue>::map;

  const EncodableValue& at(const EncodableValue& key) const;
  EncodableValue& at(const EncodableValue& key);
};

// One object of any copyable type, type-erased. The standard codec cannot
// write it; nothing in this system creates one, but the value model carries
// it so that codec extensions remain possible.
class CustomEncodableValue {
 public:
  template <typename T,
            typename = std::enable_if_t<!std::is_same_v<std::decay_t<T>, CustomEncodableValue>>>
  explicit CustomEncodableValue(T&& value) : value_(std::forward<T>(value)) {}

  const std::type_info& type() const noexcept { return value_.type(); }

  // The held object when it is a T, otherwise null.
  template <typename T>
  const T* GetIf() const noexcept {
    return std::any_cast<T>(&value_);
  }

 private:
  std::any value_;
};

class EncodableValue {
 public:
  // Alternatives in index order; the index is part of the wire contract.
  using Variant = std::variant<std::monostate,        // 0 null
                               bool,                  // 1
                               int32_t,               // 2
                               int64_t,               // 3
                               double,                // 4
                               std::string,           // 5
                               std::vector<uint8_t>,  // 6
                               std::vector<int32_t>,  // 7
                               std::vector<int64_t>,  // 8
                               std::vector<double>,   // 9
                               EncodableList,         // 10
                               EncodableMap,          // 11
                               CustomEncodableValue,  // 12
                               std::vector<float>>;   // 13

  enum Index : std::size_t {
    kNull = 0,
    kBool = 1,
    kInt32 = 2,
    kInt64 = 3,
    kDouble = 4,
    kString = 5,
    kUInt8List = 6,
    kInt32List = 7,
    kInt64List = 8,
    kFloat64List = 9,
    kList = 10,
    kMap = 11,
    kCustom = 12,
    kFloat32List = 13,
  };

  EncodableValue() = default;
  EncodableValue(const EncodableValue&) = default;
  EncodableValue(EncodableValue&&) noexcept = default;
  EncodableValue& operator=(const EncodableValue&) = default;
  EncodableValue& operator=(EncodableValue&&) noexcept = default;
  ~EncodableValue() = default;

  // One constructor per payload type, so that no literal lands in a
  // surprising alternative (a string literal is a string, never a bool).
  EncodableValue(std::monostate) {}
  EncodableValue(bool v) : value_(v) {}
  EncodableValue(int32_t v) : value_(v) {}
  EncodableValue(int64_t v) : value_(v) {}
  EncodableValue(double v) : value_(v) {}
  EncodableValue(const char* v) : value_(std::string(v)) {}
  EncodableValue(std::string v) : value_(std::move(v)) {}
  EncodableValue(std::vector<uint8_t> v) : value_(std::move(v)) {}
  EncodableValue(std::vector<int32_t> v) : value_(std::move(v)) {}
  EncodableValue(std::vector<int64_t> v) : value_(std::move(v)) {}
  EncodableValue(std::vector<double> v) : value_(std::move(v)) {}
  EncodableValue(EncodableList v) : value_(std::move(v)) {}
  EncodableValue(EncodableMap v) : value_(std::move(v)) {}
  EncodableValue(CustomEncodableValue v) : value_(std::move(v)) {}
  EncodableValue(std::vector<float> v) : value_(std::move(v)) {}

  // The index (0-13) of the alternative held.
  std::size_t index() const noexcept { return value_.index(); }
  bool IsNull() const noexcept { return value_.index() == kNull; }

  // Checked access: the payload when the value holds a T, otherwise null.
  template <typename T>
  const T* GetIf() const noexcept {
    return std::get_if<T>(&value_);
  }
  template <typename T>
  T* GetIf() noexcept {
    return std::get_if<T>(&value_);
  }

  // Unchecked access: the payload; raises BadVariantAccess when the value
  // holds another alternative.
  template <typename T>
  const T& Get() const {
    const T* p = std::get_if<T>(&value_);
    if (p == nullptr) throw BadVariantAccess();
    return *p;
  }
  template <typename T>
  T& Get() {
    T* p = std::get_if<T>(&value_);
    if (p == nullptr) throw BadVariantAccess();
    return *p;
  }

  const Variant& variant() const noexcept { return value_; }

  // Strict weak ordering: by alternative index first, then by payload
  // (numbers numerically, strings and byte arrays as unsigned bytes, arrays,
  // lists and maps element by element with a proper prefix less). Custom
  // values compare by their own addresses, so a custom value is equivalent
  // only to itself. Same as Compare(a, b) < 0.
  friend bool operator<(const EncodableValue& a, const EncodableValue& b);

  // Structural equality: same alternative and equal payloads (doubles with
  // ==, so a NaN equals nothing; custom values only themselves).
  friend bool operator==(const EncodableValue& a, const EncodableValue& b);
  friend bool operator!=(const EncodableValue& a, const EncodableValue& b) { return !(a == b); }

 private:
  Variant value_;
};

// Three-way form of the ordering: negative when a is less than b, positive
// when b is less than a, 0 when the two are equivalent (the same map key).
// One walk over both values, so the cost grows with their size only; nested
// lists and maps are never compared twice to tell "less" from "equivalent".
int Compare(const EncodableValue& a, const EncodableValue& b);

}  // namespace flutter

#endif  // CHANNELS_ENCODABLE_VALUE_H_
