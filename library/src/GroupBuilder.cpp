// GroupBuilder: children kept in order with an index from name to position (NamedEntries),
// and child groups reached through dotted paths kept open as nested builders until build.

#include "Tessark/OvAttribute/GroupBuilder.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "AttributeData.h"
#include "NamedEntries.h"
#include "UniqueNameHints.h"

namespace Tessark::internal::OvAttribute {

namespace detail {

class GroupBuilderImpl {
 public:
  explicit GroupBuilderImpl(bool strict) : m_strict(strict) {}
  GroupBuilderImpl(const GroupBuilderImpl&) = delete;
  GroupBuilderImpl& operator=(const GroupBuilderImpl&) = delete;
  // Nested builders can be as deep as the longest path: tear them down from a work list.
  ~GroupBuilderImpl() {
    std::vector<std::unique_ptr<GroupBuilderImpl>> pending;
    takeSubs(&pending);
    while (!pending.empty()) {
      std::unique_ptr<GroupBuilderImpl> next = std::move(pending.back());
      pending.pop_back();
      next->takeSubs(&pending);
    }
  }

  // `attribute` by value: a caller that gives up its handle spares a count up and down.
  void set(std::string_view name, Attribute attribute, bool groupInherit) {
    std::string_view last;
    if (GroupBuilderImpl* parent = parentFor(name, attribute, groupInherit, &last))
      parent->m_children.add(last, Child{std::move(attribute), nullptr});
  }

  void setWithUniqueName(std::string_view name, Attribute attribute, bool groupInherit) {
    std::string_view last;
    GroupBuilderImpl* parent = parentFor(name, attribute, groupInherit, &last);
    if (!parent) return;
    Children& children = parent->m_children;
    auto taken = [&children](std::string_view n) { return children.find(n) != nullptr; };
    const std::string unique =
        taken(last) ? parent->m_uniqueHints.next(last, taken) : std::string(last);
    children.add(unique, Child{std::move(attribute), nullptr});
  }

  void del(std::string_view name) {
    if (name.empty()) return;
    std::string_view last;
    if (GroupBuilderImpl* parent = walk(name, firstDot(name), false, true, &last))
      parent->erase(last);
  }

  void update(const GroupAttribute& group) {
    for (int64_t i = 0, n = group.getNumberOfChildren(); i < n; ++i)
      set(group.getChildNameView(i).view(), group.getChildByIndex(i), true);
  }

  void deepUpdate(const GroupAttribute& group) {
    // The builder that each group walked into merges into: this one, then nested ones. A child
    // group merges into a child of the same name that is a group, or is open as one.
    std::vector<GroupBuilderImpl*> builders{this};
    walkGroups(
        group._data(),
        [&](const GroupChild& child, size_t) {
          GroupBuilderImpl* builder = builders.back();
          const std::string_view name = childName(child);
          size_t dot;
          if (child.attribute->typeTag == kAttrTypeGroup && builder->validName(name, &dot)) {
            std::string_view last;
            GroupBuilderImpl* parent = builder->walk(name, dot, false, true, &last);
            Entry* existing = parent ? parent->m_children.find(last) : nullptr;
            if (existing &&
                (existing->value.sub || existing->value.attribute.getType() == kAttrTypeGroup)) {
              builders.push_back(parent->open(*existing, true, false));
              return true;
            }
          }
          builder->set(name, sharedHandle(child.attribute), true);
          return false;
        },
        [&](AttributeData*, size_t) { builders.pop_back(); });
  }

  void reserve(int64_t count) {
    if (count <= 0) return;
    // A hint only: a huge count must not turn into an allocation failure.
    try {
      m_children.reserve(static_cast<size_t>(std::min<int64_t>(count, int64_t{1} << 20)));
    } catch (const std::bad_alloc&) {
    }
  }

  void setGroupInherit(bool groupInherit) { m_inherit = groupInherit; }
  bool strict() const noexcept { return m_strict; }
  void sort() { m_children.sort(); }

