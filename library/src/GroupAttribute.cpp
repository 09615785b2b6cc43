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

GroupBlockWriter::GroupBlockWriter(size_t childCount, size_t nameBytes, bool groupInherit)
    : m_childCount(childCount), m_nameBytes(nameBytes), m_groupInherit(groupInherit) {
  // Slots hold index + 1 in 32 bits; the table is twice the count.
  if (childCount >= (size_t{1} << 31)) throw std::length_error("group too large");
  static_assert(sizeof(AttributeData) % alignof(GroupChild) == 0, "children follow the header");
  static_assert(sizeof(GroupChild) % alignof(uint32_t) == 0, "the index follows the children");
  const size_t capacity = groupIndexCapacity(static_cast<int64_t>(childCount));
  const size_t slotsOffset =
      checkedAdd(sizeof(AttributeData), checkedMul(childCount, sizeof(GroupChild)));
  const size_t namesOffset = checkedAdd(slotsOffset, checkedMul(capacity, sizeof(uint32_t)));
  m_memory = static_cast<char*>(std::malloc(checkedAdd(namesOffset, nameBytes)));
  if (!m_memory) throw std::bad_alloc();
  m_children = reinterpret_cast<GroupChild*>(m_memory + sizeof(AttributeData));
  m_slots = reinterpret_cast<uint32_t*>(m_memory + slotsOffset);
  m_names = m_memory + namesOffset;
  m_slotMask = capacity - 1;
  if (capacity) std::memset(m_slots, 0, capacity * sizeof(uint32_t));
}

GroupBlockWriter::~GroupBlockWriter() {
  if (!m_memory) return;
  for (size_t i = 0; i < m_added; ++i) release(m_children[i].attribute);
  std::free(m_memory);
}

void GroupBlockWriter::add(std::string_view name, uint64_t nameHash, AttributeData* child,
                           bool adopt) {
  insert(name, nameHash, child, adopt, false);
}

bool GroupBlockWriter::addIfNew(std::string_view name, uint64_t nameHash, AttributeData* child) {
  return insert(name, nameHash, child, true, true);
}

bool GroupBlockWriter::insert(std::string_view name, uint64_t nameHash, AttributeData* child,
                              bool adopt, bool refuseRepeat) {
  if (!m_memory || m_added == m_childCount || !child || name.size() > m_nameBytes - m_namesUsed) {
    if (adopt) release(child);
    throw std::logic_error("GroupBlockWriter: more children than announced");
  }
  // Linear probing into the first free slot: a later equal name lands further along the
  // same run, so lookups meet the first of equal names first.
  size_t at = nameHash & m_slotMask;
  for (; m_slots[at]; at = (at + 1) & m_slotMask) {
    if (!refuseRepeat) continue;
    if (childName(m_children[m_slots[at] - 1]) == name) {
      release(child);
      return false;
    }
  }
  char* stored = m_names + m_namesUsed;
  if (!name.empty()) std::memcpy(stored, name.data(), name.size());
  m_namesUsed += name.size();
  m_children[m_added] = GroupChild{stored, name.size(), child};
  if (!adopt) retain(child);
  m_slots[at] = static_cast<uint32_t>(++m_added);
  return true;
}

AttributeData* GroupBlockWriter::finish() {
  if (!m_memory || m_added != m_childCount || m_namesUsed != m_nameBytes)
    throw std::logic_error("GroupBlockWriter: fewer children than announced");
  char* memory = m_memory;
  m_memory = nullptr;
  auto* group = new (memory) AttributeData(Storage::kGroup);
  group->groupInherit = m_groupInherit;
  group->childCount = static_cast<int64_t>(m_childCount);
  group->values = m_children;
  group->nameIndex = m_slots;
  group->stringBytes = m_nameBytes;
  return group;
}

GroupAssembler::~GroupAssembler() { drop(0, 0); }

void GroupAssembler::open(bool groupInherit) {
  m_frames.push_back(Frame{m_children.size(), m_names.size(), groupInherit});
}

