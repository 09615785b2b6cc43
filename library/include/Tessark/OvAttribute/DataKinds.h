// The four data kinds and their element types, both ways: the one place where a kind tag turns
// into typed code. The library's readers, writers and utilities and the Python module all
// dispatch through visitDataKind instead of switching over the kind themselves.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "Tessark/OvAttribute/Attribute.h"

namespace Tessark::internal::OvAttribute::detail {

// Element type -> kind tag, and the value type getValue works with.
template <typename T>
struct DataKindTraits;
template <>
struct DataKindTraits<int32_t> {
  static constexpr AttributeType kType = kAttrTypeInt;
  using ValueType = int32_t;
};
template <>
struct DataKindTraits<float> {
  static constexpr AttributeType kType = kAttrTypeFloat;
  using ValueType = float;
};
template <>
struct DataKindTraits<double> {
  static constexpr AttributeType kType = kAttrTypeDouble;
  using ValueType = double;
};
template <>
struct DataKindTraits<const char*> {
  static constexpr AttributeType kType = kAttrTypeString;
  using ValueType = std::string;
};

// Strings are stored as NUL-terminated `const char*`; every other element is a number.
template <typename T>
constexpr bool kIsString = std::is_same_v<T, const char*>;

// Names an element type without a value of it.
template <typename T>
struct KindTag {
  using type = T;
};

// Kind tag -> element type: calls visit(KindTag<T>{}) for the element type T of a data kind and
// returns what it returns; returns `otherwise`, without calling it, for any other tag.
template <typename Result, typename Visit>
Result visitDataKind(int kind, Result otherwise, Visit&& visit) {
  switch (kind) {
    case kAttrTypeInt:
      return visit(KindTag<int32_t>{});
    case kAttrTypeFloat:
      return visit(KindTag<float>{});
    case kAttrTypeDouble:
      return visit(KindTag<double>{});
    case kAttrTypeString:
      return visit(KindTag<const char*>{});
    default:
      return otherwise;
  }
}

// As above for a visit that returns nothing: true when `kind` was a data kind.
template <typename Visit>
bool visitDataKind(int kind, Visit&& visit) {
  return visitDataKind(kind, false, [&](auto tag) {
    visit(tag);
    return true;
  });
}

}  // namespace Tessark::internal::OvAttribute::detail
