// ovattr cat: one line per attribute (its path and what it is), then one line per sample.

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

template <typename T>
void appendSample(std::string& line, const OvAttr::ConstVector<T>& values, int64_t tupleSize,
                  bool full) {
  const auto n = static_cast<int64_t>(values.size());
  // Tuples in parentheses when the tuple size splits the values and a tuple fits the listing.
  const bool tuples = tupleSize > 1 && n % tupleSize == 0 && (full || tupleSize <= kValuesShown);
  const int64_t limit = tuples ? kValuesShown / tupleSize * tupleSize : kValuesShown;
  const int64_t shown = full ? n : std::min(n, limit);
  for (int64_t i = 0; i < shown; ++i) {
    if (i > 0) line += ' ';
    if (tuples && i % tupleSize == 0) line += '(';
    if constexpr (kIsString<T>) {
      appendValue(line, values[static_cast<size_t>(i)], full ? SIZE_MAX : kStringBytesShown);
    } else {
      appendValue(line, values[static_cast<size_t>(i)]);
    }
    if (tuples && i % tupleSize == tupleSize - 1) line += ')';
  }
  if (n == 0) line += "(no values)";
  if (shown < n) line += " ... (" + plural(n - shown, "more value") + ")";
}

template <typename T>
void describeData(Output& out, std::string& line, const OvAttr::Attribute& attribute, bool full) {
  const OvAttr::TypedDataAttribute<T> data(attribute);
  const int64_t samples = data.getNumberOfTimeSamples();
  const int64_t tupleSize = data.getTupleSize();
  line += ", tuple size " + std::to_string(tupleSize) + ", " + plural(samples, "sample") + " of " +
          plural(data.getNumberOfValues(), "value") + '\n';
  out << line;
  const int64_t shown = full ? samples : std::min(samples, kSamplesShown);
  for (int64_t i = 0; i < shown; ++i) {
    line.assign("  t=");
    appendValue(line, data.getSampleTime(i));
    line += ": ";
    appendSample(line, data.getSample(i), tupleSize, full);
    line += '\n';
    out << line;
  }
  if (shown < samples) out << "  ... (" << plural(samples - shown, "more sample") << ")\n";
}

void describe(Output& out, std::string& line, const std::vector<std::string>& path,
              const OvAttr::Attribute& attribute, bool full) {
  const int type = attribute.getType();
  line.assign(joinPath(path));
  line += "  ";
  line += kindName(type);
  if (type == OvAttr::kAttrTypeGroup) {
    const OvAttr::GroupAttribute group(attribute);
    line += ", " + plural(group.getNumberOfChildren(), "child", "children");
    if (!group.getGroupInherit()) line += ", inherit false";
    out << line << '\n';
    return;
  }
  const bool data = OvAttr::detail::visitDataKind(type, [&](auto tag) {
    describeData<typename decltype(tag)::type>(out, line, attribute, full);
  });
  if (!data) out << line << '\n';
}

}  // namespace

int runCat(const std::string& path, bool full) {
  const Loaded input = load(path);
  Output out;
  std::string line;
  std::vector<std::string> names;  // escaped names from the root to the attribute described
  struct Frame {
    OvAttr::GroupAttribute group;
    int64_t next;
    int64_t count;
  };
  std::vector<Frame> stack;
  auto visit = [&](const OvAttr::Attribute& attribute) {
    describe(out, line, names, attribute, full);
    OvAttr::GroupAttribute group(attribute);
    const int64_t count = group.getNumberOfChildren();
    if (count > 0) {
      stack.push_back(Frame{std::move(group), 0, count});
      return true;
    }
    return false;
  };
  visit(input.value);
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.count) {
      stack.pop_back();
      if (!stack.empty()) names.pop_back();  // the root frame has no name
      continue;
    }
    const int64_t i = frame.next++;
    names.push_back(escapeName(frame.group.getChildNameView(i).view()));
    const OvAttr::Attribute child = frame.group.getChildByIndex(i);  // `frame` may move
    if (!visit(child)) names.pop_back();
  }
  out.flush();
  return 0;
}

}  // namespace ovattr
