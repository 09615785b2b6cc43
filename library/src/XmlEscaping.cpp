// Percent escaping of names and string values in the XML form.

#include "XmlEscaping.h"

#include "SerialCommon.h"

namespace Tessark::internal::OvAttribute::detail {

namespace {

// Printable ASCII that may stand for itself in text and in a double-quoted attribute value.
struct AsciiEscapeTable {
  bool escape[128];
  constexpr AsciiEscapeTable() : escape{} {
    for (int c = 0; c < 0x20; ++c) escape[c] = true;
    escape[0x7f] = true;
    escape[static_cast<int>('%')] = true;
    escape[static_cast<int>('<')] = true;
    escape[static_cast<int>('>')] = true;
    escape[static_cast<int>('&')] = true;
    escape[static_cast<int>('"')] = true;
  }
};
constexpr AsciiEscapeTable kAsciiEscape;

bool isContinuation(unsigned char c) noexcept { return (c & 0xc0) == 0x80; }

// Length of the UTF-8 sequence at s when it is well-formed and encodes a character that XML 1.0
// allows; 0 otherwise (the lead byte is then escaped, and so is each stray byte after it).
size_t xmlUtf8Length(const unsigned char* s, size_t n) noexcept {
  const unsigned char c = s[0];
  const size_t length = c < 0xc2 ? 0 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : c < 0xf5 ? 4 : 0;
  if (length == 0 || n < length) return 0;
  uint32_t code = c & (0x7f >> length);
  for (size_t i = 1; i < length; ++i) {
    if (!isContinuation(s[i])) return 0;
    code = code << 6 | (s[i] & 0x3f);
  }
  constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};  // below: an overlong form
  return code >= kLeast[length] && isXmlChar(code) ? length : 0;
}

}  // namespace

void appendEscaped(std::string& out, const char* data, size_t size) {
  const auto* s = reinterpret_cast<const unsigned char*>(data);
  size_t run = 0;  // start of the bytes not yet copied
  size_t i = 0;
  while (i < size) {
    const unsigned char c = s[i];
    size_t keep = 0;
    if (c < 0x80) {
      keep = kAsciiEscape.escape[c] ? 0 : 1;
    } else {
      keep = xmlUtf8Length(s + i, size - i);
    }
    if (keep != 0) {
      i += keep;
      continue;
    }
    out.append(data + run, i - run);
    const char escaped[3] = {'%', kUpperHexDigits[c >> 4], kUpperHexDigits[c & 0xf]};
    out.append(escaped, 3);
    run = ++i;
  }
  out.append(data + run, size - run);
}

bool appendUnescaped(std::string& out, std::string_view text) {
  for (;;) {
    const size_t percent = text.find('%');
    out.append(text.substr(0, percent));
    if (percent == std::string_view::npos) return true;
    const int hi = percent + 1 < text.size() ? hexValue(text[percent + 1]) : -1;
    const int lo = hi < 0 || percent + 2 >= text.size() ? -1 : hexValue(text[percent + 2]);
    if (lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    text.remove_prefix(percent + 3);
  }
}

}  // namespace Tessark::internal::OvAttribute::detail
