// NamedEntries: the group builder's children, named values in the order they were first set,
// and EntryIndex, the open-addressing index from their names to their positions.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "AttributeData.h"

namespace Tessark::internal::OvAttribute::detail {

// An open-addressing table (linear probing, at most half full) of entry positions, each slot
// tagged with the high half of its name's hash so that most probes that miss never look at an
// entry. The index keeps no names: a lookup is given a test of the entry at a position, and a
// removal the way to an entry's hash. It has a power of two of slots, 16 or more, or none yet.
class EntryIndex {
 public:
  // The capacity that holds `count` names at most half full.
  static size_t capacityFor(size_t count) {
    size_t capacity = 16;
    while (capacity < count * 2) capacity *= 2;
    return capacity;
  }

  size_t capacity() const noexcept { return m_slots.size(); }

  // An empty table of `capacity` slots, in the memory it has when that is large enough. Only the
  // allocation can fail, and then nothing has changed.
  void reset(size_t capacity) { m_slots.assign(capacity, kEmpty); }
  // Memory for `capacity` slots, so that a later reset cannot fail.
  void reserve(size_t capacity) { m_slots.reserve(capacity); }
  void clear() noexcept { m_slots.clear(); }
  // Gives the memory back when it is for more than `slots` slots.
  void trim(size_t slots) {
    if (m_slots.capacity() > slots) std::vector<uint64_t>().swap(m_slots);
  }

  // The slot that holds the name of hash `hash` that isName(position) recognises, or the empty
  // slot that ends its probe run. Needs a table.
  template <typename IsName>
  size_t probe(uint64_t hash, IsName isName) const {
    const size_t mask = m_slots.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
      const uint64_t slot = m_slots[at];
      if (slot == kEmpty) return at;
      if (((slot ^ hash) & kTagMask) == 0 && isName(positionIn(slot))) return at;
    }
  }

  // The position in slot `at`, or kNone when it is empty.
  static constexpr size_t kNone = SIZE_MAX;
  size_t positionAt(size_t at) const noexcept {
    return m_slots[at] == kEmpty ? kNone : positionIn(m_slots[at]);
  }

  // Fills the empty slot `at`, which a probe for this name found.
  void fill(size_t at, uint64_t hash, size_t position) noexcept {
    m_slots[at] = slotFor(hash, position);
  }
  // Adds the position of a name that the table does not hold.
  void insert(uint64_t hash, size_t position) noexcept {
    const size_t mask = m_slots.size() - 1;
    size_t at = hash & mask;
    while (m_slots[at] != kEmpty) at = (at + 1) & mask;
    m_slots[at] = slotFor(hash, position);
  }

  // Empties slot `at` by backward-shift deletion: later members of the probe run move into the
  // hole whenever their home slot allows, so that no run is cut short and no tombstone is
  // needed. hashAt(position) is the hash of the name at a position.
  template <typename HashAt>
  void erase(size_t at, HashAt hashAt) noexcept {
    const size_t mask = m_slots.size() - 1;
    size_t hole = at;
    for (size_t j = (hole + 1) & mask; m_slots[j] != kEmpty; j = (j + 1) & mask) {
      const size_t home = hashAt(positionIn(m_slots[j])) & mask;
      if (((j - home) & mask) >= ((j - hole) & mask)) {
        m_slots[hole] = m_slots[j];
        hole = j;
      }
    }
    m_slots[hole] = kEmpty;
  }

  // Starts loading the home slot of `hash`, for a probe soon after.
  void prefetch(uint64_t hash) const noexcept {
    __builtin_prefetch(&m_slots[hash & (m_slots.size() - 1)], 1);
  }

 private:
  // A slot: the high 32 bits of the name's hash, then the position + 1; 0 when empty.
  static constexpr uint64_t kEmpty = 0;
  static constexpr uint64_t kTagMask = ~uint64_t{0xffffffff};
  static uint64_t slotFor(uint64_t hash, size_t position) noexcept {
    return (hash & kTagMask) | static_cast<uint64_t>(position + 1);
  }
  static size_t positionIn(uint64_t slot) noexcept {
    return static_cast<size_t>(slot & ~kTagMask) - 1;
  }

  std::vector<uint64_t> m_slots;
};

// Entries are appended in set order; names live in one byte buffer, so that an entry is its
// value and 16 bytes (32 in all for the builder), and adding one allocates nothing but the
// occasional doubling of a buffer. Every entry caches its name's nameIndexHash, so that no rehash,
// compaction or build hashes a name again.
//
// add() does not touch the index: it appends a pending entry, and pending entries join the
// index in batches (before anything reads the index, and whenever they are as many as the
// indexed ones). A pending entry whose name is already there moves its value into the earlier
// entry, which is exactly what an immediate replacement would have done. Joining thousands of
// names in one loop lets the processor overlap the cache misses of their probes, which one
// probe per add, between interpreter calls, cannot; and the final table size is known.
//
// Deleted entries stay, marked, until most entries are deleted ones. Value is default
// constructible and movable; a default Value is an empty one.
template <typename Value>
class NamedEntries {
 public:
  struct Entry {
    uint64_t hash;        // nameIndexHash(name)
    uint32_t nameOffset;  // the name is m_names[nameOffset, nameOffset + nameSize)
    uint32_t nameSize;    // kDeleted: deleted but not yet compacted away
    Value value;
  };

