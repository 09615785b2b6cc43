// GroupBuilder: every operation in both modes, paths, unique names, merging, sorting, build.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "test_core_helpers.h"

namespace {

using namespace Tessark::internal::OvAttribute;
using Mode = GroupBuilder::BuilderMode;

std::vector<std::string> namesOf(const GroupAttribute& g) {
  std::vector<std::string> out;
  for (int64_t i = 0; i < g.getNumberOfChildren(); ++i) out.push_back(g.getChildName(i));
  return out;
}

using Names = std::vector<std::string>;

TEST(CoreBuilder, SetReplacesInPlaceAndAppendsNew) {
  GroupBuilder b;
  b.set("a", IntAttribute(1)).set("b", IntAttribute(2)).set("c", IntAttribute(3));
  b.set("a", FloatAttribute(9.0f));
  GroupAttribute g = b.build();
  EXPECT_EQ(namesOf(g), (Names{"a", "b", "c"}));
  EXPECT_EQ(g.getChildByName("a"), FloatAttribute(9.0f));
}

TEST(CoreBuilder, EmptyNamesAndInvalidAttributesAreIgnored) {
  for (Mode mode : {GroupBuilder::BuilderModeNormal, GroupBuilder::BuilderModeStrict}) {
    GroupBuilder b(mode);
    b.set("", IntAttribute(1)).set("x", Attribute()).set("y", IntAttribute(2));
    b.setWithUniqueName("", IntAttribute(1)).setWithUniqueName("y", Attribute());
    EXPECT_EQ(namesOf(b.build()), (Names{"y"})) << mode;
  }
  GroupBuilder normal;
  normal.set(".a", IntAttribute(1)).set("a.", IntAttribute(1)).set("a..b", IntAttribute(1));
  EXPECT_EQ(normal.build().getNumberOfChildren(), 0);
}

TEST(CoreBuilder, StrictModeTakesNamesAsTheyAre) {
  GroupBuilder b(GroupBuilder::BuilderModeStrict);
  b.set("a.b", IntAttribute(1)).set(".", IntAttribute(2)).set("a..", IntAttribute(3));
  b.del("a");  // no path: nothing named "a"
  GroupAttribute g = b.build();
  EXPECT_EQ(namesOf(g), (Names{"a.b", ".", "a.."}));
  b.set("x.y", IntAttribute(1)).del("x.y");
  EXPECT_EQ(b.build().getNumberOfChildren(), 0);
}

TEST(CoreBuilder, UnknownModeActsNormal) {
  GroupBuilder b(static_cast<Mode>(7));
  b.set("a.b", IntAttribute(1));
  GroupAttribute g = b.build();
  EXPECT_EQ(namesOf(g), (Names{"a"}));
  EXPECT_EQ(g.getChildByName("a.b"), IntAttribute(1));
}

TEST(CoreBuilder, PathsMakeGroupsWithTheInheritFlagOfSet) {
  GroupBuilder b;
  b.set("a.b.c", IntAttribute(1), false).set("d", IntAttribute(2), false);
  GroupAttribute g = b.build();
  EXPECT_TRUE(g.getGroupInherit());  // the builder's own flag, not set's
  GroupAttribute a(g.getChildByName("a"));
  ASSERT_TRUE(a.isValid());
  EXPECT_FALSE(a.getGroupInherit());
  EXPECT_FALSE(GroupAttribute(a.getChildByName("b")).getGroupInherit());
  EXPECT_EQ(g.getChildByName("a.b.c"), IntAttribute(1));
}

TEST(CoreBuilder, PathThroughExistingGroupExtendsIt) {
  GroupAttribute existing = GroupBuilder()
                                .set("x", IntAttribute(1))
                                .set("y", IntAttribute(2))
                                .setGroupInherit(false)
                                .build();
  GroupBuilder b;
  b.set("first", IntAttribute(0)).set("a", existing).set("last", IntAttribute(0));
  b.set("a.z", IntAttribute(3), true).set("a.x", IntAttribute(4), true);
  GroupAttribute g = b.build();
  EXPECT_EQ(namesOf(g), (Names{"first", "a", "last"}));
  GroupAttribute a(g.getChildByName("a"));
  EXPECT_EQ(namesOf(a), (Names{"x", "y", "z"}));
  EXPECT_FALSE(a.getGroupInherit());  // the existing group keeps its flag
  EXPECT_EQ(a.getChildByName("x"), IntAttribute(4));
  // The original group is untouched.
  EXPECT_EQ(existing.getNumberOfChildren(), 2);
  EXPECT_EQ(existing.getChildByName("x"), IntAttribute(1));
}

TEST(CoreBuilder, PathThroughNonGroupReplacesItInPlace) {
  GroupBuilder b;
  b.set("a", IntAttribute(1)).set("b", IntAttribute(2));
  b.set("a.c", IntAttribute(3), false);
  GroupAttribute g = b.build();
  EXPECT_EQ(namesOf(g), (Names{"a", "b"}));
  GroupAttribute a(g.getChildByName("a"));
  ASSERT_TRUE(a.isValid());
  EXPECT_FALSE(a.getGroupInherit());
  EXPECT_EQ(namesOf(a), (Names{"c"}));
}

TEST(CoreBuilder, SettingOverAnOpenPathGroup) {
  GroupBuilder b;
  b.set("a.b", IntAttribute(1)).set("a", IntAttribute(2));
  EXPECT_EQ(b.build(GroupBuilder::BuildAndRetain).getChildByName("a"), IntAttribute(2));
  b.set("a.c", IntAttribute(3));
  GroupAttribute g = b.build();
  EXPECT_EQ(namesOf(GroupAttribute(g.getChildByName("a"))), (Names{"c"}));
}

TEST(CoreBuilder, SetWithUniqueName) {
  GroupBuilder b;
  b.setWithUniqueName("n", IntAttribute(0));
  b.setWithUniqueName("n", IntAttribute(1));
  b.setWithUniqueName("n", IntAttribute(2));
  b.set("n4", IntAttribute(4));
  b.setWithUniqueName("n", IntAttribute(3));
  b.setWithUniqueName("n", IntAttribute(5));  // n4 is taken
  EXPECT_EQ(namesOf(b.build(GroupBuilder::BuildAndRetain)),
            (Names{"n", "n1", "n2", "n4", "n3", "n5"}));
  b.del("n1").setWithUniqueName("n", IntAttribute(6));  // the first free again
  GroupAttribute g = b.build();
  EXPECT_EQ(namesOf(g), (Names{"n", "n2", "n4", "n3", "n5", "n1"}));
  EXPECT_EQ(g.getChildByName("n1"), IntAttribute(6));
}

TEST(CoreBuilder, SetWithUniqueNameFollowsPaths) {
  GroupBuilder b;
  b.set("g.x", IntAttribute(0)).setWithUniqueName("g.x", IntAttribute(1), false);
  GroupAttribute g = b.build();
  EXPECT_EQ(namesOf(GroupAttribute(g.getChildByName("g"))), (Names{"x", "x1"}));
  GroupBuilder strict(GroupBuilder::BuilderModeStrict);
  strict.set("g.x", IntAttribute(0)).setWithUniqueName("g.x", IntAttribute(1));
  EXPECT_EQ(namesOf(strict.build()), (Names{"g.x", "g.x1"}));
}

TEST(CoreBuilder, ManyCollisionsOnOneName) {
  GroupBuilder b;
  for (int i = 0; i < 20000; ++i) b.setWithUniqueName("item", IntAttribute(i));
  GroupAttribute g = b.build();
  ASSERT_EQ(g.getNumberOfChildren(), 20000);
  EXPECT_EQ(g.getChildName(0), "item");
  EXPECT_EQ(g.getChildName(19999), "item19999");
  EXPECT_EQ(g.getChildByName("item123"), IntAttribute(123));
}

TEST(CoreBuilder, DelFollowsPathsAndIgnoresMissing) {
  GroupBuilder b;
  b.set("a.b", IntAttribute(1)).set("a.c", IntAttribute(2)).set("d", IntAttribute(3));
  b.del("a.b").del("missing").del("a.missing").del("d.x").del("x.y.z").del("");
  GroupAttribute g = b.build(GroupBuilder::BuildAndRetain);
  EXPECT_EQ(namesOf(g), (Names{"a", "d"}));
  EXPECT_EQ(namesOf(GroupAttribute(g.getChildByName("a"))), (Names{"c"}));
  b.del("a").set("a", IntAttribute(4));  // a deleted name comes back at the end
  EXPECT_EQ(namesOf(b.build()), (Names{"d", "a"}));
  // Deleting inside a built group child.
  GroupBuilder c;
  c.set("g", g).del("g.a.c");
  GroupAttribute gg(c.build().getChildByName("g"));
  EXPECT_EQ(GroupAttribute(gg.getChildByName("a")).getNumberOfChildren(), 0);
}

TEST(CoreBuilder, ManyDeletesKeepOrderAndLookup) {
  GroupBuilder b;
  for (int i = 0; i < 1000; ++i) b.set("k" + std::to_string(i), IntAttribute(i));
  for (int i = 0; i < 1000; i += 2) b.del("k" + std::to_string(i));
  b.set("k1", IntAttribute(-1)).set("new", IntAttribute(7));
  GroupAttribute g = b.build();
  ASSERT_EQ(g.getNumberOfChildren(), 501);
  EXPECT_EQ(g.getChildName(0), "k1");
  EXPECT_EQ(g.getChildByName("k1"), IntAttribute(-1));
  EXPECT_EQ(g.getChildName(499), "k999");
  EXPECT_EQ(g.getChildName(500), "new");
}

TEST(CoreBuilder, UpdateSetsEachChildInOrder) {
  GroupAttribute src = GroupBuilder(GroupBuilder::BuilderModeStrict)
                           .set("b", IntAttribute(20))
                           .set("x.y", IntAttribute(30))
                           .set("c", IntAttribute(40))
                           .build();
  GroupBuilder b;
  b.set("a", IntAttribute(1)).set("b", IntAttribute(2)).update(src).update(GroupAttribute());
  GroupAttribute g = b.build();
  // Normal mode: the dotted child name is a path.
  EXPECT_EQ(namesOf(g), (Names{"a", "b", "x", "c"}));
  EXPECT_EQ(g.getChildByName("b"), IntAttribute(20));
  EXPECT_EQ(g.getChildByName("x.y"), IntAttribute(30));
  GroupBuilder strict(GroupBuilder::BuilderModeStrict);
  EXPECT_EQ(namesOf(strict.update(src).build()), (Names{"b", "x.y", "c"}));
}

TEST(CoreBuilder, DeepUpdateMergesGroupsRecursively) {
  GroupAttribute mine = GroupBuilder()
                            .set("g.keep", IntAttribute(1))
                            .set("g.sub.old", IntAttribute(2))
                            .set("g.sub.both", IntAttribute(3))
                            .set("v", IntAttribute(4))
                            .set("h", IntAttribute(5))
                            .build();
  GroupAttribute theirs = GroupBuilder()
                              .set("g.sub.both", IntAttribute(30))
                              .set("g.sub.new", IntAttribute(31))
                              .set("g.added", IntAttribute(32))
                              .set("v.x", IntAttribute(40))  // group over a non-group
                              .set("h", IntAttribute(50))
                              .build();
  GroupBuilder b;
  b.update(mine).deepUpdate(theirs).deepUpdate(GroupAttribute());
  GroupAttribute g = b.build();
  EXPECT_EQ(namesOf(g), (Names{"g", "v", "h"}));
  EXPECT_EQ(namesOf(GroupAttribute(g.getChildByName("g"))), (Names{"keep", "sub", "added"}));
  EXPECT_EQ(namesOf(GroupAttribute(g.getChildByName("g.sub"))), (Names{"old", "both", "new"}));
  EXPECT_EQ(g.getChildByName("g.sub.both"), IntAttribute(30));
  EXPECT_EQ(g.getChildByName("v"), theirs.getChildByName("v"));
  EXPECT_EQ(g.getChildByName("h"), IntAttribute(50));

  // Plain update replaces the group wholesale.
  GroupBuilder plain;
  plain.update(mine).update(theirs);
  EXPECT_EQ(plain.build().getChildByName("g"), theirs.getChildByName("g"));
}

TEST(CoreBuilder, DeepUpdateKeepsTheMergedGroupsInheritFlag) {
  GroupAttribute mine = GroupBuilder().set("g.a", IntAttribute(1), false).build();
  GroupAttribute theirs = GroupBuilder().set("g.b", IntAttribute(2), true).build();
  GroupBuilder b;
  b.update(mine).deepUpdate(theirs);
  GroupAttribute g(b.build().getChildByName("g"));
  EXPECT_FALSE(g.getGroupInherit());
  EXPECT_EQ(namesOf(g), (Names{"a", "b"}));
}

TEST(CoreBuilder, SortIsByteWiseAndStable) {
  GroupBuilder b(GroupBuilder::BuilderModeStrict);
  b.set("b", IntAttribute(1)).set("\xc3\xa9", IntAttribute(2)).set("B", IntAttribute(3));
  b.set("a", IntAttribute(4)).set("", IntAttribute(0)).set("ab", IntAttribute(5));
  b.set(std::string("a\x01", 2), IntAttribute(6));
  EXPECT_THROW(b.set(std::string("a\0", 2), IntAttribute(6)), std::invalid_argument);
  b.sort();
  GroupAttribute g = b.build(GroupBuilder::BuildAndRetain);
  EXPECT_EQ(namesOf(g), (Names{"B", "a", std::string("a\x01", 2), "ab", "b", "\xc3\xa9"}));
  b.set("0", IntAttribute(0));  // after a sort, new names still append and lookup still works
  b.set("a", IntAttribute(44));
  GroupAttribute g2 = b.build();
  EXPECT_EQ(g2.getChildName(6), "0");
  EXPECT_EQ(g2.getChildByName("a"), IntAttribute(44));
}

TEST(CoreBuilder, BuildModes) {
  GroupBuilder b;
  b.set("a", IntAttribute(1)).setGroupInherit(false);
  GroupAttribute kept = b.build(GroupBuilder::BuildAndRetain);
  EXPECT_FALSE(kept.getGroupInherit());
  GroupAttribute again = b.build(static_cast<GroupBuilder::BuilderBuildMode>(1));
  EXPECT_EQ(kept, again);
  GroupAttribute flushed = b.build(static_cast<GroupBuilder::BuilderBuildMode>(5));  // as flush
  EXPECT_EQ(flushed, kept);
  GroupAttribute empty = b.build();
  EXPECT_TRUE(empty.isValid());
  EXPECT_EQ(empty.getNumberOfChildren(), 0);
  EXPECT_TRUE(empty.getGroupInherit());
  // The mode survives a flush.
  GroupBuilder strict(GroupBuilder::BuilderModeStrict);
  strict.set("x", IntAttribute(1)).build();
  EXPECT_EQ(namesOf(strict.set("a.b", IntAttribute(1)).build()), (Names{"a.b"}));
}

TEST(CoreBuilder, BuiltGroupsShareChildren) {
  IntAttribute child(1);
  GroupBuilder b;
  b.set("a", child).set("p.q", child);
  GroupAttribute g = b.build(GroupBuilder::BuildAndRetain);
  EXPECT_EQ(g.getChildByName("a")._data(), child._data());
  EXPECT_EQ(g.getChildByName("p.q")._data(), child._data());
  GroupAttribute g2 = b.build();
  EXPECT_EQ(g, g2);
}

TEST(CoreBuilder, ReserveIsOnlyAHint) {
  GroupBuilder b;
  b.reserve(-5).reserve(0).reserve(int64_t{1} << 62).reserve(100);
  b.set("a", IntAttribute(1));
  EXPECT_EQ(b.build().getNumberOfChildren(), 1);
}

TEST(CoreBuilder, MovedBuildersStayUsable) {
  GroupBuilder a(GroupBuilder::BuilderModeStrict);
  a.set("x.y", IntAttribute(1));
  GroupBuilder b(std::move(a));
  EXPECT_EQ(namesOf(b.build()), (Names{"x.y"}));
  a.set("p", IntAttribute(2));  // a moved-from builder starts over
  EXPECT_EQ(namesOf(a.build()), (Names{"p"}));
  GroupBuilder c;
  c = std::move(b);
  c.set("z", IntAttribute(3));
  EXPECT_EQ(c.build().getNumberOfChildren(), 1);
}

TEST(CoreBuilder, TenThousandSetsOfExistingNames) {
  GroupBuilder b;
  for (int i = 0; i < 10000; ++i) b.set("n" + std::to_string(i), IntAttribute(i));
  for (int round = 0; round < 3; ++round)
    for (int i = 0; i < 10000; ++i) b.set("n" + std::to_string(i), IntAttribute(i + round));
  GroupAttribute g = b.build();
  ASSERT_EQ(g.getNumberOfChildren(), 10000);
  EXPECT_EQ(g.getChildByName("n9999"), IntAttribute(10001));
  GroupBuilder paths;
  for (int i = 0; i < 10000; ++i) paths.set("g.n" + std::to_string(i), IntAttribute(i));
  EXPECT_EQ(GroupAttribute(paths.build().getChildByName("g")).getNumberOfChildren(), 10000);
}

// Sets, unique-name sets and deletes in random order over a few hundred names (so probe runs
// collide, grow and are cut by deletions, and replacements meet both indexed and not yet
// indexed entries), in phases from delete-heavy to long runs of sets, with sorts in between,
// checked against a plain ordered list.
TEST(CoreBuilder, RandomEditsMatchAPlainList) {
  std::mt19937 rng(11);
  GroupBuilder b(GroupBuilder::BuilderModeStrict);
  std::vector<std::pair<std::string, int32_t>> model;
  auto at = [&model](const std::string& name) {
    for (size_t i = 0; i < model.size(); ++i)
      if (model[i].first == name) return static_cast<int64_t>(i);
    return int64_t{-1};
  };
  auto setInModel = [&](const std::string& name, int32_t value) {
    if (int64_t i = at(name); i >= 0)
      model[static_cast<size_t>(i)].second = value;
    else
      model.emplace_back(name, value);
  };
  for (int step = 0; step < 40000; ++step) {
    const unsigned deleteOneIn = (step / 5000) % 2 ? 500 : 3;  // phases of few and many deletes
    std::string name = "n" + std::to_string(rng() % 300);
    const unsigned choice = rng();
    if (choice % deleteOneIn == 0) {
      b.del(name);
      if (int64_t i = at(name); i >= 0) model.erase(model.begin() + i);
    } else if (choice % 61 == 1) {
      b.setWithUniqueName(name, IntAttribute(step));
      std::string unique = name;
      for (int suffix = 1; at(unique) >= 0; ++suffix) unique = name + std::to_string(suffix);
      model.emplace_back(unique, step);
    } else if (choice % 4999 == 2) {
      b.sort();
      std::stable_sort(model.begin(), model.end(),
                       [](const auto& x, const auto& y) { return x.first < y.first; });
    } else {
      b.set(name, IntAttribute(step));
      setInModel(name, step);
    }
    if (step % 997 != 0) continue;
    GroupAttribute g = b.build(GroupBuilder::BuildAndRetain);
    ASSERT_EQ(g.getNumberOfChildren(), static_cast<int64_t>(model.size()));
    for (size_t i = 0; i < model.size(); ++i) {
      ASSERT_EQ(g.getChildName(static_cast<int64_t>(i)), model[i].first);
      ASSERT_EQ(g.getChildIndex(model[i].first), static_cast<int64_t>(i));
      ASSERT_EQ(g.getChildByIndex(static_cast<int64_t>(i)), IntAttribute(model[i].second));
    }
  }
}

// A set whose name is still waiting to join the index replaces what is there, an open path
// group included, and does so in place.
TEST(CoreBuilder, LateReplacementsLandInPlace) {
  GroupBuilder b;
  b.set("g.x", IntAttribute(1));
  for (int i = 0; i < 200; ++i) b.set("n" + std::to_string(i), IntAttribute(i));
  b.set("g", IntAttribute(-1)).set("n0", IntAttribute(-2)).set("n0", IntAttribute(-3));
  GroupAttribute g = b.build();
  ASSERT_EQ(g.getNumberOfChildren(), 201);
  EXPECT_EQ(g.getChildName(0), "g");
  EXPECT_EQ(g.getChildByIndex(0), IntAttribute(-1));
  EXPECT_EQ(g.getChildName(1), "n0");
  EXPECT_EQ(g.getChildByIndex(1), IntAttribute(-3));
  // Path sets and deletes read the index: what waits joins first.
  for (int i = 0; i < 100; ++i) b.set("p" + std::to_string(i), IntAttribute(i));
  b.set("p5.q", IntAttribute(7)).del("p6");
  g = b.build();
  ASSERT_EQ(g.getNumberOfChildren(), 99);
  EXPECT_EQ(g.getChildName(5), "p5");
  EXPECT_EQ(GroupAttribute(g.getChildByIndex(5)).getChildByName("q"), IntAttribute(7));
  EXPECT_EQ(g.getChildName(6), "p7");
}

TEST(CoreBuilder, ResetEmptiesKeepsMemoryAndSetsTheMode) {
  IntAttribute child(5);
  GroupBuilder b;
  for (int i = 0; i < 1000; ++i) b.set("n" + std::to_string(i), child);
  b.set("a.b", child).setGroupInherit(false);
  EXPECT_EQ(child._data()->refCount.load(), 1002u);
  b.reset(GroupBuilder::BuilderModeStrict);
  EXPECT_EQ(child._data()->refCount.load(), 1u);  // children dropped at once
  GroupAttribute g = b.set("a.b", child).build();
  EXPECT_EQ(namesOf(g), (Names{"a.b"}));
  EXPECT_TRUE(g.getGroupInherit());
  b.reset();
  EXPECT_EQ(namesOf(b.set("a.b", child).build()), (Names{"a"}));
  GroupBuilder moved(std::move(b));
  EXPECT_EQ(b.reset().set("x", child).build().getNumberOfChildren(), 1);
}

// A flushing build hands the builder's references to the group; a retaining one shares them.
TEST(CoreBuilder, BuildModesCountReferencesExactly) {
  IntAttribute child(5);
  auto refs = [&child] { return child._data()->refCount.load(); };
  GroupBuilder b;
  b.set("a", child).set("p.q", child);
  EXPECT_EQ(refs(), 3u);
  GroupAttribute kept = b.build(GroupBuilder::BuildAndRetain);
  EXPECT_EQ(refs(), 5u);
  GroupAttribute flushed = b.build();
  EXPECT_EQ(refs(), 5u);
  EXPECT_EQ(flushed, kept);
  kept = GroupAttribute();
  flushed = GroupAttribute();
  EXPECT_EQ(refs(), 1u);
  // Handing a handle over moves it; an ignored one (empty name) is dropped.
  Attribute given = child;
  Attribute unused = child;
  b.set("m", std::move(given)).setWithUniqueName("m", Attribute(child)).set("", std::move(unused));
  EXPECT_FALSE(given.isValid());
  EXPECT_EQ(refs(), 3u);
  EXPECT_EQ(namesOf(b.build()), (Names{"m", "m1"}));
  EXPECT_EQ(refs(), 1u);
}

}  // namespace
