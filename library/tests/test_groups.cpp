// Groups and the builder against a plain model of the rules (paths, replacement, unique names,
// merges, sorting): random edits in both modes must give the model's group after every step.

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "support.h"

namespace libtest {
namespace {

// A child as the rules see it: a leaf attribute, or a group node (leaf invalid).
struct Node {
  std::string name;
  Attribute leaf;
  bool inherit = true;
  std::vector<Node> children;

  static Node of(std::string name, const Attribute& value) {
    const GroupAttribute group(value);  // an invalid view: no children
    Node node{std::move(name), group.isValid() ? Attribute() : value, group.getGroupInherit(), {}};
    for (int64_t i = 0; i < group.getNumberOfChildren(); ++i)
      node.children.push_back(of(group.getChildName(i), group.getChildByIndex(i)));
    return node;
  }
  bool isGroup() const { return !leaf.isValid(); }
  Node* find(const std::string& n) {
    for (Node& child : children)
      if (child.name == n) return &child;
    return nullptr;
  }
  void put(Node child) {
    if (Node* existing = find(child.name))
      *existing = std::move(child);
    else
      children.push_back(std::move(child));
  }
};

::testing::AssertionResult matches(const Node& node, const Attribute& a, const std::string& at) {
  const GroupAttribute group(a);
  const auto n = static_cast<int64_t>(node.children.size());
  if (node.isGroup() ? !group.isValid() || group.getGroupInherit() != node.inherit ||
                           group.getNumberOfChildren() != n
                     : !(a == node.leaf))
    return ::testing::AssertionFailure() << "differs at '" << at << "'";
  for (int64_t i = 0; i < n; ++i) {
    const Node& child = node.children[static_cast<size_t>(i)];
    if (group.getChildName(i) != child.name)
      return ::testing::AssertionFailure() << "name " << i << " differs at '" << at << "'";
    if (auto r = matches(child, group.getChildByIndex(i), at + "/" + child.name); !r) return r;
  }
  return ::testing::AssertionSuccess();
}

struct Model {
  bool strict;
  Node root;

  void del(const std::string& name) {
    std::string last;
    if (Node* parent = parentOf(root, name, last)) {
      auto& c = parent->children;
      c.erase(std::remove_if(c.begin(), c.end(), [&](const Node& n) { return n.name == last; }),
              c.end());
    }
  }

  // getChildByName: the exact name first, then the step up to the first dot, at every level.
  static Node* lookup(Node& node, const std::string& name) {
    const size_t dot = name.find('.');
    Node* exact = node.find(name);
    Node* step = exact || dot == std::string::npos ? nullptr : node.find(name.substr(0, dot));
    return exact ? exact : step && step->isGroup() ? lookup(*step, name.substr(dot + 1)) : nullptr;
  }

  bool validName(const std::string& name) const {
    if (name.empty()) return false;
    if (strict || name.find('.') == std::string::npos) return true;
    return name.front() != '.' && name.back() != '.' && name.find("..") == std::string::npos;
  }

  void set(Node& into, const std::string& name, const Attribute& value, bool inherit,
           bool unique = false) {
    if (!value.isValid() || !validName(name)) return;
    std::string last;
    Node* parent = parentOf(into, name, last, inherit);
    if (unique && parent->find(last)) {
      int suffix = 1;
      while (parent->find(last + std::to_string(suffix))) ++suffix;
      last += std::to_string(suffix);
    }
    parent->put(Node::of(last, value));
  }

  // The node holding the last step of a path (that step left in `last`), through existing
  // groups or null; with `create`, a step without a group gets a new one of that inherit.
  Node* parentOf(Node& from, const std::string& name, std::string& last,
                 std::optional<bool> create = std::nullopt) const {
    Node* node = &from;
    last = name;
    for (size_t dot; !strict && (dot = last.find('.')) != std::string::npos;) {
      const std::string head = last.substr(0, dot);
      last.erase(0, dot + 1);
      Node* step = node->find(head);
      if (create && (!step || !step->isGroup()))
        node->put(Node{head, Attribute(), *create, {}}), step = node->find(head);
      if (!step || !step->isGroup()) return nullptr;
      node = step;
    }
    return node;
  }

