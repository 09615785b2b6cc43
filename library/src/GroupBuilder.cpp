// GroupBuilder: named children kept in order, with an index from name to position, and child
// groups reached through dotted paths kept open as nested builders until build.
//
// Entries are appended in set order; names live in one byte buffer, so an entry is 32 bytes
// and a set allocates nothing but the occasional doubling of a buffer. The index (EntryIndex)
// holds entry positions, and every entry caches its name's hash, so that no rehash, compaction
// or build hashes a name again.
//
// A plain set does not touch the index: it appends a pending entry, and pending entries join
// the index in batches (before anything reads the index, and whenever they are as many as the
// indexed ones). A pending entry whose name is already there moves its child into the earlier
// entry, which is exactly what an immediate replacement would have done. Joining thousands of
// names in one loop lets the processor overlap the cache misses of their probes, which one
// probe per set, between interpreter calls, cannot; and the final table size is known.

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
#include "EntryIndex.h"
#include "UniqueNameHints.h"

namespace Tessark::internal::OvAttribute {

namespace detail {

class GroupBuilderImpl {
 public:
  struct Entry {
    uint64_t hash;        // nameIndexHash(name)
    uint32_t nameOffset;  // the name is m_names[nameOffset, nameOffset + nameSize)
    uint32_t nameSize;    // kDeleted: deleted but not yet compacted away
    Attribute attribute;  // the child, unless `sub` is set
    // A child group opened for editing by a path or a deep update: editing it through a
    // nested builder makes many sets under one group cost O(1) each, not a rebuild each.
    std::unique_ptr<GroupBuilderImpl> sub;
  };
  static constexpr uint32_t kDeleted = UINT32_MAX;

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
      parent->setLocal(last, std::move(attribute));
  }

  void setWithUniqueName(std::string_view name, Attribute attribute, bool groupInherit) {
    std::string_view last;
    GroupBuilderImpl* parent = parentFor(name, attribute, groupInherit, &last);
    if (!parent) return;
    if (!parent->find(last)) {
      parent->setLocal(last, std::move(attribute));
      return;
    }
    const std::string unique =
        parent->m_uniqueHints.next(last, [parent](std::string_view n) { return parent->find(n); });
    parent->setLocal(unique, std::move(attribute));
  }

  void del(std::string_view name) {
    if (name.empty()) return;
    std::string_view last;
    if (GroupBuilderImpl* parent = walk(name, firstDot(name), false, true, &last))
      parent->delLocal(last);
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
            Entry* existing = parent ? parent->find(last) : nullptr;
            if (existing && (existing->sub || existing->attribute.getType() == kAttrTypeGroup)) {
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
    size_t n = static_cast<size_t>(std::min<int64_t>(count, int64_t{1} << 20));
    try {
      m_entries.reserve(n);
      reserveIndex(n);
    } catch (const std::bad_alloc&) {
    }
  }

  void setGroupInherit(bool groupInherit) { m_inherit = groupInherit; }
  bool strict() const noexcept { return m_strict; }

  void sort() {
    joinPending();
    compact();
    const size_t capacity = EntryIndex::capacityFor(m_live);
    m_index.reserve(capacity);  // allocated before anything moves
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [this](const Entry& a, const Entry& b) { return nameOf(a) < nameOf(b); });
    rebuildIndex(capacity);
  }

