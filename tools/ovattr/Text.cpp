#include "Text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace ovattr {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr char kLowerHex[] = "0123456789abcdef";

// The length of the well-formed UTF-8 sequence at p (of a printable character: C1 controls
// count as not well-formed), or 0.
size_t utf8Length(const unsigned char* p, size_t n) noexcept {
  const unsigned char c = p[0];
  if (c < 0x80) return c >= 0x20 && c != 0x7f ? 1 : 0;
  auto cont = [&](size_t i, unsigned char lo = 0x80, unsigned char hi = 0xbf) {
    return i < n && p[i] >= lo && p[i] <= hi;
  };
  if (c >= 0xc2 && c <= 0xdf) return cont(1, c == 0xc2 ? 0xa0 : 0x80) ? 2 : 0;
  if (c >= 0xe0 && c <= 0xef) {
    const unsigned char lo = c == 0xe0 ? 0xa0 : 0x80, hi = c == 0xed ? 0x9f : 0xbf;
    return cont(1, lo, hi) && cont(2) ? 3 : 0;
  }
  if (c >= 0xf0 && c <= 0xf4) {
    const unsigned char lo = c == 0xf0 ? 0x90 : 0x80, hi = c == 0xf4 ? 0x8f : 0xbf;
    return cont(1, lo, hi) && cont(2) && cont(3) ? 4 : 0;
  }
  return 0;
}

template <typename Float, typename Bits>
void appendFloat(std::string& out, Float value) {
  static_assert(sizeof(Float) == sizeof(Bits));
  constexpr int kExponentBits = sizeof(Float) == 4 ? 8 : 11;
  if (std::isnan(value)) {
    Bits bits;
    std::memcpy(&bits, &value, sizeof bits);
    const Bits sign = Bits{1} << (sizeof(Bits) * 8 - 1);
    // The default quiet NaN: exponent all ones and the top bit of the fraction.
    const Bits quiet =
        static_cast<Bits>((~Bits{0} >> 1) & ~((~Bits{0} >> 1) >> (kExponentBits + 1)));
    if ((bits & ~sign) == quiet) {
      out += (bits & sign) ? "-nan" : "nan";
      return;
    }
    out += "nan:0x";
    for (int shift = static_cast<int>(sizeof(Bits) * 8) - 4; shift >= 0; shift -= 4)
      out += kLowerHex[(bits >> shift) & 0xf];
    return;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
    return;
  }
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  out.append(text, result.ptr);
}

}  // namespace

std::string kindName(int type) {
  switch (type) {
    case OvAttr::kAttrTypeNull:
      return "null";
    case OvAttr::kAttrTypeInt:
      return "int";
    case OvAttr::kAttrTypeFloat:
      return "float";
    case OvAttr::kAttrTypeDouble:
      return "double";
    case OvAttr::kAttrTypeString:
      return "string";
    case OvAttr::kAttrTypeGroup:
      return "group";
    default:
      return "kind " + std::to_string(type);
  }
}

void appendValue(std::string& out, int32_t value) {
  char text[16];
  const auto result = std::to_chars(text, text + sizeof text, value);
  out.append(text, result.ptr);
}

void appendValue(std::string& out, float value) { appendFloat<float, uint32_t>(out, value); }
void appendValue(std::string& out, double value) { appendFloat<double, uint64_t>(out, value); }

void appendValue(std::string& out, std::string_view value, size_t maxBytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(value.data());
  const size_t n = value.size();
  const size_t shown = std::min(n, maxBytes);
  out += '"';
  for (size_t i = 0; i < shown;) {
    const unsigned char c = p[i];
    const size_t length = c == '"' || c == '\\' ? 0 : utf8Length(p + i, shown - i);
    if (length > 0) {
      out.append(value.data() + i, length);
      i += length;
      continue;
    }
    out += '\\';
    switch (c) {
      case '"':
      case '\\':
        out += static_cast<char>(c);
        break;
      case '\n':
        out += 'n';
        break;
      case '\t':
        out += 't';
        break;
      case '\r':
        out += 'r';
        break;
      default:
        out += 'x';
        out += kHex[c >> 4];
        out += kHex[c & 0xf];
    }
    ++i;
  }
  out += '"';
  if (shown < n) out += "... (" + std::to_string(n - shown) + " more bytes)";
}

std::string escapeName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  const auto* p = reinterpret_cast<const unsigned char*>(name.data());
  for (size_t i = 0; i < name.size();) {
    const unsigned char c = p[i];
    const size_t length = c == '%' || c == '/' ? 0 : utf8Length(p + i, name.size() - i);
    if (length > 0) {
      out.append(name.data() + i, length);
      i += length;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
      ++i;
    }
  }
  return out;
}

std::string joinPath(const std::vector<std::string>& components) {
  constexpr size_t kHead = 8, kTail = 8;
  if (components.empty()) return "/";
  std::string out;
  const size_t n = components.size();
  for (size_t i = 0; i < n; ++i) {
    if (n > kHead + kTail + 1 && i == kHead) {
      out += "/...(" + std::to_string(n - kHead - kTail) + " more levels)...";
      i = n - kTail - 1;
      continue;
    }
    out += '/';
    out += components[i];
  }
  return out;
}

std::string plural(int64_t count, const char* noun, const char* nouns) {
  std::string text = std::to_string(count) + " ";
  if (count == 1) return text + noun;
  return nouns ? text + nouns : text + noun + "s";
}

std::string oneLine(std::string_view message) {
  constexpr size_t kMax = 400;
  std::string out;
  size_t i = 0;
  for (; i < message.size() && out.size() < kMax; ++i) {
    const auto c = static_cast<unsigned char>(message[i]);
    if (c >= 0x20 && c != 0x7f) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    }
  }
  if (i < message.size()) out += "...";
  return out;
}

}  // namespace ovattr
