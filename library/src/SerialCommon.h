// Pieces shared by the XML and binary forms of attributes (docs/formats.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "Tessark/OvAttribute/DataKinds.h"

namespace Tessark::internal::OvAttribute::detail {

// Both parsers accept this many nested groups (the outermost group is level 1; data and null
// leaves add no level) and refuse one more, so that hostile input cannot make the library
// build values that some consumer walks recursively.
constexpr size_t kMaxParseGroupDepth = 10000;

constexpr bool kHostLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// The unsigned integer that holds the bits of a numeric element type.
template <typename T>
using BitsOf = std::conditional_t<sizeof(T) == 8, uint64_t, uint32_t>;

template <typename T>
BitsOf<T> toBits(T value) noexcept {
  BitsOf<T> bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

template <typename T>
T fromBits(BitsOf<T> bits) noexcept {
  T value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// The XML form's version, and its `type` names of the kinds, indexed by type tag.
constexpr int kXmlFormatVersion = 1;
constexpr const char* kXmlTypeNames[] = {"null", "int", "float", "double", "string", "group"};

constexpr char kLowerHexDigits[] = "0123456789abcdef";
constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// The value of a hexadecimal digit of either case; -1 for any other character.
inline int hexValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace Tessark::internal::OvAttribute::detail