  // update, or deepUpdate: a group child merges into a group the builder has at that name.
  void update(Node& into, const GroupAttribute& group, bool deep) {
    for (int64_t i = 0; i < group.getNumberOfChildren(); ++i) {
      const std::string name = group.getChildName(i);
      const Attribute child = group.getChildByIndex(i);
      std::string last;
      Node* parent = deep && child.getType() == kAttrTypeGroup && validName(name)
                         ? parentOf(into, name, last)
                         : nullptr;
      Node* existing = parent ? parent->find(last) : nullptr;
      if (existing && existing->isGroup())
        update(*existing, GroupAttribute(child), true);
      else
        set(into, name, child, true);
    }
  }
};

std::string randomName(Generator& random, bool allowOdd) {
  static const char* const steps[] = {"a", "b", "ab", "a1", "a2", "1"};
  std::string name = steps[random.pick(6)];
  for (int i = random.pick(3); i > 0; --i) name += std::string(".") + steps[random.pick(6)];
  static const char* const odd[] = {"", ".a", "a.", "a..b", "a.b.", "\xff.b"};
  return allowOdd && random.pick(8) == 0 ? odd[random.pick(6)] : name;
}

Attribute randomValue(Generator& random, bool strict, int depth = 0) {
  if (depth < 2 && random.pick(3) == 0) {
    GroupBuilder nested(strict ? GroupBuilder::BuilderModeStrict : GroupBuilder::BuilderModeNormal);
    for (int i = random.pick(4); i > 0; --i)
      nested.set(randomName(random, false), randomValue(random, strict, depth + 1));
    return nested.setGroupInherit(random.pick(2)).build();
  }
  return random.pick(8) == 0 ? Attribute() : random.any(2);
}

void runModel(bool strict, uint32_t seed) {
  Generator random(seed);
  GroupBuilder builder(strict ? GroupBuilder::BuilderModeStrict : GroupBuilder::BuilderModeNormal);
  Model model{strict, {}};
  for (int step = 0; step < 400; ++step) {
    const std::string name = randomName(random, true);
    const bool inherit = random.pick(2);
    const Attribute value = randomValue(random, strict);
    const int action = random.pick(9);
    if (action < 3) {
      builder.set(name, value, inherit);
      model.set(model.root, name, value, inherit);
    } else if (action == 3) {
      builder.setWithUniqueName(name, value, inherit);
      model.set(model.root, name, value, inherit, true);
    } else if (action < 6) {
      builder.del(name);
      model.del(name);
    } else if (action == 6) {
      const GroupAttribute other(
          value.getType() == kAttrTypeGroup ? value : GroupBuilder().set(name, value).build());
      (inherit ? builder.deepUpdate(other) : builder.update(other));
      model.update(model.root, other, inherit);
    } else if (action == 7) {
      builder.sort().setGroupInherit(inherit);
      std::stable_sort(model.root.children.begin(), model.root.children.end(),
                       [](const Node& a, const Node& b) { return a.name < b.name; });
      model.root.inherit = inherit;
    } else {
      const GroupAttribute built =
          builder.build(inherit ? GroupBuilder::BuildAndFlush : GroupBuilder::BuildAndRetain);
      ASSERT_TRUE(matches(model.root, built, "")) << "seed " << seed << " step " << step;
      for (int i = 0; i < 4; ++i) {
        const std::string probe = randomName(random, true);
        const Node* expected = Model::lookup(model.root, probe);
        const Attribute found = built.getChildByName(probe);
        EXPECT_TRUE(expected ? matches(*expected, found, probe) : !found.isValid()) << probe;
      }
      if (inherit) model.root = Node{};
    }
    ASSERT_TRUE(matches(model.root, builder.build(GroupBuilder::BuildAndRetain), ""))
        << "seed " << seed << " step " << step << " action " << action << " '" << name << "'";
  }
}

TEST(GroupModel, NormalAndStrictModes) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    runModel(false, seed);
    if (seed <= 6) runModel(true, seed);
  }
}

