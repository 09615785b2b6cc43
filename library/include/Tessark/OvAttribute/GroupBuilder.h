// GroupBuilder: assembles a GroupAttribute step by step.
#pragma once

#include <cstdint>
#include <memory>

#include "Tessark/OvAttribute/Attribute.h"
#include "Tessark/OvAttribute/GroupAttribute.h"

namespace Tessark::internal::OvAttribute {

namespace detail {
class GroupBuilderImpl;
}

// Collects named children and a group-inherit flag, then builds an immutable group.
//
// In BuilderModeNormal a dotted name is a path: set("a.b", x) makes or reuses a child group
// "a" and sets "b" in it (a group that the path makes takes the inherit flag of that set). In
// BuilderModeStrict names are taken as they are, dots included. Any other mode value acts as
// BuilderModeNormal. Setting a name that exists replaces the child in place; a new name is
// appended; an empty name or an invalid attribute is ignored, and so, in BuilderModeNormal, is
// a path with an empty step (".a", "a.", "a..b"). set and setWithUniqueName throw
// std::invalid_argument for a name that holds a NUL byte.
//
// One builder must not be used from two threads at once; what it builds is an ordinary,
// thread-safe attribute. A moved-from builder acts as a new BuilderModeNormal builder.
class OVATTR_API GroupBuilder {
 public:
  enum BuilderMode : int { BuilderModeNormal = 0, BuilderModeStrict = 1 };
  enum BuilderBuildMode : int { BuildAndFlush = 0, BuildAndRetain = 1 };

  explicit GroupBuilder(BuilderMode mode = BuilderModeNormal);
  GroupBuilder(GroupBuilder&&) noexcept;
  GroupBuilder& operator=(GroupBuilder&&) noexcept;
  GroupBuilder(const GroupBuilder&) = delete;
  GroupBuilder& operator=(const GroupBuilder&) = delete;
  ~GroupBuilder();

  // The overloads taking an rvalue take over the caller's handle instead of sharing it.
  GroupBuilder& set(Platform::StringView name, const Attribute& attribute,
                    bool groupInherit = true);
  GroupBuilder& set(Platform::StringView name, Attribute&& attribute, bool groupInherit = true);
  // Sets under `name` when it is free, else under the first free of name1, name2, ...
  GroupBuilder& setWithUniqueName(Platform::StringView name, const Attribute& attribute,
                                  bool groupInherit = true);
  GroupBuilder& setWithUniqueName(Platform::StringView name, Attribute&& attribute,
                                  bool groupInherit = true);
  // Removes the child (path rules as set); a missing name is no error.
  GroupBuilder& del(Platform::StringView name);
  // set() of each child of `group`, in order; an invalid group merges nothing.
  GroupBuilder& update(const GroupAttribute& group);
  // As update, except that where both this builder's child and the group's child are groups
  // they are merged recursively (the merged group keeps this builder's inherit flag for it).
  GroupBuilder& deepUpdate(const GroupAttribute& group);
  GroupBuilder& reserve(int64_t childCount);
  GroupBuilder& setGroupInherit(bool groupInherit);
  // Orders the children by name, byte-wise, stable.
  GroupBuilder& sort();

  // BuilderModeStrict or BuilderModeNormal (which any other mode given acts as).
  BuilderMode getMode() const noexcept;

  // Empties the builder (as BuildAndFlush does) and sets its mode. The memory it allocated
  // stays for the children to come (up to a bound; a huge builder's memory is given back), so
  // that one builder reset between groups allocates nothing once it has built the largest.
  GroupBuilder& reset(BuilderMode mode = BuilderModeNormal);

  // BuildAndFlush (and any value other than BuildAndRetain) leaves the builder empty, its
  // group-inherit flag back at true; BuildAndRetain keeps everything.
  GroupAttribute build(BuilderBuildMode mode = BuildAndFlush);

 private:
  std::unique_ptr<detail::GroupBuilderImpl> m_impl;
};

}  // namespace Tessark::internal::OvAttribute
