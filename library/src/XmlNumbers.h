// Number text of the XML form (docs/formats.md): the shortest decimal text that reads back to
// the same bits (std::to_chars, std::from_chars), and words for infinities and NaNs. Always
// inlined: the writer and the reader format and parse numbers in their innermost loops.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>
#include <type_traits>

#include "SerialCommon.h"

namespace Tessark::internal::OvAttribute::detail {

// Room for the longest number text: "nan:0x" and 16 hex digits, or a shortest double such as
// "-2.2250738585072014e-308".
constexpr size_t kMaxNumberChars = 32;

// The longest text formatNumber writes for a value of T: a shortest float or double in
// scientific form with its sign (9 or 17 digits, a two- or three-digit exponent), longer than
// any NaN word; for integers, the minimum with its sign.
template <typename T>
constexpr size_t kMaxTextOf = std::is_integral_v<T> ? std::numeric_limits<T>::digits10 + 2
                              : sizeof(T) == 4      ? 15
                                                    : 24;

// The NaN that std::numeric_limits gives on the machines we build for; written as plain
// "nan" (or "-nan" with the sign bit). Every other NaN is written with its bits.
template <typename F>
struct FloatBits;
template <>
struct FloatBits<float> {
  static constexpr uint32_t kSign = 0x80000000u;
  static constexpr uint32_t kInf = 0x7f800000u;
  static constexpr uint32_t kQuietNan = 0x7fc00000u;
};
template <>
struct FloatBits<double> {
  static constexpr uint64_t kSign = 0x8000000000000000u;
  static constexpr uint64_t kInf = 0x7ff0000000000000u;
  static constexpr uint64_t kQuietNan = 0x7ff8000000000000u;
};

// Writes the text of `value` at `p`, which has room for kMaxNumberChars; returns its end.
template <typename T>
[[gnu::always_inline]] inline char* formatNumber(char* p, T value) {
  if constexpr (std::is_integral_v<T>) {
    return std::to_chars(p, p + kMaxNumberChars, value).ptr;
  } else {
    using Bits = BitsOf<T>;
    const Bits bits = toBits(value);
    const Bits magnitude = bits & ~FloatBits<T>::kSign;
    if (magnitude > FloatBits<T>::kInf) {
      if (magnitude == FloatBits<T>::kQuietNan) {
        if (bits != magnitude) *p++ = '-';
        std::memcpy(p, "nan", 3);
        return p + 3;
      }
      std::memcpy(p, "nan:0x", 6);
      p += 6;
      for (int shift = static_cast<int>(sizeof(Bits) * 8) - 4; shift >= 0; shift -= 4)
        *p++ = kLowerHexDigits[(bits >> shift) & 0xf];
      return p;
    }
    if (magnitude == FloatBits<T>::kInf) {
      if (bits != magnitude) *p++ = '-';
      std::memcpy(p, "inf", 3);
      return p + 3;
    }
    return std::to_chars(p, p + kMaxNumberChars, value).ptr;
  }
}

// Parses exactly [begin, end) as a number of type T; false for anything else, including a value
// out of T's range.
template <typename T>
[[gnu::always_inline]] inline bool parseNumber(const char* begin, const char* end, T& out) {
  if constexpr (std::is_integral_v<T>) {
    auto r = std::from_chars(begin, end, out);
    return r.ec == std::errc() && r.ptr == end && begin != end;
  } else {
    using Bits = BitsOf<T>;
    const char* q = begin;
    const bool negative = q != end && *q == '-';
    if (negative) ++q;
    if (q == end) return false;
    if ((*q >= '0' && *q <= '9') || *q == '.') {
      auto r = std::from_chars(begin, end, out, std::chars_format::general);
      return r.ec == std::errc() && r.ptr == end;
    }
    // from_chars would also take "infinity", "NaN" and "nan(...)": only our own words pass.
    const auto n = static_cast<size_t>(end - q);
    const Bits sign = negative ? FloatBits<T>::kSign : 0;
    if (n == 3 && std::memcmp(q, "inf", 3) == 0) {
      out = fromBits<T>(FloatBits<T>::kInf | sign);
      return true;
    }
    if (n == 3 && std::memcmp(q, "nan", 3) == 0) {
      out = fromBits<T>(FloatBits<T>::kQuietNan | sign);
      return true;
    }
    if (!negative && n == 6 + 2 * sizeof(Bits) && std::memcmp(q, "nan:0x", 6) == 0) {
      Bits bits = 0;
      for (const char* h = q + 6; h != end; ++h) {
        int v = hexValue(*h);
        if (v < 0) return false;
        bits = static_cast<Bits>((bits << 4) | static_cast<Bits>(v));
      }
      if ((bits & ~FloatBits<T>::kSign) <= FloatBits<T>::kInf) return false;  // not a NaN
      out = fromBits<T>(bits);
      return true;
    }
    return false;
  }
}

}  // namespace Tessark::internal::OvAttribute::detail