  // With `flush`, the group takes over this builder's references to its children (sparing
  // two atomic operations on every child's block) and the builder is left empty.
  Attribute build(bool flush) {
    // Nested builders first (post-order, explicit stack); each leaves its group in m_built
    // for its parent to take. A builder's pending entries join before its entries are read:
    // a pending replacement may drop a nested builder.
    joinPending();
    std::vector<std::pair<GroupBuilderImpl*, size_t>> stack;
    stack.emplace_back(this, 0);
    while (!stack.empty()) {
      GroupBuilderImpl* builder = stack.back().first;
      size_t& next = stack.back().second;
      GroupBuilderImpl* descend = nullptr;
      while (next < builder->m_entries.size()) {
        Entry& entry = builder->m_entries[next++];
        if (isLive(entry) && entry.sub) {
          descend = entry.sub.get();
          break;
        }
      }
      if (descend) {
        descend->joinPending();
        stack.emplace_back(descend, 0);  // `next` dies here
        continue;
      }
      // Past the allocation in the writer's constructor nothing fails, so no child is handed
      // over before the build is certain to succeed.
      GroupBlockWriter writer(builder->m_live, builder->m_liveNameBytes, builder->m_inherit);
      const bool adopt = flush && builder == this;
      for (Entry& entry : builder->m_entries) {
        if (!isLive(entry)) continue;
        if (entry.sub)
          writer.add(builder->nameOf(entry), entry.hash, entry.sub->m_built._release(), true);
        else if (adopt)
          writer.add(builder->nameOf(entry), entry.hash, entry.attribute._release(), true);
        else
          writer.add(builder->nameOf(entry), entry.hash, entry.attribute._data());
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
    if (m_entries.capacity() > kKeptEntries) std::vector<Entry>().swap(m_entries);
    m_index.trim(2 * kKeptEntries);
    if (m_names.capacity() > 16 * kKeptEntries) std::string().swap(m_names);
  }

  void clear() {
    m_index.clear();
    m_live = 0;
    m_entries.clear();
    m_indexed = 0;
    m_dead = 0;
    m_names.clear();
    m_liveNameBytes = 0;
    m_uniqueHints.clear();
    m_inherit = true;
  }

 private:
  // Pending entries join the index once they are this many, or as many as the indexed ones.
  static constexpr size_t kMinimumBatch = 64;
  // reset() keeps the memory of builders of up to this many entries.
  static constexpr size_t kKeptEntries = size_t{1} << 16;

  static size_t firstDot(std::string_view name) { return name.find('.'); }

  static bool isLive(const Entry& entry) { return entry.nameSize != kDeleted; }
  std::string_view nameOf(const Entry& entry) const {
    return {m_names.data() + entry.nameOffset, entry.nameSize};
  }

  // The index slot that holds `name`, or the empty slot that ends its probe run. Needs an index.
  size_t probe(std::string_view name, uint64_t hash) const {
    return m_index.probe(hash, [&](size_t position) {
      const Entry& entry = m_entries[position];
      return entry.hash == hash && nameOf(entry) == name;
    });
  }

  // Makes the index `capacity` slots of the live indexed entries where they are now. Only the
  // allocation can fail, and then nothing has changed; callers that move entries reserve the
  // capacity first, so that no failure can come after the move.
  void rebuildIndex(size_t capacity) {
    m_index.reset(capacity);
    for (size_t i = 0; i < m_indexed; ++i)
      if (isLive(m_entries[i])) m_index.insert(m_entries[i].hash, i);
  }

  // Room in the index for `count` live names.
  void reserveIndex(size_t count) {
    if (!m_index.holds(count)) rebuildIndex(EntryIndex::capacityFor(count));
  }

  // Puts the pending entries into the index; one whose name is indexed already hands its child
  // to that entry (in place, as a replacement does) and is deleted.
  void joinPending() {
    const size_t end = m_entries.size();
    if (m_indexed == end) return;
    reserveIndex(m_live + (end - m_indexed));  // the only step that can fail
    constexpr size_t kPrefetchDistance = 8;
    for (size_t i = m_indexed; i < end; ++i) {
      if (i + kPrefetchDistance < end) m_index.prefetch(m_entries[i + kPrefetchDistance].hash);
      Entry& entry = m_entries[i];
      const size_t at = probe(nameOf(entry), entry.hash);
      const size_t first = m_index.positionAt(at);
      if (first == EntryIndex::kNone) {
        m_index.fill(at, entry.hash, i);
        ++m_live;
        continue;
      }
      m_entries[first].sub.reset();
      m_entries[first].attribute = std::move(entry.attribute);
      m_liveNameBytes -= entry.nameSize;
      entry.nameSize = kDeleted;
      ++m_dead;
    }
    m_indexed = end;
    compactIfSparse();
  }

  Entry* find(std::string_view name) {
    joinPending();
    if (m_index.capacity() == 0) return nullptr;
    const size_t position = m_index.positionAt(probe(name, nameIndexHash(name)));
    return position == EntryIndex::kNone ? nullptr : &m_entries[position];
  }

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

  // A new entry at the end, not yet in the index.
  Entry& append(std::string_view name, uint64_t hash) {
    // Entry positions and name offsets are 32 bits; kDeleted is never a name's size.
    if (m_entries.size() >= UINT32_MAX || name.size() >= kDeleted - m_names.size())
      throw std::length_error("group too large");
    const auto offset = static_cast<uint32_t>(m_names.size());
    m_names.append(name.data(), name.size());
    Entry& added = m_entries.emplace_back(
        Entry{hash, offset, static_cast<uint32_t>(name.size()), Attribute(), nullptr});
    m_liveNameBytes += name.size();
    return added;
  }

  // The entry named `name`, appended (and indexed) when there is none.
  Entry& findOrAppend(std::string_view name) {
    joinPending();
    const uint64_t hash = nameIndexHash(name);
    reserveIndex(m_live + 1);  // before the probe: the empty slot it finds stays valid
    const size_t at = probe(name, hash);
    const size_t position = m_index.positionAt(at);
    if (position != EntryIndex::kNone) return m_entries[position];
    Entry& added = append(name, hash);
    m_index.fill(at, hash, m_entries.size() - 1);
    m_indexed = m_entries.size();
    ++m_live;
    return added;
  }

  // Sets child `name` to `attribute`: a pending entry, joined later.
  void setLocal(std::string_view name, Attribute&& attribute) {
    const size_t pending = m_entries.size() - m_indexed;
    if (pending >= std::max(kMinimumBatch, m_indexed)) joinPending();
    append(name, nameIndexHash(name)).attribute = std::move(attribute);
  }

  void delLocal(std::string_view name) {
    joinPending();
    if (m_index.capacity() == 0) return;
    const size_t at = probe(name, nameIndexHash(name));
    const size_t position = m_index.positionAt(at);
    if (position == EntryIndex::kNone) return;
    m_index.erase(at, [this](size_t p) { return m_entries[p].hash; });
    Entry& entry = m_entries[position];
    --m_live;
    m_liveNameBytes -= entry.nameSize;
    entry.nameSize = kDeleted;
    entry.attribute = Attribute();
    entry.sub.reset();
    ++m_dead;
    m_uniqueHints.deleted(name);
    compactIfSparse();
  }

  // Once most entries are deleted ones, drops them; compaction only saves memory, so a failed
  // allocation leaves them for the next time.
  void compactIfSparse() noexcept {
    if (m_dead <= 16 || m_dead * 2 <= m_entries.size()) return;
    try {
      compact();
    } catch (const std::bad_alloc&) {
    }
  }

  // Drops deleted entries and the bytes of their names (all or nothing). No entry is pending.
  void compact() {
    if (m_dead == 0) return;
    std::string names;
    names.reserve(m_liveNameBytes);
    const size_t capacity = EntryIndex::capacityFor(m_live);
    m_index.reserve(capacity);
    for (Entry& entry : m_entries) {
      if (!isLive(entry)) continue;
      const std::string_view name = nameOf(entry);
      entry.nameOffset = static_cast<uint32_t>(names.size());
      names.append(name.data(), name.size());
    }
    m_names = std::move(names);
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [](const Entry& e) { return !isLive(e); }),
                    m_entries.end());
    m_indexed = m_entries.size();
    m_dead = 0;
    rebuildIndex(capacity);
  }

