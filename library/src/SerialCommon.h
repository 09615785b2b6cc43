// Pieces shared by the XML and binary forms of attributes (docs/formats.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Tessark/OvAttribute/DataKinds.h"

namespace Tessark::internal::OvAttribute::detail {

// Both parsers accept this many nested groups (the outermost group is level 1; data and null
// leaves add no level) and refuse one more, so that hostile input cannot make the library
// build values that some consumer walks recursively.
constexpr size_t kMaxParseGroupDepth = 10000;

constexpr bool kHostLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// The unsigned integer that holds the bits of a numeric element type.
template <typename T>
struct BitsOf;
template <>
struct BitsOf<int32_t> {
  using type = uint32_t;
};
template <>
struct BitsOf<float> {
  using type = uint32_t;
};
template <>
struct BitsOf<double> {
  using type = uint64_t;
};

template <typename T>
typename BitsOf<T>::type toBits(T value) noexcept {
  typename BitsOf<T>::type bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

template <typename T>
T fromBits(typename BitsOf<T>::type bits) noexcept {
  T value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace Tessark::internal::OvAttribute::detail
