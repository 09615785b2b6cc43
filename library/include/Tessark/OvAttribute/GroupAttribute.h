// GroupAttribute: an immutable, ordered list of named child attributes.
#pragma once

#include <cstdint>
#include <string>

#include "Tessark/OvAttribute/Attribute.h"

namespace Tessark::internal::OvAttribute {

// A group: children in order, each with a name (any bytes), and a group-inherit flag. Groups
// are made by GroupBuilder or parsed. Name lookup is O(1) expected (a hash index).
class OVATTR_API GroupAttribute : public Attribute {
 public:
  GroupAttribute() noexcept = default;  // invalid
  // Shares `attribute` when it is a group; otherwise invalid.
  explicit GroupAttribute(const Attribute& attribute) noexcept;
  explicit GroupAttribute(Attribute&& attribute) noexcept;

  int64_t getNumberOfChildren() const noexcept;  // 0 when invalid
  // "" for an index outside the children.
  std::string getChildName(int64_t index) const;
  Platform::StringView getChildNameView(int64_t index) const noexcept;
  // Invalid for an index outside the children.
  Attribute getChildByIndex(int64_t index) const noexcept;
  // The child named exactly `name`; failing that, when `name` has dots, the path through child
  // groups ("a.b" is child "b" of group child "a"). At each level the exact remaining name is
  // tried first, then the step up to its first dot. Invalid when there is none.
  Attribute getChildByName(Platform::StringView name) const noexcept;
  // Index of the child named exactly `name`, or -1.
  int64_t getChildIndex(Platform::StringView name) const noexcept;
  bool getGroupInherit() const noexcept;  // false when invalid
};

}  // namespace Tessark::internal::OvAttribute
