// ovattr cat: one line per attribute (its path and what it is), then one line per sample.
//
// The lines are printed as the library's binary reader meets what they describe, so that the
// first ones appear at once however large the file is. XML is parsed first and printed from
// its binary form, so that both forms go through one printer.

#include <algorithm>
#include <vector>

#include "Commands.h"
#include "Tessark/OvAttribute/OvAttribute.h"
#include "Text.h"

namespace ovattr {

namespace {

using OvAttr::detail::kIsString;

// What a shortened listing shows.
constexpr int64_t kValuesShown = 12;  // per sample, rounded down to whole tuples
constexpr int64_t kSamplesShown = 8;
constexpr size_t kStringBytesShown = 64;
// Printed lines are written out before the reader goes over at least this many bytes without
// printing, so that nothing printed waits on a long stretch of the file.
constexpr uint64_t kFlushAhead = uint64_t{1} << 16;

template <typename T>
void appendSample(std::string& line, const OvAttr::BinarySample& sample, int64_t tupleSize,
                  bool full) {
  const auto n = static_cast<int64_t>(sample.size());
  // Tuples in parentheses when the tuple size splits the values and a tuple fits the listing.
  const bool tuples = tupleSize > 1 && n % tupleSize == 0 && (full || tupleSize <= kValuesShown);
  const int64_t limit = tuples ? kValuesShown / tupleSize * tupleSize : kValuesShown;
  const int64_t shown = full ? n : std::min(n, limit);
  [[maybe_unused]] auto string = sample.strings().begin();
  for (int64_t i = 0; i < shown; ++i) {
    if (i > 0) line += ' ';
    if (tuples && i % tupleSize == 0) line += '(';
    if constexpr (kIsString<T>) {
      appendValue(line, *string++, full ? SIZE_MAX : kStringBytesShown);
    } else {
      appendValue(line, sample.numbers<T>()[static_cast<size_t>(i)]);
    }
    if (tuples && i % tupleSize == tupleSize - 1) line += ')';
  }
  if (n == 0) line += "(no values)";
  if (shown < n) line += " ... (" + plural(n - shown, "more value") + ")";
}

// Prints what the reader reports. Past the shortening limits it prints nothing more of a data
// attribute, but lets the reader go on to the end, so that a bad file is still refused.
class Printer : public OvAttr::BinaryVisitor {
 public:
  Printer(Output& out, bool full) : m_out(out), m_full(full) {}

  bool beginGroup(OvAttr::Platform::StringView name, bool inherit, int64_t children) override {
    enter(name);
    m_line += "group, " + plural(children, "child", "children");
    if (!inherit) m_line += ", inherit false";
    m_out << m_line << '\n';
    return true;
  }
  bool endGroup() override { return leave(); }
  bool null(OvAttr::Platform::StringView name) override {
    enter(name);
    m_out << m_line << "null\n";
    return leave();
  }

  bool beginData(OvAttr::Platform::StringView name, const OvAttr::BinaryData& data) override {
    enter(name);
    m_data = data;
    m_line += kindName(data.type) + ", tuple size " + std::to_string(data.tupleSize) + ", " +
              plural(data.sampleCount, "sample") + " of " + plural(data.valueCount, "value") + '\n';
    m_out << m_line;
    m_shown = m_full ? data.sampleCount : std::min(data.sampleCount, kSamplesShown);
    flushBefore(m_shown > 0 ? 1 : data.sampleCount);
    return true;
  }
  bool sample(const OvAttr::BinarySample& sample) override {
    const int64_t i = sample.getIndex();
    if (i >= m_shown) return true;
    m_line.assign("  t=");
    appendValue(m_line, m_data.times[static_cast<size_t>(i)]);
    m_line += ": ";
    OvAttr::detail::visitDataKind(sample.getType(), [&](auto tag) {
      appendSample<typename decltype(tag)::type>(m_line, sample, m_data.tupleSize, m_full);
    });
    m_line += '\n';
    m_out << m_line;
    flushBefore(i + 1 < m_shown ? 1 : m_data.sampleCount - m_shown);
    return true;
  }
  bool endData() override {
    if (m_shown < m_data.sampleCount)
      m_out << "  ... (" << plural(m_data.sampleCount - m_shown, "more sample") << ")\n";
    return leave();
  }

 private:
  // The path of a node, in m_line, followed by two spaces.
  void enter(OvAttr::Platform::StringView name) {
    if (m_level++ > 0) m_names.push_back(escapeName(name));  // the root has no name
    m_line.assign(joinPath(m_names));
    m_line += "  ";
  }
  bool leave() {
    if (--m_level > 0) m_names.pop_back();
    return true;
  }

  // Writes out what is printed when the reader is about to read `samples` samples of the data
  // attribute without printing, and they hold at least kFlushAhead bytes.
  void flushBefore(int64_t samples) {
    const bool wide =
        m_data.type == OvAttr::kAttrTypeDouble || m_data.type == OvAttr::kAttrTypeString;
    const auto values = static_cast<uint64_t>(m_data.valueCount);
    const auto n = static_cast<uint64_t>(std::max<int64_t>(samples, 0));
    if (n == 0) return;
    if (values >= kFlushAhead || n >= kFlushAhead || n * (values * (wide ? 8 : 4)) >= kFlushAhead)
      m_out.flush();
  }

  Output& m_out;
  bool m_full;
  std::string m_line;
  std::vector<std::string> m_names;  // escaped, from the root's child to the node at hand
  int64_t m_level = 0;               // nodes open, the one at hand included
  OvAttr::BinaryData m_data{};       // of the data attribute at hand
  int64_t m_shown = 0;               // samples of it that are printed
};

}  // namespace

int runCat(const std::string& path, bool full) {
  Output out;
  Printer printer(out, full);
  InputBytes in(path);
  const Format format = detectFormat(in.view());
  std::vector<char> blob;
  if (format == Format::kXml) parse(in, format).getBinary(blob);
  std::string error;
  const auto result = format == Format::kXml
                          ? OvAttr::readBinary(blob.data(), blob.size(), printer, &error)
                          : OvAttr::readBinary(in.data(), in.size(), printer, &error);
  out.flush();  // what was printed stands before the refusal, if any
  if (result != OvAttr::BinaryReadResult::kDone) throw binaryRefusal(in, error);
  return 0;
}

}  // namespace ovattr
