// Percent escaping of names and string values in the XML form (docs/formats.md): a byte that
// XML 1.0 cannot carry, or would normalise, is written as '%' and two hexadecimal digits.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Tessark::internal::OvAttribute::detail {

// Appends `size` bytes at `data` to `out`, escaping control bytes, '%' '<' '>' '&' '"' and every
// byte of anything but a well-formed UTF-8 sequence of a character that XML 1.0 allows.
void appendEscaped(std::string& out, const char* data, size_t size);

// Appends `text` to `out` with its escapes decoded; false at a '%' that two hexadecimal digits
// do not follow.
bool appendUnescaped(std::string& out, std::string_view text);

}  // namespace Tessark::internal::OvAttribute::detail
