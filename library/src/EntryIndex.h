// EntryIndex: the group builder's index from child names to the positions of their entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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
  bool holds(size_t count) const noexcept { return count * 2 <= m_slots.size(); }

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

}  // namespace Tessark::internal::OvAttribute::detail
