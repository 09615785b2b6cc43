// The XML reader: pugixml builds a DOM, which is then walked with an explicit stack, so that
// nesting depth costs heap, not thread stack. Every count is checked against the text before
// anything is allocated for it.

#include <charconv>
#include <cstring>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "AttributeData.h"
#include "SerialCommon.h"
#include "Tessark/OvAttribute/DataAttribute.h"
#include "XmlEscaping.h"
#include "XmlNumbers.h"

namespace Tessark::internal::OvAttribute {

namespace {

using detail::kIsString;
using detail::kXmlFormatVersion;
using detail::kXmlTypeNames;
using detail::parseNumber;

bool isText(const pugi::xml_node& n) noexcept;

[[noreturn]] void fail(const pugi::xml_node& node, const std::string& what) {
  std::string message = "invalid attribute XML: " + what;
  // pugixml gives the offset of an element's name (the element starts at the '<' before it)
  // and of the first byte of a text.
  const bool element = node.type() == pugi::node_element;
  const ptrdiff_t offset = element || isText(node) ? node.offset_debug() - element : -1;
  if (offset >= 0)
    message +=
        std::string(element ? " (element" : " (text") + " at byte " + std::to_string(offset) + ")";
  throw XmlParseError(message);
}

bool isXmlSpace(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool isBlank(const char* s) noexcept {
  for (; *s != '\0'; ++s)
    if (!isXmlSpace(*s)) return false;
  return true;
}

bool isText(const pugi::xml_node& n) noexcept {
  return n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata;
}

void appendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xe0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  }
}

// The text of a node or an XML attribute value with its references replaced. The reader, not
// pugixml, resolves them, so that only what XML 1.0 defines without a DTD passes: the five
// predefined entities and character references to XML characters. Anything else, a bare '&'
// included, is refused: an entity that a DTD declares is never expanded, nor left as text.
// `raw` is returned as it is when it holds no reference.
std::string_view resolveReferences(const char* raw, std::string& scratch,
                                   const pugi::xml_node& where) {
  const char* amp = std::strchr(raw, '&');
  if (amp == nullptr) return raw;
  scratch.assign(raw, amp);
  for (const char* p = amp; *p != '\0';) {
    if (*p != '&') {
      scratch += *p++;
      continue;
    }
    const char* end = std::strchr(p, ';');
    const std::string_view name(p + 1, end ? static_cast<size_t>(end - p - 1) : 0);
    if (end == nullptr || name.empty() || name.size() > 10)
      fail(where, "'&' that starts no reference (write &amp;)");
    static constexpr std::pair<std::string_view, char> kPredefined[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    bool known = false;
    for (const auto& [entity, c] : kPredefined) {
      if (name == entity) {
        scratch += c;
        known = true;
      }
    }
    if (!known) {
      if (name[0] != '#') fail(where, "unknown entity &" + std::string(name) + ";");
      const bool hex = name.size() > 1 && name[1] == 'x';
      const std::string_view digits = name.substr(hex ? 2 : 1);
      uint32_t code = 0;
      const auto r =
          std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
      if (digits.empty() || r.ec != std::errc() || r.ptr != digits.data() + digits.size() ||
          !detail::isXmlChar(code)) {
        fail(where, "&" + std::string(name) + "; is not a reference to an XML character");
      }
      appendUtf8(scratch, code);
    }
    p = end + 1;
  }
  return scratch;
}

// The text of an XML attribute value, references resolved.
std::string_view valueOf(const pugi::xml_attribute& a, std::string& scratch,
                         const pugi::xml_node& element) {
  return resolveReferences(a.value(), scratch, element);
}

// The text of a text node: references resolved in character data, CDATA as it stands.
std::string_view textOf(const pugi::xml_node& node, std::string& scratch,
                        const pugi::xml_node& element) {
  if (node.type() == pugi::node_cdata) return node.value();
  return resolveReferences(node.value(), scratch, element);
}

// The next element child after `cursor`, which it advances; text between elements may only be
// blank.
pugi::xml_node nextElement(const pugi::xml_node& parent, pugi::xml_node& cursor) {
  for (; cursor; cursor = cursor.next_sibling()) {
    if (cursor.type() == pugi::node_element) {
      pugi::xml_node element = cursor;
      cursor = cursor.next_sibling();
      return element;
    }
    if (isText(cursor) && !isBlank(cursor.value()))
      fail(cursor, parent.type() == pugi::node_element
                       ? std::string("unexpected text in <") + parent.name() + ">"
                       : std::string("unexpected text outside the root element"));
  }
  return {};
}

// Percent-decodes `text` onto `out`.
void appendUnescaped(std::string& out, std::string_view text, const pugi::xml_node& where) {
  if (!detail::appendUnescaped(out, text))
    fail(where, "bad escape: '%' must be followed by two hexadecimal digits");
}

int64_t parseCount(const pugi::xml_node& element, const pugi::xml_attribute& a,
                   bool allowNegative) {
  std::string scratch;
  const std::string_view text = valueOf(a, scratch, element);
  int64_t value = 0;
  if (!parseNumber(text.data(), text.data() + text.size(), value) || (!allowNegative && value < 0))
    fail(element, std::string("bad ") + a.name() + " \"" + std::string(text) + "\"");
  return value;
}

template <typename T>
T parseNumberIn(const pugi::xml_node& element, const char* begin, const char* end,
                const char* what) {
  T value{};
  if (!parseNumber(begin, end, value))
    fail(element, std::string("bad ") + what + " \"" + std::string(begin, end) + "\"");
  return value;
}

// What the attributes of one <attr> element say.
struct Header {
  int type = kAttrTypeInvalid;
  std::string name;  // decoded; only for children of groups
  int64_t tupleSize = 0;
  int64_t values = 0;
  int64_t samples = 0;
  bool inherit = true;
  int64_t children = 0;
};

Header readHeader(const pugi::xml_node& e, bool isRoot) {
  if (std::strcmp(e.name(), "attr") != 0)
    fail(e, std::string("expected <attr>, found <") + e.name() + ">");
  enum Field { kVersion, kName, kType, kTupleSize, kValues, kSamples, kInherit, kChildren, kCount };
  static const char* const kFieldNames[kCount] = {"version", "name",    "type",    "tupleSize",
                                                  "values",  "samples", "inherit", "children"};
  pugi::xml_attribute fields[kCount];
  for (pugi::xml_attribute a = e.first_attribute(); a; a = a.next_attribute()) {
    int field = 0;
    while (field < kCount && std::strcmp(a.name(), kFieldNames[field]) != 0) ++field;
    if (field == kCount) fail(e, std::string("unknown XML attribute \"") + a.name() + "\"");
    if (fields[field]) fail(e, std::string("repeated XML attribute \"") + a.name() + "\"");
    fields[field] = a;
  }

  Header h;
  std::string scratch;
  if (isRoot) {
    if (!fields[kVersion]) fail(e, "the root <attr> needs a version");
    if (fields[kName]) fail(e, "the root <attr> has no name");
    const int64_t version = parseCount(e, fields[kVersion], false);
    if (version < 1 || version > kXmlFormatVersion)
      fail(e, "unsupported version " + std::to_string(version) + " (this reader knows 1 to " +
                  std::to_string(kXmlFormatVersion) + ")");
  } else {
    if (fields[kVersion]) fail(e, "only the root <attr> has a version");
    if (!fields[kName]) fail(e, "a child <attr> needs a name");
    appendUnescaped(h.name, valueOf(fields[kName], scratch, e), e);
    if (h.name.empty()) fail(e, "empty child name");
    if (h.name.find('\0') != std::string::npos) fail(e, "a child name holds a NUL byte");
  }

  if (!fields[kType]) fail(e, "missing type");
  const std::string type(valueOf(fields[kType], scratch, e));
  for (int t = kAttrTypeNull; t <= kAttrTypeGroup; ++t)
    if (type == kXmlTypeNames[t]) h.type = t;
  if (h.type == kAttrTypeInvalid) fail(e, "unknown type \"" + type + "\"");

  const bool isData = h.type != kAttrTypeNull && h.type != kAttrTypeGroup;
  const bool isGroup = h.type == kAttrTypeGroup;
  // The fields of data, then those of groups: required on their kind, refused on any other.
  for (Field f : {kTupleSize, kValues, kSamples, kInherit, kChildren}) {
    const bool applies = f < kInherit ? isData : isGroup;
    if (applies && !fields[f]) fail(e, std::string("missing ") + kFieldNames[f]);
    if (!applies && fields[f]) fail(e, std::string(kFieldNames[f]) + " on a " + type);
  }
  if (isData) {
    h.tupleSize = parseCount(e, fields[kTupleSize], true);
    h.values = parseCount(e, fields[kValues], false);
    h.samples = parseCount(e, fields[kSamples], false);
  }
  if (isGroup) {
    const std::string_view inherit = valueOf(fields[kInherit], scratch, e);
    if (inherit == "true") {
      h.inherit = true;
    } else if (inherit == "false") {
      h.inherit = false;
    } else {
      fail(e, "bad inherit \"" + std::string(inherit) + "\" (true or false)");
    }
    h.children = parseCount(e, fields[kChildren], false);
  }
  return h;
}

// Reads the numbers of one <sample> into `out`, which has room for `expected`; returns how
// many there were.
template <typename T>
size_t readNumbers(const pugi::xml_node& sample, T* out, int64_t expected) {
  size_t count = 0;
  std::string scratch;
  for (pugi::xml_node n = sample.first_child(); n; n = n.next_sibling()) {
    if (!isText(n)) fail(sample, "a number <sample> holds only numbers");
    const std::string_view text = textOf(n, scratch, sample);
    const char* p = text.data();
    const char* const end = p + text.size();
    for (;;) {
      while (p != end && isXmlSpace(*p)) ++p;
      if (p == end) break;
      const char* begin = p;
      while (p != end && !isXmlSpace(*p)) ++p;
      if (static_cast<int64_t>(count) >= expected)
        fail(sample, "more than " + std::to_string(expected) + " values in a sample");
      out[count++] = parseNumberIn<T>(sample, begin, p, "number");
    }
  }
  return count;
}

// Reads the <v> strings of one <sample> onto `blob` (each followed by a NUL), their offsets
// onto `offsets`; returns how many there were.
size_t readStrings(const pugi::xml_node& sample, std::string& blob, std::vector<size_t>& offsets,
                   int64_t expected) {
  size_t count = 0;
  std::string scratch;
  pugi::xml_node cursor = sample.first_child();
  while (pugi::xml_node v = nextElement(sample, cursor)) {
    if (std::strcmp(v.name(), "v") != 0)
      fail(v, std::string("expected <v>, found <") + v.name() + ">");
    if (v.first_attribute()) fail(v, "<v> takes no XML attributes");
    if (static_cast<int64_t>(++count) > expected)
      fail(sample, "more than " + std::to_string(expected) + " values in a sample");
    const size_t start = blob.size();
    for (pugi::xml_node t = v.first_child(); t; t = t.next_sibling()) {
      if (!isText(t)) fail(v, "<v> holds only text");
      appendUnescaped(blob, textOf(t, scratch, v), v);
    }
    if (blob.find('\0', start) != std::string::npos)
      fail(v, "a string value cannot hold a NUL byte");
    blob += '\0';
    offsets.push_back(start);
  }
  return count;
}

// The <sample> children of a data <attr>, in order: for each, its time (checked to ascend)
// and the element, handed to readValues(sample, index), which returns how many values it read.
template <typename ReadValues>
void readSamples(const pugi::xml_node& e, const Header& h, float* times, ReadValues readValues) {
  std::string scratch;
  int64_t count = 0;
  pugi::xml_node cursor = e.first_child();
  while (pugi::xml_node sample = nextElement(e, cursor)) {
    if (std::strcmp(sample.name(), "sample") != 0)
      fail(sample, std::string("expected <sample>, found <") + sample.name() + ">");
    if (count >= h.samples) fail(e, "more than " + std::to_string(h.samples) + " samples");
    pugi::xml_attribute time;
    for (pugi::xml_attribute a = sample.first_attribute(); a; a = a.next_attribute()) {
      if (std::strcmp(a.name(), "time") != 0 || time)
        fail(sample, std::string("unexpected XML attribute \"") + a.name() + "\" on <sample>");
      time = a;
    }
    if (!time) fail(sample, "<sample> needs a time");
    const std::string_view t = valueOf(time, scratch, sample);
    times[count] = parseNumberIn<float>(sample, t.data(), t.data() + t.size(), "time");
    const size_t from = count == 0 ? 0 : static_cast<size_t>(count - 1);
    if (detail::firstUnorderedTime(times + from, static_cast<size_t>(count + 1) - from) !=
        static_cast<size_t>(count + 1) - from)
      fail(sample, "sample time " + std::string(t) + " is NaN or not above the one before");
    const size_t read = readValues(sample, count);
    if (static_cast<int64_t>(read) != h.values)
      fail(sample,
           std::to_string(read) + " values in a sample, expected " + std::to_string(h.values));
    ++count;
  }
  if (count != h.samples)
    fail(e, std::to_string(count) + " samples, expected " + std::to_string(h.samples));
}

template <typename T>
Attribute readData(const pugi::xml_node& e, const Header& h, size_t textBytes) {
  // `<sample time="0"/>` and `0 ` or `<v/>` are the shortest a sample and a value can be, so
  // counts that claim more than the text can hold are refused before anything is allocated:
  // what is allocated from them is then no larger than the text allows.
  constexpr size_t kMinValueBytes = kIsString<T> ? 4 : 2;
  if (static_cast<uint64_t>(h.samples) > textBytes / 18 ||
      (h.samples != 0 && static_cast<uint64_t>(h.values) >
                             textBytes / kMinValueBytes / static_cast<uint64_t>(h.samples)))
    fail(e, "the counts claim more samples or values than the text holds");
  if constexpr (!kIsString<T>) {
    // Numbers are parsed straight into the attribute's own block.
    Attribute block(detail::newNumericData<T>(h.samples, h.values, h.tupleSize));
    T* values = detail::writableValues<T>(block._data());
    readSamples(e, h, detail::writableTimes(block._data()),
                [&](const pugi::xml_node& sample, int64_t index) {
                  return readNumbers(sample, values + index * h.values, h.values);
                });
    return block;
  } else {
    std::vector<float> times(static_cast<size_t>(h.samples));
    std::string blob;             // every value, NUL-terminated
    std::vector<size_t> offsets;  // where each value starts in `blob`
    offsets.reserve(static_cast<size_t>(h.samples * h.values));
    readSamples(e, h, times.data(), [&](const pugi::xml_node& sample, int64_t) {
      return readStrings(sample, blob, offsets, h.values);
    });
    const auto values = static_cast<size_t>(h.values);
    std::vector<const char*> strings;
    strings.reserve(offsets.size());
    for (size_t offset : offsets) strings.push_back(blob.data() + offset);
    std::vector<const char* const*> rows(times.size(), nullptr);
    for (size_t i = 0; i < times.size() && values != 0; ++i) rows[i] = strings.data() + i * values;
    return StringAttribute(times.empty() ? nullptr : times.data(), h.samples, rows.data(), h.values,
                           h.tupleSize);
  }
}

Attribute readLeaf(const pugi::xml_node& e, const Header& h, size_t textBytes) {
  if (h.type == kAttrTypeNull) {
    pugi::xml_node cursor = e.first_child();
    if (nextElement(e, cursor)) fail(e, "a null <attr> has no content");
    return NullAttribute();
  }
  Attribute result;
  detail::visitDataKind(
      h.type, [&](auto tag) { result = readData<typename decltype(tag)::type>(e, h, textBytes); });
  return result;
}

Attribute readDocument(const pugi::xml_document& doc, size_t textBytes) {
  pugi::xml_node root;
  pugi::xml_node cursor = doc.first_child();
  while (pugi::xml_node element = nextElement(doc, cursor)) {
    if (root) fail(element, "more than one root element");
    root = element;
  }
  if (!root) fail(root, "no root element");

  struct Frame {
    pugi::xml_node element;
    pugi::xml_node cursor;  // the next child to look at
    int64_t expected;
    int64_t count;
    std::string name;  // under which the finished group goes into its parent
  };
  std::vector<Frame> stack;
  detail::GroupAssembler groups;

  pugi::xml_node current = root;
  for (;;) {
    Header h = readHeader(current, stack.empty());
    if (h.type == kAttrTypeGroup) {
      if (stack.size() >= detail::kMaxParseGroupDepth)
        fail(current, "groups nested deeper than " + std::to_string(detail::kMaxParseGroupDepth) +
                          " levels");
      groups.open(h.inherit);
      stack.push_back(Frame{current, current.first_child(), h.children, 0, std::move(h.name)});
    } else {
      Attribute leaf = readLeaf(current, h, textBytes);
      if (stack.empty()) return leaf;
      groups.add(h.name, std::move(leaf));
      ++stack.back().count;
    }

    // Find the next <attr> to read, finishing every group that has none left.
    for (;;) {
      Frame& f = stack.back();
      pugi::xml_node next = nextElement(f.element, f.cursor);
      if (next) {
        if (f.count >= f.expected)
          fail(f.element, "more than " + std::to_string(f.expected) + " children");
        current = next;
        break;
      }
      if (f.count != f.expected)
        fail(f.element,
             std::to_string(f.count) + " children, expected " + std::to_string(f.expected));
      std::string repeated;
      Attribute group = groups.close(&repeated);
      if (!group.isValid()) fail(f.element, "repeated child name \"" + repeated + "\"");
      std::string name = std::move(f.name);
      stack.pop_back();
      if (stack.empty()) return group;
      groups.add(name, std::move(group));
      ++stack.back().count;
    }
  }
}

}  // namespace

namespace {

// Parses `text`, in place when `writable` (pugixml then works in the caller's buffer instead of a
// copy of it, which it would allocate, fault in and fill first).
Attribute parseText(Platform::StringView text, char* writable) {
  if (text.empty()) throw XmlParseError("invalid attribute XML: empty text");
  // XML has no NUL character, and pugixml would take one as the end of the text, silently
  // dropping whatever follows.
  if (const void* nul = std::memchr(text.data(), 0, text.size()))
    throw XmlParseError("invalid attribute XML: NUL byte at byte " +
                        std::to_string(static_cast<const char*>(nul) - text.data()));
  pugi::xml_document doc;
  // The defaults, plus: keep a text that is all blanks when it is an element's only content (a
  // string value of spaces is a value, not layout), and keep text outside the root element so
  // that the walk below can refuse it instead of pugixml dropping it unseen. The text is UTF-8
  // by definition, never sniffed, so stray bytes cannot switch it to another encoding.
  // References are resolved by the reader itself (resolveReferences), not by pugixml.
  const unsigned options = (pugi::parse_default & ~pugi::parse_escapes) |
                           pugi::parse_ws_pcdata_single | pugi::parse_fragment;
  // pugixml reads the last byte of its buffer as the end: its own copy ends in an added NUL, and
  // a buffer in place must too (text[size], which parseXMLInPlace's caller provides), or the
  // last byte of the text would be dropped and errors placed otherwise.
  pugi::xml_parse_result result =
      writable ? doc.load_buffer_inplace(writable, text.size() + 1, options, pugi::encoding_utf8)
               : doc.load_buffer(text.data(), text.size(), options, pugi::encoding_utf8);
  if (!result)
    throw XmlParseError(std::string("invalid attribute XML: ") + result.description() +
                        " at byte " + std::to_string(result.offset));
  return readDocument(doc, text.size());
}

}  // namespace

Attribute Attribute::parseXML(Platform::StringView text) { return parseText(text, nullptr); }

Attribute Attribute::parseXMLInPlace(char* text, size_t size) {
  // Without the NUL after the text, from a copy.
  return parseText(Platform::StringView(text, text ? size : 0),
                   text && !text[size] ? text : nullptr);
}

}  // namespace Tessark::internal::OvAttribute
