// The shared block behind every attribute handle, and the library-internal ways to make one.
// Not installed: only the library's own sources (and its white-box tests) see this layout.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Tessark/OvAttribute/Attribute.h"

namespace Tessark::internal::OvAttribute::detail {

// What a block really holds. It equals the reported type tag except for the blocks of
// testing::MakeAttributeWithTypeTag, which report any tag over null storage; every reader
// dispatches on this, so an odd tag can never make code read storage that is not there.
enum class Storage : uint8_t {
  kNull = kAttrTypeNull,
  kInt = kAttrTypeInt,
  kFloat = kAttrTypeFloat,
  kDouble = kAttrTypeDouble,
  kString = kAttrTypeString,
  kGroup = kAttrTypeGroup,
};

// One child of a group block. `name` points into the block's name bytes (not NUL-terminated,
// NULs allowed); the block owns one reference to `attribute`, which is never null.
struct GroupChild {
  const char* name;
  size_t nameSize;
  AttributeData* attribute;
};

// One immutable attribute value: header, sample times, values and (for strings and groups)
// their bytes, all in one malloc'd block.
//
// Data layout: [header][times: float x sampleCount][pad to 8][values][string bytes].
// Values are sampleCount rows of valueCount elements, sample after sample in ascending time.
// Strings: the values are a `const char*` table into the string bytes, which hold every string
// NUL-terminated in table order (so the bytes alone, given the count, determine the strings;
// the hash relies on that).
// Group layout: [header][GroupChild x childCount][uint32_t slot x groupIndexCapacity][name bytes].
struct AttributeData {
  // The header of a block of `kind`, reporting that kind's tag, with one reference and every
  // other field zero: whoever makes the block fills in the rest by name.
  constexpr explicit AttributeData(Storage kind, bool neverFreed = false) noexcept
      : typeTag(static_cast<int32_t>(kind)), storage(kind), immortal(neverFreed) {}