  // With `flush`, the group takes over this builder's references to its children (sparing
  // two atomic operations on every child's block) and the builder is left empty.
  Attribute build(bool flush) {
    // Nested builders first (post-order, explicit stack); each leaves its group in m_built
    // for its parent to take. A builder's pending entries join before its entries are read:
    // a pending replacement may drop a nested builder.
    m_children.joinPending();
    std::vector<std::pair<GroupBuilderImpl*, Entry*>> stack;  // a builder, its next entry
    stack.emplace_back(this, m_children.begin());
    while (!stack.empty()) {
      auto& [builder, next] = stack.back();
      Children& children = builder->m_children;
      GroupBuilderImpl* descend = nullptr;
      while (next != children.end() && !descend) {
        const Entry& entry = *next++;
        if (Children::isLive(entry)) descend = entry.value.sub.get();
      }
      if (descend) {
        descend->m_children.joinPending();
        stack.emplace_back(descend, descend->m_children.begin());  // `builder`, `next` die here
        continue;
      }
      // Past the allocation in the writer's constructor nothing fails, so no child is handed
      // over before the build is certain to succeed.
      GroupBlockWriter writer(children.liveCount(), children.liveNameBytes(), builder->m_inherit);
      const bool adopt = flush && builder == this;
      for (Entry& entry : children) {
        if (!Children::isLive(entry)) continue;
        Child& child = entry.value;
        const std::string_view name = children.nameOf(entry);
        if (child.sub)
          writer.add(name, entry.hash, child.sub->m_built._release(), true);
        else if (adopt)
          writer.add(name, entry.hash, child.attribute._release(), true);
        else
          writer.add(name, entry.hash, child.attribute._data());
      }
      builder->m_built = Attribute(writer.finish());
      stack.pop_back();
    }
    if (flush) clear();
    return std::move(m_built);
  }

  // Empties the builder and sets its mode, keeping the memory of a builder of ordinary size
  // for the children to come; a huge builder's memory is given back.
  void reset(bool strict) {
    clear();
    m_strict = strict;
    m_children.trim(kKeptEntries);
  }

  void clear() {
    m_children.clear();
    m_uniqueHints.clear();
    m_inherit = true;
  }

 private:
  struct Child {
    Attribute attribute;  // the child, unless `sub` is set
    // A child group opened for editing by a path or a deep update: editing it through a
    // nested builder makes many sets under one group cost O(1) each, not a rebuild each.
    std::unique_ptr<GroupBuilderImpl> sub;
  };
  using Children = NamedEntries<Child>;
  using Entry = Children::Entry;

  // reset() keeps the memory of builders of up to this many entries.
  static constexpr size_t kKeptEntries = size_t{1} << 16;

  static size_t firstDot(std::string_view name) { return name.find('.'); }

  // Empty names are ignored; in normal mode so is a path with an empty step ("a..b", ".a").
  // A name holding a NUL byte is refused: no serial form can carry it.
  // `*dot` gets the first dot that makes a path: npos for a plain name and in strict mode.
  bool validName(std::string_view name, size_t* dot) const {
    *dot = std::string_view::npos;
    if (name.empty()) return false;
    if (name.find('\0') != std::string_view::npos)
      throw std::invalid_argument("a child name cannot hold a NUL byte");
    if (m_strict) return true;
    *dot = firstDot(name);
    if (*dot == std::string_view::npos) return true;
    return *dot != 0 && name.back() != '.' && name.find("..", *dot) == std::string_view::npos;
  }

  void erase(std::string_view name) {
    if (m_children.erase(name)) m_uniqueHints.deleted(name);
  }

  void takeSubs(std::vector<std::unique_ptr<GroupBuilderImpl>>* pending) {
    for (Entry& entry : m_children)
      if (entry.value.sub) pending->push_back(std::move(entry.value.sub));
  }

  // The nested builder of child `entry`: its open one, or one opened on its group (same
  // children, same inherit flag). A child that is not a group is replaced by a new, empty one
  // with `groupInherit` when `create`; otherwise there is none.
  GroupBuilderImpl* open(Entry& entry, bool groupInherit, bool create) {
    Child& child = entry.value;
    if (child.sub) return child.sub.get();
    GroupAttribute group(child.attribute);
    if (!group.isValid() && !create) return nullptr;
    auto sub = std::make_unique<GroupBuilderImpl>(m_strict);
    if (group.isValid()) {
      sub->m_inherit = group.getGroupInherit();
      int64_t n = group.getNumberOfChildren();
      sub->reserve(n);
      for (int64_t i = 0; i < n; ++i)
        sub->m_children.add(group.getChildNameView(i).view(),
                            Child{group.getChildByIndex(i), nullptr});
    } else {
      sub->m_inherit = groupInherit;
    }
    child.attribute = Attribute();
    child.sub = std::move(sub);
    return child.sub.get();
  }

  // The builder in which set(name, attribute) sets the last step of `name`, with that step in
  // `last`, making the groups of a path on the way; null for an invalid attribute or a name
  // that sets nothing.
  GroupBuilderImpl* parentFor(std::string_view name, const Attribute& attribute, bool groupInherit,
                              std::string_view* last) {
    size_t dot;
    if (!attribute.isValid() || !validName(name, &dot)) return nullptr;
    return walk(name, dot, true, groupInherit, last);
  }

