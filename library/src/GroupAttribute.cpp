// Group blocks: construction, name index and lookup.

#include "Tessark/OvAttribute/GroupAttribute.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numeric>
#include <stdexcept>

#include "AttributeData.h"

namespace Tessark::internal::OvAttribute {

namespace detail {

namespace {

size_t checkedAdd(size_t a, size_t b) {
  size_t r;
  if (__builtin_add_overflow(a, b, &r)) throw std::length_error("group too large");
  return r;
}

size_t checkedMul(size_t a, size_t b) {
  size_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw std::length_error("group too large");
  return r;
}

}  // namespace

AttributeData* newGroupData(const GroupChildInput* children, size_t count, bool groupInherit) {
  size_t kept = 0;
  size_t nameBytes = 0;
  for (size_t i = 0; i < count; ++i) {
    if (!children[i].attribute) continue;
    ++kept;
    nameBytes = checkedAdd(nameBytes, children[i].name.size());
  }
  static_assert(sizeof(AttributeData) % alignof(GroupChild) == 0, "children follow the header");
  const size_t childrenOffset = sizeof(AttributeData);
  const size_t orderOffset = checkedAdd(childrenOffset, checkedMul(kept, sizeof(GroupChild)));
  const size_t namesOffset = checkedAdd(orderOffset, checkedMul(kept, sizeof(size_t)));
  const size_t blockSize = checkedAdd(namesOffset, nameBytes);

  char* memory = static_cast<char*>(std::malloc(blockSize));
  if (!memory) throw std::bad_alloc();
  auto* out = reinterpret_cast<GroupChild*>(memory + childrenOffset);
  auto* order = reinterpret_cast<size_t*>(memory + orderOffset);
  char* names = memory + namesOffset;

  size_t k = 0;
  for (size_t i = 0; i < count; ++i) {
    if (!children[i].attribute) continue;
    size_t n = children[i].name.size();
    if (n) std::memcpy(names, children[i].name.data(), n);
    out[k] = GroupChild{names, n, children[i].attribute};
    retain(children[i].attribute);
    names += n;
    ++k;
  }
  std::iota(order, order + kept, size_t{0});
  // Builders hand over names that are already unique; sorted input (after sort()) is common,
  // so check before sorting.
  auto less = [out](size_t a, size_t b) { return childName(out[a]) < childName(out[b]); };
  if (!std::is_sorted(order, order + kept, less)) {
    try {
      std::stable_sort(order, order + kept, less);
    } catch (...) {
      for (size_t i = 0; i < kept; ++i) release(out[i].attribute);
      std::free(memory);
      throw;
    }
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
                                    order,
                                    nameBytes};
}

int64_t findChild(const AttributeData* group, std::string_view name) noexcept {
  const GroupChild* children = groupChildren(group);
  if (!children) return -1;
  const size_t* begin = group->nameOrder;
  const size_t* end = begin + group->childCount;
  const size_t* at = std::lower_bound(begin, end, name, [children](size_t i, std::string_view n) {
    return childName(children[i]) < n;
  });
  if (at == end || childName(children[*at]) != name) return -1;
  return static_cast<int64_t>(*at);
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