  // Increments are relaxed: a new reference is always made from an existing one, which keeps
  // the block alive, and nothing is published through the count. The decrement is acq_rel so
  // that every thread's reads of the block happen before the final release frees it.
  std::atomic<uint64_t> refCount{1};
  int32_t typeTag;
  Storage storage;
  bool immortal;              // never counted, never freed (the shared null block)
  bool groupInherit = false;  // groups only
  // The hash is computed at most a few times (racing first users compute the same words) and
  // published with release on hashReady; readers acquire it before reading the words.
  std::atomic<uint32_t> hashReady{0};
  std::atomic<uint64_t> hashFirst{0};
  std::atomic<uint64_t> hashSecond{0};
  int64_t tupleSize = 0;
  int64_t valueCount = 0;   // per sample
  int64_t sampleCount = 0;  // data: number of samples
  int64_t childCount = 0;   // groups: number of children
  const float* times = nullptr;
  // Data: sampleCount * valueCount elements (int32_t, float, double or const char*).
  // Groups: the GroupChild array.
  const void* values = nullptr;
  // Groups: the name index, an open-addressing table (linear probing, at most half full) whose
  // slots hold a child index + 1, or 0 when empty. Children were inserted in order, so of equal
  // names the first one is met first. Not part of the hash: it is derived from the names.
  const uint32_t* nameIndex = nullptr;
  size_t stringBytes = 0;  // strings: size of the string bytes; groups: size of the name bytes
};

// Block sizes computed from counts a caller gave: an overflow is a value too large to hold,
// never a wrapped, too small allocation.
inline size_t checkedAdd(size_t a, size_t b) {
  size_t r;
  if (__builtin_add_overflow(a, b, &r)) throw std::length_error("attribute too large");
  return r;
}
inline size_t checkedMul(size_t a, size_t b) {
  size_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw std::length_error("attribute too large");
  return r;
}

inline void retain(AttributeData* data) noexcept {
  if (data && !data->immortal) data->refCount.fetch_add(1, std::memory_order_relaxed);
}

// A new handle to `data`, which counts one more reference.
inline Attribute sharedHandle(AttributeData* data) noexcept {
  retain(data);
  return Attribute(data);
}

// What a converting constructor holds: the block of `attribute` when `kindMatches`, else null.
// shareIf counts a reference of its own; takeIf takes over the one `attribute` holds, leaving
// it invalid.
inline AttributeData* shareIf(const Attribute& attribute, bool kindMatches) noexcept {
  if (!kindMatches) return nullptr;
  retain(attribute._data());
  return attribute._data();
}
inline AttributeData* takeIf(Attribute& attribute, bool kindMatches) noexcept {
  return kindMatches ? attribute._release() : nullptr;
}

// Drops one reference; the last one frees the block and, without recursion, every child block
// whose last reference it held.
void release(AttributeData* data) noexcept;

// The values of sample `sample` of a data block whose elements are T.
template <typename T>
const T* rowOf(const AttributeData* data, int64_t sample) noexcept {
  return static_cast<const T*>(data->values) + sample * data->valueCount;
}

// The first index at which `times` stop being strictly ascending (a NaN, or a time not above
// the one before it), or `count` when they are all in order.
size_t firstUnorderedTime(const float* times, size_t count) noexcept;

// Index of the sample of a data block nearest to `time`: the earlier one on a tie, the first
// for NaN; -1 when there are no samples. O(log samples).
int64_t nearestSampleIndex(const AttributeData* data, float time) noexcept;

inline const GroupChild* groupChildren(const AttributeData* data) noexcept {
  return data->storage == Storage::kGroup ? static_cast<const GroupChild*>(data->values) : nullptr;
}
inline std::string_view childName(const GroupChild& child) noexcept {
  return {child.nameSize ? child.name : "", child.nameSize};
}

// Walks the tree under the group block `root` depth first, children in order. Its place in
// each open group is kept on a heap stack, so that depth costs heap, never thread stack.
//
// visit(child, depth) sees each child of each group walked into (depth 1 for the children of
// `root`) and returns whether to walk into that child too; a block that is no group has no
// children, so walking into one only leaves it again. leave(group, depth) follows the last
// child of each group walked into, `root` (depth 0) last. Either may throw, which ends the walk.
template <typename Visit, typename Leave>
void walkGroups(AttributeData* root, Visit&& visit, Leave&& leave) {
  std::vector<std::pair<AttributeData*, int64_t>> stack;  // a group, its next child
  stack.reserve(16);
  stack.emplace_back(root, 0);
  while (!stack.empty()) {
    AttributeData* group = stack.back().first;
    const GroupChild* children = groupChildren(group);
    const int64_t count = group->childCount;
    const size_t depth = stack.size();
    int64_t i = stack.back().second;
    while (i < count && !visit(children[i], depth)) ++i;
    if (i < count) {
      stack.back().second = i + 1;
      stack.emplace_back(children[i].attribute, 0);
    } else {
      stack.pop_back();
      leave(group, depth - 1);
    }
  }
}

// A new data block (one reference) of `sampleCount` samples at `times` (strictly ascending), sample
// i holding `valueCount` values at rows[i]. A null row, or null `rows`, holds zeros (empty
// strings); a null string is "". Counts below 0 are 0. Throws std::bad_alloc or std::length_error
// when the sizes do not fit.
template <typename T>
AttributeData* newTypedData(const float* times, int64_t sampleCount, const T* const* rows,
                            int64_t valueCount, int64_t tupleSize);

// A new numeric data block (one reference) whose times and values are left for the caller to
// write, through writableTimes and writableValues, before it hands the block to anyone: a
// reader fills the block where it parses, with no array in between. Throws as newTypedData.
template <typename T>
AttributeData* newNumericData(int64_t sampleCount, int64_t valueCount, int64_t tupleSize);

inline float* writableTimes(AttributeData* data) noexcept {
  return const_cast<float*>(data->times);
}
template <typename T>
T* writableValues(AttributeData* data) noexcept {
  return static_cast<T*>(const_cast<void*>(data->values));
}

// Writes a group block child by child, for callers that know the child count and the total
// size of the names up front: no temporary list of children, and a builder that has each
// name's nameIndexHash at hand passes it. Exactly `childCount` adds must precede finish(); a
// writer destroyed unfinished frees its block and releases the children added so far.
class GroupBlockWriter {
 public:
  // Allocates the block; throws std::bad_alloc or std::length_error.
  GroupBlockWriter(size_t childCount, size_t nameBytes, bool groupInherit);
  GroupBlockWriter(const GroupBlockWriter&) = delete;
  GroupBlockWriter& operator=(const GroupBlockWriter&) = delete;
  ~GroupBlockWriter();