  // The builder that holds the last step of `name`, with that step in `last`. In strict mode
  // that is this builder and the whole name. In normal mode each step before a dot names a
  // child group, made (when `create`) if missing or not a group; without `create`, null when
  // the path does not lead through groups.
  // `dot` is firstDot(name), which callers have at hand.
  GroupBuilderImpl* walk(std::string_view name, size_t dot, bool create, bool groupInherit,
                         std::string_view* last) {
    GroupBuilderImpl* builder = this;
    if (!m_strict) {
      for (; dot != std::string_view::npos; dot = firstDot(name)) {
        std::string_view head = name.substr(0, dot);
        name.remove_prefix(dot + 1);
        Children& children = builder->m_children;
        Entry* entry = create ? &children.findOrAppend(head) : children.find(head);
        if (!entry) return nullptr;
        GroupBuilderImpl* next;
        try {
          next = builder->open(*entry, groupInherit, create);
        } catch (...) {
          // A step just appended holds nothing yet: take it out again.
          if (!entry->value.sub && !entry->value.attribute.isValid()) builder->erase(head);
          throw;
        }
        builder = next;
        if (!builder) return nullptr;
      }
    }
    *last = name;
    return builder;
  }

  bool m_strict;
  bool m_inherit = true;
  Children m_children;
  UniqueNameHints m_uniqueHints;
  Attribute m_built;  // scratch of build()
};

}  // namespace detail

GroupBuilder::GroupBuilder(BuilderMode mode)
    : m_impl(std::make_unique<detail::GroupBuilderImpl>(mode == BuilderModeStrict)) {}
GroupBuilder::GroupBuilder(GroupBuilder&&) noexcept = default;
GroupBuilder& GroupBuilder::operator=(GroupBuilder&&) noexcept = default;
GroupBuilder::~GroupBuilder() = default;

namespace {

// A moved-from builder starts over as an empty normal-mode builder rather than crash.
inline detail::GroupBuilderImpl& implOf(std::unique_ptr<detail::GroupBuilderImpl>& impl) {
  if (__builtin_expect(!impl, 0)) impl = std::make_unique<detail::GroupBuilderImpl>(false);
  return *impl;
}

}  // namespace

GroupBuilder& GroupBuilder::set(Platform::StringView name, const Attribute& attribute,
                                bool groupInherit) {
  implOf(m_impl).set(name.view(), attribute, groupInherit);
  return *this;
}

GroupBuilder& GroupBuilder::set(Platform::StringView name, Attribute&& attribute,
                                bool groupInherit) {
  implOf(m_impl).set(name.view(), std::move(attribute), groupInherit);
  return *this;
}

GroupBuilder& GroupBuilder::setWithUniqueName(Platform::StringView name, const Attribute& attribute,
                                              bool groupInherit) {
  implOf(m_impl).setWithUniqueName(name.view(), attribute, groupInherit);
  return *this;
}

GroupBuilder& GroupBuilder::setWithUniqueName(Platform::StringView name, Attribute&& attribute,
                                              bool groupInherit) {
  implOf(m_impl).setWithUniqueName(name.view(), std::move(attribute), groupInherit);
  return *this;
}

GroupBuilder& GroupBuilder::del(Platform::StringView name) {
  implOf(m_impl).del(name.view());
  return *this;
}

GroupBuilder& GroupBuilder::update(const GroupAttribute& group) {
  implOf(m_impl).update(group);
  return *this;
}

GroupBuilder& GroupBuilder::deepUpdate(const GroupAttribute& group) {
  if (group.isValid()) implOf(m_impl).deepUpdate(group);
  return *this;
}

GroupBuilder& GroupBuilder::reserve(int64_t childCount) {
  implOf(m_impl).reserve(childCount);
  return *this;
}

GroupBuilder& GroupBuilder::setGroupInherit(bool groupInherit) {
  implOf(m_impl).setGroupInherit(groupInherit);
  return *this;
}

GroupBuilder& GroupBuilder::sort() {
  implOf(m_impl).sort();
  return *this;
}

GroupBuilder::BuilderMode GroupBuilder::getMode() const noexcept {
  return m_impl && m_impl->strict() ? BuilderModeStrict : BuilderModeNormal;
}

GroupBuilder& GroupBuilder::reset(BuilderMode mode) {
  if (m_impl)
    m_impl->reset(mode == BuilderModeStrict);
  else
    m_impl = std::make_unique<detail::GroupBuilderImpl>(mode == BuilderModeStrict);
  return *this;
}

GroupAttribute GroupBuilder::build(BuilderBuildMode mode) {
  return GroupAttribute(implOf(m_impl).build(mode != BuildAndRetain));
}

}  // namespace Tessark::internal::OvAttribute
