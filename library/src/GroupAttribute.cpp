// Group blocks: construction, name index and lookup.

#include "Tessark/OvAttribute/GroupAttribute.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

// Inlined: name hashes are short and hot on every lookup.
#define XXH_INLINE_ALL
#include <xxhash.h>

#include "AttributeData.h"

namespace Tessark::internal::OvAttribute {

namespace detail {

uint64_t nameIndexHash(std::string_view name) noexcept {
  return XXH3_64bits(name.empty() ? "" : name.data(), name.size());
}

AttributeData* newGroupData(const GroupChildInput* children, size_t count, bool groupInherit) {
  size_t kept = 0;
  size_t nameBytes = 0;
  for (size_t i = 0; i < count; ++i) {
    if (!children[i].attribute) continue;
    ++kept;
    nameBytes = checkedAdd(nameBytes, children[i].name.size());
  }
  // Slots hold index + 1 in 32 bits; the table is twice the count.
  if (kept >= (size_t{1} << 31)) throw std::length_error("group too large");
  const size_t capacity = groupIndexCapacity(static_cast<int64_t>(kept));
  static_assert(sizeof(AttributeData) % alignof(GroupChild) == 0, "children follow the header");
  static_assert(sizeof(GroupChild) % alignof(uint32_t) == 0, "the index follows the children");
  const size_t childrenOffset = sizeof(AttributeData);
  const size_t indexOffset = checkedAdd(childrenOffset, checkedMul(kept, sizeof(GroupChild)));
  const size_t namesOffset = checkedAdd(indexOffset, checkedMul(capacity, sizeof(uint32_t)));
  const size_t blockSize = checkedAdd(namesOffset, nameBytes);

  char* memory = static_cast<char*>(std::malloc(blockSize));
  if (!memory) throw std::bad_alloc();
  auto* out = reinterpret_cast<GroupChild*>(memory + childrenOffset);
  auto* slots = reinterpret_cast<uint32_t*>(memory + indexOffset);
  char* names = memory + namesOffset;
  if (capacity) std::memset(slots, 0, capacity * sizeof(uint32_t));

  const size_t mask = capacity - 1;
  size_t k = 0;
  for (size_t i = 0; i < count; ++i) {
    if (!children[i].attribute) continue;
    const std::string_view name = children[i].name;
    const size_t n = name.size();
    if (n) std::memcpy(names, name.data(), n);
    out[k] = GroupChild{names, n, children[i].attribute};
    retain(children[i].attribute);
    names += n;
    // Linear probing into the first free slot: a later equal name lands further along the
    // same run, so lookups meet the first of equal names first without comparing here.
    size_t at = nameIndexHash(name) & mask;
    while (slots[at]) at = (at + 1) & mask;
    slots[at] = static_cast<uint32_t>(k + 1);
    ++k;
  }

  return new (memory) AttributeData{{1},
                                    kAttrTypeGroup,
                                    Storage::kGroup,
                                    false,
                                    groupInherit,
                                    {0},
                                    {0},
                                    {0},
                                    0,
                                    0,
                                    0,
                                    static_cast<int64_t>(kept),
                                    nullptr,
                                    out,
                                    slots,
                                    nameBytes};
}

int64_t findChild(const AttributeData* group, std::string_view name) noexcept {
  const GroupChild* children = groupChildren(group);
  if (!children || group->childCount <= 0) return -1;
  const uint32_t* slots = group->nameIndex;
  const size_t mask = groupIndexCapacity(group->childCount) - 1;
  // The table is at most half full, so every probe run ends at an empty slot.
  for (size_t at = nameIndexHash(name) & mask;; at = (at + 1) & mask) {
    const uint32_t slot = slots[at];
    if (!slot) return -1;
    const GroupChild& child = children[slot - 1];
    if (child.nameSize == name.size() &&
        (name.empty() || std::memcmp(child.name, name.data(), name.size()) == 0))
      return static_cast<int64_t>(slot - 1);
  }
}

}  // namespace detail

GroupAttribute::GroupAttribute(const Attribute& attribute) noexcept {
  if (attribute.getType() == kAttrTypeGroup) {
    m_data = attribute._data();
    detail::retain(m_data);
  }
}

GroupAttribute::GroupAttribute(Attribute&& attribute) noexcept {
  if (attribute.getType() == kAttrTypeGroup) {
    m_data = attribute._data();
    detail::retain(m_data);
    attribute = Attribute();
  }
}

int64_t GroupAttribute::getNumberOfChildren() const noexcept {
  return m_data ? m_data->childCount : 0;
}

std::string GroupAttribute::getChildName(int64_t index) const {
  return getChildNameView(index).str();
}

Platform::StringView GroupAttribute::getChildNameView(int64_t index) const noexcept {
  const detail::GroupChild* children = m_data ? detail::groupChildren(m_data) : nullptr;
  if (!children || index < 0 || index >= m_data->childCount) return Platform::StringView();
  return Platform::StringView(children[index].name, children[index].nameSize);
}

Attribute GroupAttribute::getChildByIndex(int64_t index) const noexcept {
  const detail::GroupChild* children = m_data ? detail::groupChildren(m_data) : nullptr;
  if (!children || index < 0 || index >= m_data->childCount) return Attribute();
  detail::AttributeData* child = children[index].attribute;
  detail::retain(child);
  return Attribute(child);
}

Attribute GroupAttribute::getChildByName(Platform::StringView name) const noexcept {
  const detail::AttributeData* group = m_data;
  std::string_view rest = name.view();
  // Exact name first at every level; otherwise step into the child group named by the text up
  // to the first dot and look the remainder up there.
  while (group && detail::groupChildren(group)) {
    int64_t exact = detail::findChild(group, rest);
    if (exact >= 0) {
      detail::AttributeData* child = detail::groupChildren(group)[exact].attribute;
      detail::retain(child);
      return Attribute(child);
    }
    size_t dot = rest.find('.');
    if (dot == std::string_view::npos) break;
    int64_t head = detail::findChild(group, rest.substr(0, dot));
    if (head < 0) break;
    group = detail::groupChildren(group)[head].attribute;
    rest.remove_prefix(dot + 1);
  }
  return Attribute();
}

int64_t GroupAttribute::getChildIndex(Platform::StringView name) const noexcept {
  return m_data ? detail::findChild(m_data, name.view()) : -1;
}

bool GroupAttribute::getGroupInherit() const noexcept {
  return m_data && m_data->storage == detail::Storage::kGroup && m_data->groupInherit;
}

}  // namespace Tessark::internal::OvAttribute