  void takeSubs(std::vector<std::unique_ptr<GroupBuilderImpl>>* pending) {
    for (Entry& entry : m_entries)
      if (entry.sub) pending->push_back(std::move(entry.sub));
  }

  // The nested builder of child `entry`: its open one, or one opened on its group (same
  // children, same inherit flag). A child that is not a group is replaced by a new, empty one
  // with `groupInherit` when `create`; otherwise there is none.
  GroupBuilderImpl* open(Entry& entry, bool groupInherit, bool create) {
    if (entry.sub) return entry.sub.get();
    GroupAttribute group(entry.attribute);
    if (!group.isValid() && !create) return nullptr;
    auto sub = std::make_unique<GroupBuilderImpl>(m_strict);
    if (group.isValid()) {
      sub->m_inherit = group.getGroupInherit();
      int64_t n = group.getNumberOfChildren();
      sub->reserve(n);
      for (int64_t i = 0; i < n; ++i)
        sub->setLocal(group.getChildNameView(i).view(), group.getChildByIndex(i));
    } else {
      sub->m_inherit = groupInherit;
    }
    entry.attribute = Attribute();
    entry.sub = std::move(sub);
    return entry.sub.get();
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
        Entry* entry = create ? &builder->findOrAppend(head) : builder->find(head);
        if (!entry) return nullptr;
        GroupBuilderImpl* next;
        try {
          next = builder->open(*entry, groupInherit, create);
        } catch (...) {
          // A step just appended holds nothing yet: take it out again.
          if (!entry->sub && !entry->attribute.isValid()) builder->delLocal(head);
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
  std::vector<Entry> m_entries;  // [0, m_indexed) indexed, the rest pending
  size_t m_indexed = 0;
  std::string m_names;  // the bytes of every entry's name, deleted ones included
  EntryIndex m_index;
  size_t m_live = 0;           // live entries in the index
  size_t m_liveNameBytes = 0;  // the bytes of the names of live and pending entries
  size_t m_dead = 0;           // deleted entries not yet compacted
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