TEST(Groups, BuilderEdges) {
  // Children are shared, never copied; an invalid group view merges nothing.
  const IntAttribute one(1);
  GroupBuilder builder;
  const GroupAttribute g = builder.set("x", one).deepUpdate({}).update({}).build();
  EXPECT_EQ(g.getChildByIndex(0)._data(), one._data());
  EXPECT_EQ(refCount(one), 2u);
  builder.set("kept", one);
  EXPECT_THROW(builder.set(std::string("a\0b", 3), one), std::invalid_argument);
  EXPECT_THROW(builder.setWithUniqueName(std::string("\0", 1), one), std::invalid_argument);
  EXPECT_EQ(builder.build().getNumberOfChildren(), 1);
  // Flushing empties the builder and resets inherit; other modes act as the defaults.
  builder.set("a", one).setGroupInherit(false);
  EXPECT_EQ(builder.build(static_cast<GroupBuilder::BuilderBuildMode>(7)).getNumberOfChildren(), 1);
  EXPECT_TRUE(builder.build().getGroupInherit());
  GroupBuilder oddMode(static_cast<GroupBuilder::BuilderMode>(9));
  EXPECT_EQ(oddMode.set("a.b", one).build().getNumberOfChildren(), 1);
  // Unique names after deletions take the smallest free suffix again.
  GroupBuilder unique;
  for (int i = 0; i < 5; ++i) unique.setWithUniqueName("n", one);
  unique.del("n2").setWithUniqueName("n", one);
  EXPECT_EQ(unique.build().getChildName(4), "n2");
  GroupBuilder moved = std::move(unique);
  unique.set("z", one);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(unique.build().getNumberOfChildren(), 1);
  EXPECT_EQ(moved.getMode(), GroupBuilder::BuilderModeNormal);
}

TEST(Groups, Lookups) {
  const GroupAttribute g = GroupBuilder(GroupBuilder::BuilderModeStrict)
                               .set("z", IntAttribute(1))
                               .set(std::string("a\1b", 3), IntAttribute(2))
                               .set("a", GroupBuilder().set("b", IntAttribute(3)).build())
                               .setGroupInherit(false)
                               .build();
  EXPECT_EQ(g.getChildIndex("a"), 2);
  EXPECT_EQ(g.getChildName(1), std::string("a\1b", 3));
  EXPECT_EQ(g.getChildByName("a.b"), IntAttribute(3));
  EXPECT_FALSE(g.getGroupInherit());
  for (int64_t i : {int64_t{-1}, int64_t{3}, int64_t{1} << 40}) {
    EXPECT_TRUE(!g.getChildByIndex(i).isValid() && g.getChildName(i).empty()) << i;
  }
  EXPECT_EQ(g.getChildIndex("b"), -1);
  const GroupAttribute invalid;
  EXPECT_EQ(invalid.getNumberOfChildren() + invalid.getChildIndex("a") + 1, 0);
  EXPECT_FALSE(invalid.getChildByName("a").isValid() || invalid.getGroupInherit());
  EXPECT_FALSE(GroupAttribute(IntAttribute(1)).isValid());
  // Equality and hash see names, order, inherit flag and children.
  const Attribute variants[] = {
      GroupBuilder().set("a", IntAttribute(1)).set("b", IntAttribute(2)).build(),
      GroupBuilder().set("b", IntAttribute(2)).set("a", IntAttribute(1)).build(),
      GroupBuilder().set("a", IntAttribute(1)).set("c", IntAttribute(2)).build(),
      GroupBuilder().set("a", IntAttribute(1)).set("b", IntAttribute(3)).build(),
      GroupBuilder().set("a", IntAttribute(1)).build(),
      GroupBuilder().set("a", IntAttribute(1)).setGroupInherit(false).build(),
      GroupBuilder().build()};
  for (const Attribute& a : variants)
    for (const Attribute& b : variants) EXPECT_EQ(&a == &b, a == b && a.getHash() == b.getHash());
}

}  // namespace
}  // namespace libtest
