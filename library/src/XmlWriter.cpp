// The XML writer: appends to one std::string by hand, and walks groups with walkGroups, so that
// nesting depth costs heap, not thread stack.

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "AttributeData.h"
#include "SerialCommon.h"
#include "XmlEscaping.h"
#include "XmlNumbers.h"

namespace Tessark::internal::OvAttribute {

namespace {

using detail::appendEscaped;
using detail::AttributeData;
using detail::childName;
using detail::DataKindTraits;
using detail::formatNumber;
using detail::GroupChild;
using detail::kIsString;
using detail::kMaxNumberChars;
using detail::kXmlFormatVersion;
using detail::kXmlTypeNames;
using detail::rowOf;
using detail::Storage;
using detail::visitDataKind;
using detail::walkGroups;

// Deeper levels are written at this indentation, so that deep nesting keeps the text linear in
// the number of attributes.
constexpr size_t kMaxIndentLevel = 20;
// Numbers are formatted in batches of this many values before they join the output.
constexpr size_t kFormatBatch = 64;

class XmlWriter {
 public:
  explicit XmlWriter(std::string& out) : m_out(out) {}

  void write(AttributeData* root) {
    if (!writeElement(root, nullptr, 0)) return;
    walkGroups(
        root,
        [&](const GroupChild& child, size_t depth) {
          const std::string_view name = childName(child);
          return writeElement(child.attribute, &name, depth);
        },
        [&](AttributeData*, size_t depth) {
          indent(depth);
          m_out += "</attr>\n";
        });
  }

 private:
  void indent(size_t depth) { m_out.append(2 * std::min(depth, kMaxIndentLevel), ' '); }

  template <typename N>
  void appendNumber(N value) {
    char buf[kMaxNumberChars];
    m_out.append(buf, formatNumber(buf, value));
  }

  template <typename T>
  void appendNumbers(const T* values, size_t count) {
    // Room for the longest text of T up front, so that the text grows without a copy; no
    // more, since a reservation past the allocator's largest heap request is mapped afresh,
    // and faulted in page by page, on every call. Numbers are formatted in batches on the
    // stack, so that no room is zeroed before it is written.
    static_assert(detail::kMaxTextOf<T> <= kMaxNumberChars);
    m_out.reserve(m_out.size() + count * (detail::kMaxTextOf<T> + 1));
    char batch[kFormatBatch * (kMaxNumberChars + 1)];
    for (size_t start = 0; start < count; start += kFormatBatch) {
      const size_t n = std::min(kFormatBatch, count - start);
      char* p = batch;
      for (size_t k = 0; k < n; ++k) {
        if (start + k != 0) *p++ = ' ';
        p = formatNumber(p, values[start + k]);
      }
      m_out.append(batch, static_cast<size_t>(p - batch));
    }
  }

  // Writes the element of one block at `depth` (the root, without a name, at 0); true when it
  // is a group whose children follow, its element left open. What the block holds is written,
  // whatever tag it reports: null storage under any tag is the null element.
  bool writeElement(const AttributeData* data, const std::string_view* name, size_t depth) {
    indent(depth);
    m_out += "<attr";
    if (name != nullptr) {
      m_out += " name=\"";
      appendEscaped(m_out, name->data(), name->size());
      m_out += '"';
    } else {
      m_out += " version=\"";
      appendNumber(kXmlFormatVersion);
      m_out += '"';
    }
    if (data->storage == Storage::kGroup) {
      m_out += " type=\"group\" inherit=\"";
      m_out += data->groupInherit ? "true" : "false";
      m_out += "\" children=\"";
      appendNumber(data->childCount);
      m_out += data->childCount == 0 ? "\"/>\n" : "\">\n";
      return data->childCount > 0;
    }
    if (!visitDataKind(static_cast<int>(data->storage),
                       [&](auto tag) { writeData<typename decltype(tag)::type>(data, depth); }))
      m_out += " type=\"null\"/>\n";
    return false;
  }

  template <typename T>
  void writeData(const AttributeData* data, size_t depth) {
    m_out += " type=\"";
    m_out += kXmlTypeNames[DataKindTraits<T>::kType];
    m_out += "\" tupleSize=\"";
    appendNumber(data->tupleSize);
    m_out += "\" values=\"";
    appendNumber(data->valueCount);
    m_out += "\" samples=\"";
    appendNumber(data->sampleCount);
    if (data->sampleCount == 0) {
      m_out += "\"/>\n";
      return;
    }
    m_out += "\">\n";
    for (int64_t i = 0; i < data->sampleCount; ++i) {
      indent(depth + 1);
      m_out += "<sample time=\"";
      appendNumber(data->times[i]);
      if (data->valueCount == 0) {
        m_out += "\"/>\n";
        continue;
      }
      m_out += "\">";
      const T* row = rowOf<T>(data, i);
      if constexpr (kIsString<T>) {
        for (int64_t j = 0; j < data->valueCount; ++j) {
          m_out += "<v>";
          appendEscaped(m_out, row[j], std::strlen(row[j]));
          m_out += "</v>";
        }
      } else {
        appendNumbers(row, static_cast<size_t>(data->valueCount));
      }
      m_out += "</sample>\n";
    }
    indent(depth);
    m_out += "</attr>\n";
  }

  std::string& m_out;
};

}  // namespace

std::string Attribute::getXML() const {
  std::string out;
  if (!isValid()) return out;
  XmlWriter(out).write(m_data);
  return out;
}

}  // namespace Tessark::internal::OvAttribute