  static bool isLive(const Entry& entry) noexcept { return entry.nameSize != kDeleted; }
  std::string_view nameOf(const Entry& entry) const noexcept {
    return {m_names.data() + entry.nameOffset, entry.nameSize};
  }

  // Every entry in order, deleted and pending ones included.
  Entry* begin() noexcept { return m_entries.data(); }
  Entry* end() noexcept { return m_entries.data() + m_entries.size(); }
  // Live entries and the bytes of their names, once pending ones have joined.
  size_t liveCount() const noexcept { return m_live; }
  size_t liveNameBytes() const noexcept { return m_liveNameBytes; }

  // Sets `name` to `value`: a pending entry, joined later.
  void add(std::string_view name, Value&& value) {
    const size_t pending = m_entries.size() - m_indexed;
    if (pending >= std::max(kMinimumBatch, m_indexed)) joinPending();
    append(name, nameIndexHash(name), std::move(value));
  }

  Entry* find(std::string_view name) {
    const size_t position = locate(name).second;
    return position == EntryIndex::kNone ? nullptr : &m_entries[position];
  }

  // The entry named `name`, appended (and indexed) with an empty value when there is none.
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

  // Deletes the entry named `name`; false when there is none.
  bool erase(std::string_view name) {
    const auto [at, position] = locate(name);
    if (position == EntryIndex::kNone) return false;
    m_index.erase(at, [this](size_t p) { return m_entries[p].hash; });
    --m_live;
    markDeleted(m_entries[position]);
    m_entries[position].value = Value();
    compactIfSparse();
    return true;
  }

  // Puts the pending entries into the index; one whose name is indexed already hands its value
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
      m_entries[first].value = std::move(entry.value);
      markDeleted(entry);
    }
    m_indexed = end;
    compactIfSparse();
  }

  // Orders the entries by name, byte-wise, stable.
  void sort() {
    joinPending();
    compact();
    const size_t capacity = EntryIndex::capacityFor(m_live);
    m_index.reserve(capacity);  // allocated before anything moves
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [this](const Entry& a, const Entry& b) { return nameOf(a) < nameOf(b); });
    rebuildIndex(capacity);
  }

  void reserve(size_t count) {
    m_entries.reserve(count);
    reserveIndex(count);
  }

  void clear() noexcept {
    m_entries.clear();
    m_names.clear();
    m_index.clear();
    m_indexed = m_live = m_liveNameBytes = m_dead = 0;
  }

  // Gives the memory back when it is for more than `count` entries.
  void trim(size_t count) {
    if (m_entries.capacity() > count) std::vector<Entry>().swap(m_entries);
    m_index.trim(2 * count);
    if (m_names.capacity() > 16 * count) std::string().swap(m_names);
  }

 private:
  static constexpr uint32_t kDeleted = UINT32_MAX;
  // Pending entries join the index once they are this many, or as many as the indexed ones.
  static constexpr size_t kMinimumBatch = 64;

  // The index slot that holds `name`, or the empty slot that ends its probe run. Needs an index.
  size_t probe(std::string_view name, uint64_t hash) const {
    return m_index.probe(hash, [&](size_t position) {
      const Entry& entry = m_entries[position];
      return entry.hash == hash && nameOf(entry) == name;
    });
  }

  // The index slot of `name` and the position of its entry (kNone when there is none), once the
  // pending entries have joined.
  std::pair<size_t, size_t> locate(std::string_view name) {
    joinPending();
    if (m_index.capacity() == 0) return {0, EntryIndex::kNone};
    const size_t at = probe(name, nameIndexHash(name));
    return {at, m_index.positionAt(at)};
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
    if (count * 2 > m_index.capacity()) rebuildIndex(EntryIndex::capacityFor(count));
  }

  // A new entry at the end, not yet in the index.
  Entry& append(std::string_view name, uint64_t hash, Value&& value = Value()) {
    // Entry positions and name offsets are 32 bits; kDeleted is never a name's size.
    if (m_entries.size() >= UINT32_MAX || name.size() >= kDeleted - m_names.size())
      throw std::length_error("group too large");
    const auto offset = static_cast<uint32_t>(m_names.size());
    m_names.append(name.data(), name.size());
    Entry& added = m_entries.emplace_back(
        Entry{hash, offset, static_cast<uint32_t>(name.size()), std::move(value)});
    m_liveNameBytes += name.size();
    return added;
  }

  void markDeleted(Entry& entry) noexcept {
    m_liveNameBytes -= entry.nameSize;
    entry.nameSize = kDeleted;
    ++m_dead;
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

  std::vector<Entry> m_entries;  // [0, m_indexed) indexed, the rest pending
  size_t m_indexed = 0;
  std::string m_names;  // the bytes of every entry's name, deleted ones included
  EntryIndex m_index;
  size_t m_live = 0;           // live entries in the index
  size_t m_liveNameBytes = 0;  // the bytes of the names of live and pending entries
  size_t m_dead = 0;           // deleted entries not yet compacted
};

}  // namespace Tessark::internal::OvAttribute::detail
