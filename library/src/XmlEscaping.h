// Percent escaping of names and string values in the XML form (docs/formats.md): a byte that
// XML 1.0 cannot carry, or would normalise, is written as '%' and two hexadecimal digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Tessark::internal::OvAttribute::detail {

// Whether XML 1.0 has a character of this code point.
inline bool isXmlChar(uint32_t c) noexcept {
  return c == 0x9 || c == 0xa || c == 0xd || (c >= 0x20 && c <= 0xd7ff) ||
         (c >= 0xe000 && c <= 0xfffd) || (c >= 0x10000 && c <= 0x10ffff);
}

// Appends `size` bytes at `data` to `out`, escaping control bytes, '%' '<' '>' '&' '"' and every
// byte of anything but a well-formed UTF-8 sequence of a character that XML 1.0 allows.
void appendEscaped(std::string& out, const char* data, size_t size);

// Appends `text` to `out` with its escapes decoded; false at a '%' that two hexadecimal digits
// do not follow.
bool appendUnescaped(std::string& out, std::string_view text);

}  // namespace Tessark::internal::OvAttribute::detail