void GroupAssembler::add(std::string_view name, Attribute child) {
  const size_t offset = m_names.size();
  m_names.append(name.data(), name.size());
  try {
    m_children.push_back(Child{offset, name.size(), child._data()});
  } catch (...) {
    m_names.resize(offset);
    throw;
  }
  child._release();  // the assembler owns that reference now
}

Attribute GroupAssembler::close(std::string* repeatedName) {
  const Frame frame = m_frames.back();
  const size_t count = m_children.size() - frame.firstChild;
  const size_t nameBytes = m_names.size() - frame.firstNameByte;
  GroupBlockWriter writer(count, nameBytes, frame.groupInherit);
  size_t next = frame.firstChild;
  bool distinct = true;
  for (; next < m_children.size() && distinct; ++next) {
    Child& child = m_children[next];
    const std::string_view name(m_names.data() + child.nameOffset, child.nameSize);
    AttributeData* adopted = child.attribute;
    child.attribute = nullptr;  // the writer owns it now, whatever happens
    distinct = writer.addIfNew(name, nameIndexHash(name), adopted);
    if (!distinct && repeatedName) repeatedName->assign(name);
  }
  discard();  // the children not handed to the writer, if any
  return distinct ? Attribute(writer.finish()) : Attribute();
}

void GroupAssembler::discard() noexcept {
  const Frame frame = m_frames.back();
  m_frames.pop_back();
  drop(frame.firstChild, frame.firstNameByte);
}

void GroupAssembler::drop(size_t firstChild, size_t firstNameByte) noexcept {
  for (size_t i = firstChild; i < m_children.size(); ++i) release(m_children[i].attribute);
  m_children.resize(firstChild);
  m_names.resize(firstNameByte);
}

namespace {

// Index of the first child named exactly `name`, or -1. O(1) expected.
int64_t findChild(const AttributeData* group, std::string_view name) noexcept {
  const GroupChild* children = groupChildren(group);
  if (!children || group->childCount <= 0) return -1;
  const uint32_t* slots = group->nameIndex;
  const size_t mask = groupIndexCapacity(group->childCount) - 1;
  // The table is at most half full, so every probe run ends at an empty slot.
  for (size_t at = nameIndexHash(name) & mask;; at = (at + 1) & mask) {
    const uint32_t slot = slots[at];
    if (!slot) return -1;
    if (childName(children[slot - 1]) == name) return static_cast<int64_t>(slot - 1);
  }
}

// Child `index` of a group block; null for an index outside the children or no group.
const GroupChild* childAt(const AttributeData* data, int64_t index) noexcept {
  const GroupChild* children = data ? groupChildren(data) : nullptr;
  return children && index >= 0 && index < data->childCount ? children + index : nullptr;
}

}  // namespace

}  // namespace detail

GroupAttribute::GroupAttribute(const Attribute& attribute) noexcept {
  m_data = detail::shareIf(attribute, attribute.getType() == kAttrTypeGroup);
}

GroupAttribute::GroupAttribute(Attribute&& attribute) noexcept {
  m_data = detail::takeIf(attribute, attribute.getType() == kAttrTypeGroup);
}

int64_t GroupAttribute::getNumberOfChildren() const noexcept {
  return m_data ? m_data->childCount : 0;
}

std::string GroupAttribute::getChildName(int64_t index) const {
  return getChildNameView(index).str();
}

Platform::StringView GroupAttribute::getChildNameView(int64_t index) const noexcept {
  const detail::GroupChild* child = detail::childAt(m_data, index);
  return child ? Platform::StringView(child->name, child->nameSize) : Platform::StringView();
}

Attribute GroupAttribute::getChildByIndex(int64_t index) const noexcept {
  const detail::GroupChild* child = detail::childAt(m_data, index);
  return child ? detail::sharedHandle(child->attribute) : Attribute();
}

Attribute GroupAttribute::getChildByName(Platform::StringView name) const noexcept {
  const detail::AttributeData* group = m_data;
  std::string_view rest = name.view();
  // Exact name first at every level; otherwise step into the child group named by the text up
  // to the first dot and look the remainder up there.
  while (group && detail::groupChildren(group)) {
    int64_t exact = detail::findChild(group, rest);
    if (exact >= 0) return detail::sharedHandle(detail::groupChildren(group)[exact].attribute);
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
