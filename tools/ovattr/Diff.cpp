// ovattr diff: walks two values side by side by child name, skipping every pair whose hashes
// are equal, and reports the first differences in path order.

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "Commands.h"
#include "Tessark/OvAttribute/OvAttribute.h"
#include "Text.h"

namespace ovattr {

namespace {

using OvAttr::Attribute;
using OvAttr::detail::kIsString;

template <typename T>
bool sameValue(const T& a, const T& b) noexcept {
  if constexpr (kIsString<T>) {
    return std::strcmp(a, b) == 0;
  } else {
    return std::memcmp(&a, &b, sizeof(T)) == 0;  // bit for bit: NaN payloads, -0
  }
}

template <typename T>
std::string valueText(const T& value) {
  std::string text;
  if constexpr (kIsString<T>) {
    appendValue(text, value, 64);
  } else {
    appendValue(text, value);
  }
  return text;
}

std::string timesText(const OvAttr::DataAttribute& data) {
  constexpr int64_t kShown = 8;
  const int64_t n = data.getNumberOfTimeSamples();
  std::string text = "(";
  for (int64_t i = 0; i < n && i < kShown; ++i) {
    if (i > 0) text += ' ';
    appendValue(text, data.getSampleTime(i));
  }
  if (n > kShown) text += " ... " + std::to_string(n - kShown) + " more";
  return text + ")";
}

class Differ {
 public:
  Differ(Output& out, int64_t maxReports) : m_out(out), m_max(maxReports) {}

  // False when the values are equal.
  bool run(const Attribute& a, const Attribute& b) {
    m_nodes.push_back(Node{kNoParent, {}});
    m_stack.push_back(Pair{a, b, 0});
    while (!m_stack.empty() && !m_stopped) {
      const Pair pair = std::move(m_stack.back());
      m_stack.pop_back();
      visit(pair);
    }
    return m_reported > 0;
  }

 private:
  static constexpr size_t kNoParent = SIZE_MAX;
  // The path of every pair visited: its parent's node and its own escaped name.
  struct Node {
    size_t parent;
    std::string name;
  };
  struct Pair {
    Attribute a;  // invalid: the child is only in b
    Attribute b;  // invalid: the child is only in a
    size_t node;
  };

  void report(size_t node, const std::string& what) {
    if (m_reported == m_max) {
      m_out << "... (stopped after " << plural(m_max, "difference")
            << "; --max-differences shows more)\n";
      m_stopped = true;
      return;
    }
    std::vector<std::string> names;
    for (size_t i = node; m_nodes[i].parent != kNoParent; i = m_nodes[i].parent)
      names.push_back(m_nodes[i].name);
    m_out << joinPath({names.rbegin(), names.rend()}) << ": " << what << '\n';
    ++m_reported;
  }

  void visit(const Pair& pair) {
    if (!pair.a.isValid()) return report(pair.node, "added (" + kindName(pair.b.getType()) + ")");
    if (!pair.b.isValid()) return report(pair.node, "removed (" + kindName(pair.a.getType()) + ")");
    if (pair.a == pair.b) return;  // equal hashes: nothing below differs
    const int type = pair.a.getType();
    if (type != pair.b.getType())
      return report(pair.node, "kind " + kindName(type) + " -> " + kindName(pair.b.getType()));
    if (type == OvAttr::kAttrTypeGroup) return visitGroups(pair);
    OvAttr::detail::visitDataKind(type,
                                  [&](auto tag) { visitData<typename decltype(tag)::type>(pair); });
  }

