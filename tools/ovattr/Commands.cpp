// ovattr convert, hash and stats.

#include "Commands.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>
#include <vector>

#include "Tessark/OvAttribute/OvAttribute.h"
#include "Text.h"

namespace ovattr {

namespace {

bool endsWithXml(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".xml";
}

std::string rightAligned(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

}  // namespace

int runConvert(const std::string& in, const std::string& out, const std::string& to) {
  Format target = Format::kBinary;
  Loaded input = load(in);
  if (!to.empty()) {
    target = to == "xml" ? Format::kXml : Format::kBinary;
  } else if (out == "-") {
    target = input.format == Format::kXml ? Format::kBinary : Format::kXml;
  } else if (endsWithXml(out)) {
    target = Format::kXml;
  }
  if (target == Format::kXml) {
    writeOutput(out, input.value.getXML());
  } else {
    std::vector<char> blob;
    input.value.getBinary(blob);
    writeOutput(out, {blob.data(), blob.size()});
  }
  return 0;
}

int runHash(const std::vector<std::string>& paths) {
  Output out;
  for (const std::string& path : paths) {
    OvAttr::Hash hash;
    InputBytes in(path);
    const Format format = detectFormat(in.view());
    if (format == Format::kXml) {
      hash = parse(in, format).getHash();
    } else {
      // Straight from the mapped bytes: no attribute, so no copy of the values.
      in.populate();
      std::string error;
      if (!OvAttr::hashBinary(in.data(), in.size(), &hash, &error)) throw binaryRefusal(in, error);
    }
    out << hash.str() << "  " << path << '\n';
  }
  out.flush();
  return 0;
}

int runStats(const std::string& path) {
  const Loaded input = load(path);
  struct Counts {
    int64_t attributes = 0, samples = 0, values = 0, bytes = 0;
  };
  constexpr int kKinds = OvAttr::kAttrTypeGroup + 1;
  std::array<Counts, kKinds + 1> counts{};  // by kind tag; the last one for unknown tags
  int64_t children = 0, widest = 0, depth = 0;

  // Every attribute once, with the nesting level of the groups around it.
  std::vector<std::pair<OvAttr::Attribute, int64_t>> stack{{input.value, 0}};
  while (!stack.empty()) {
    const auto [attribute, level] = std::move(stack.back());
    stack.pop_back();
    const int type = attribute.getType();
    Counts& c = counts[type >= 0 && type < kKinds ? type : kKinds];
    ++c.attributes;
    c.bytes += static_cast<int64_t>(attribute.getDataSize());
    const OvAttr::DataAttribute data(attribute);
    c.samples += data.getNumberOfTimeSamples();
    c.values += data.getNumberOfTimeSamples() * data.getNumberOfValues();
    const OvAttr::GroupAttribute group(attribute);
    if (group.isValid()) {
      const int64_t n = group.getNumberOfChildren();
      children += n;
      widest = std::max(widest, n);
      depth = std::max(depth, level + 1);
      for (int64_t i = n - 1; i >= 0; --i) stack.emplace_back(group.getChildByIndex(i), level + 1);
    }
  }

  Output out;
  out << displayName(path) << ": " << formatName(input.format) << ", "
      << plural(static_cast<int64_t>(input.bytes), "byte") << '\n';
  auto row = [&](const std::string& kind, const Counts& c, bool data) {
    out << kind << std::string(8 - std::min<size_t>(kind.size(), 7), ' ')
        << rightAligned(std::to_string(c.attributes), 12)
        << rightAligned(data ? std::to_string(c.samples) : "-", 12)
        << rightAligned(data ? std::to_string(c.values) : "-", 16)
        << rightAligned(std::to_string(c.bytes), 16) << '\n';
  };
  out << "kind      attributes     samples          values      data bytes\n";
  Counts total;
  for (int type = 0; type <= kKinds; ++type) {
    const Counts& c = counts[type];
    total.attributes += c.attributes;
    total.samples += c.samples;
    total.values += c.values;
    total.bytes += c.bytes;
    const bool data = type != OvAttr::kAttrTypeNull && type != OvAttr::kAttrTypeGroup;
    if (c.attributes > 0) row(type < kKinds ? kindName(type) : "other", c, data);
  }
  row("total", total, true);
  out << plural(children, "child", "children") << ", at most " << std::to_string(widest)
      << " in one group; groups nested " << std::to_string(depth) << " deep\n";
  out.flush();
  return 0;
}

}  // namespace ovattr