  // Appends a child (never null) named `name`, whose nameIndexHash is `nameHash`: the block
  // retains it, or takes over the caller's reference when `adopt`. The caller knows the names
  // to be distinct. Throws std::logic_error past childCount children or nameBytes bytes of
  // names (an adopted child is released).
  void add(std::string_view name, uint64_t nameHash, AttributeData* child, bool adopt = false);
  // As add with adopt, for names that may repeat: false, adding nothing and releasing
  // `child`, when a child of that name is there already.
  bool addIfNew(std::string_view name, uint64_t nameHash, AttributeData* child);
  // The finished block (one reference). Throws std::logic_error before childCount adds.
  AttributeData* finish();

 private:
  bool insert(std::string_view name, uint64_t nameHash, AttributeData* child, bool adopt,
              bool refuseRepeat);

  char* m_memory = nullptr;
  GroupChild* m_children = nullptr;
  uint32_t* m_slots = nullptr;  // groupIndexCapacity(childCount) of them
  size_t m_slotMask = 0;        // that count - 1
  char* m_names = nullptr;
  size_t m_childCount;
  size_t m_added = 0;
  size_t m_nameBytes;
  size_t m_namesUsed = 0;
  bool m_groupInherit;
};

// Puts together nested groups whose children arrive one at a time, as a reader meets them:
// the children of every open group on one stack, names in one byte buffer, and each group's
// block written when it closes. Memory grows with the children actually added, never with
// counts a caller announces, and nesting costs heap, not thread stack.
class GroupAssembler {
 public:
  GroupAssembler() = default;
  GroupAssembler(const GroupAssembler&) = delete;
  GroupAssembler& operator=(const GroupAssembler&) = delete;
  ~GroupAssembler();  // releases the children of groups still open

  void open(bool groupInherit);
  // Adds a child to the innermost open group.
  void add(std::string_view name, Attribute child);
  // Closes the innermost open group and returns it; invalid when two of its children share a
  // name, which then goes to `repeatedName` when given.
  Attribute close(std::string* repeatedName = nullptr);
  // Closes the innermost open group without making it.
  void discard() noexcept;

 private:
  struct Child {
    size_t nameOffset;
    size_t nameSize;
    AttributeData* attribute;  // one reference, owned
  };
  struct Frame {
    size_t firstChild;
    size_t firstNameByte;
    bool groupInherit;
  };
  void drop(size_t firstChild, size_t firstNameByte) noexcept;

  std::vector<Child> m_children;
  std::string m_names;
  std::vector<Frame> m_frames;
};

// Number of slots of the name index of a group of `childCount` children: a power of two at
// least twice the count (0 for no children).
inline size_t groupIndexCapacity(int64_t childCount) noexcept {
  if (childCount <= 0) return 0;
  const auto n = static_cast<uint64_t>(childCount) * 2;
  return size_t{1} << (64 - __builtin_clzll(n - 1));
}

// The hash that places `name` in a name index (not the attribute hash).
uint64_t nameIndexHash(std::string_view name) noexcept;

}  // namespace Tessark::internal::OvAttribute::detail