  void visitGroups(const Pair& pair) {
    const OvAttr::GroupAttribute a(pair.a), b(pair.b);
    if (a.getGroupInherit() != b.getGroupInherit())
      report(pair.node,
             std::string("inherit ") + (a.getGroupInherit() ? "true -> false" : "false -> true"));
    // Children in a's order, then those only in b, pushed so that the first pops first.
    std::vector<Pair> children;
    bool sameNames = a.getNumberOfChildren() == b.getNumberOfChildren();
    for (int64_t i = 0; i < a.getNumberOfChildren(); ++i) {
      const auto name = a.getChildNameView(i);
      const int64_t j = b.getChildIndex(name);
      sameNames = sameNames && j >= 0;
      children.push_back(Pair{a.getChildByIndex(i), b.getChildByIndex(j), child(pair, name)});
      if (children.back().a == children.back().b) children.pop_back();
    }
    for (int64_t j = 0; j < b.getNumberOfChildren(); ++j) {
      const auto name = b.getChildNameView(j);
      if (a.getChildIndex(name) < 0)
        children.push_back(Pair{Attribute(), b.getChildByIndex(j), child(pair, name)});
    }
    if (sameNames && children.empty() && a.getGroupInherit() == b.getGroupInherit()) {
      int64_t i = 0;
      while (i < a.getNumberOfChildren() && a.getChildNameView(i) == b.getChildNameView(i)) ++i;
      std::string what = "children in another order, from child " + std::to_string(i) + ": ";
      appendValue(what, a.getChildName(i).c_str(), 64);
      what += " -> ";
      appendValue(what, b.getChildName(i).c_str(), 64);
      report(pair.node, what);
    }
    m_stack.insert(m_stack.end(), std::make_move_iterator(children.rbegin()),
                   std::make_move_iterator(children.rend()));
  }

  size_t child(const Pair& parent, OvAttr::Platform::StringView name) {
    m_nodes.push_back(Node{parent.node, escapeName(name.view())});
    return m_nodes.size() - 1;
  }

  template <typename T>
  void visitData(const Pair& pair) {
    const OvAttr::TypedDataAttribute<T> a(pair.a), b(pair.b);
    const int64_t reported = m_reported;
    if (a.getTupleSize() != b.getTupleSize())
      report(pair.node, "tuple size " + std::to_string(a.getTupleSize()) + " -> " +
                            std::to_string(b.getTupleSize()));
    if (a.getNumberOfValues() != b.getNumberOfValues())
      report(pair.node, "values per sample " + std::to_string(a.getNumberOfValues()) + " -> " +
                            std::to_string(b.getNumberOfValues()));
    const int64_t samples = std::min(a.getNumberOfTimeSamples(), b.getNumberOfTimeSamples());
    bool sameTimes = a.getNumberOfTimeSamples() == b.getNumberOfTimeSamples();
    for (int64_t i = 0; i < samples && sameTimes; ++i)
      sameTimes = sameValue(a.getSampleTime(i), b.getSampleTime(i));
    if (!sameTimes) report(pair.node, "sample times " + timesText(a) + " -> " + timesText(b));
    // The first value that differs, in the samples and values both have.
    for (int64_t i = 0; i < samples && !m_stopped; ++i) {
      const OvAttr::ConstVector<T> va = a.getSample(i), vb = b.getSample(i);
      const size_t n = std::min(va.size(), vb.size());
      for (size_t k = 0; k < n; ++k) {
        if (sameValue(va[k], vb[k])) continue;
        std::string what = "value";
        if (a.getNumberOfTimeSamples() > 1 || va.size() > 1) {  // else the one value there is
          what = "sample " + std::to_string(i) + " (t=";
          appendValue(what, a.getSampleTime(i));
          what += "), value " + std::to_string(k);
          const int64_t tupleSize = a.getTupleSize();
          if (tupleSize > 1)
            what += " (tuple " + std::to_string(static_cast<int64_t>(k) / tupleSize) + ")";
        }
        report(pair.node, what + ": " + valueText(va[k]) + " -> " + valueText(vb[k]));
        return;
      }
    }
    if (m_reported == reported && !m_stopped) report(pair.node, "values differ");
  }

  Output& m_out;
  const int64_t m_max;
  int64_t m_reported = 0;
  bool m_stopped = false;
  std::vector<Node> m_nodes;
  std::vector<Pair> m_stack;
};

}  // namespace

int runDiff(const std::string& a, const std::string& b, int64_t maxReports) {
  const Loaded first = load(a);
  const Loaded second = load(b);
  Output out;
  const bool differ = Differ(out, maxReports).run(first.value, second.value);
  out.flush();
  return differ ? 1 : 0;
}

}  // namespace ovattr
