// Groups: children and names, lookup by name and path, and trees 10,000+ levels deep.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "test_core_helpers.h"

namespace {

using namespace Tessark::internal::OvAttribute;

TEST(CoreGroup, ChildrenInOrder) {
  IntAttribute one(1);
  FloatAttribute two(2.0f);
  GroupAttribute g = GroupBuilder().set("z", one).set("a", two).setGroupInherit(false).build();
  EXPECT_EQ(g.getType(), kAttrTypeGroup);
  ASSERT_EQ(g.getNumberOfChildren(), 2);
  EXPECT_EQ(g.getChildName(0), "z");
  EXPECT_EQ(g.getChildName(1), "a");
  EXPECT_EQ(g.getChildByIndex(0)._data(), one._data());  // shared, not copied
  EXPECT_EQ(g.getChildByIndex(1)._data(), two._data());
  EXPECT_EQ(g.getChildIndex("a"), 1);
  EXPECT_EQ(g.getChildIndex("z"), 0);
  EXPECT_FALSE(g.getGroupInherit());
  EXPECT_TRUE(GroupBuilder().build().getGroupInherit());
}

TEST(CoreGroup, OutOfRangeAndMissing) {
  GroupAttribute g = GroupBuilder().set("a", IntAttribute(1)).build();
  for (int64_t i : {int64_t{-1}, int64_t{1}, int64_t{1} << 40}) {
    EXPECT_FALSE(g.getChildByIndex(i).isValid());
    EXPECT_EQ(g.getChildName(i), "");
    EXPECT_TRUE(g.getChildNameView(i).empty());
  }
  EXPECT_FALSE(g.getChildByName("b").isValid());
  EXPECT_FALSE(g.getChildByName("").isValid());
  EXPECT_EQ(g.getChildIndex("b"), -1);
  GroupAttribute invalid;
  EXPECT_EQ(invalid.getNumberOfChildren(), 0);
  EXPECT_FALSE(invalid.getChildByName("a").isValid());
  EXPECT_EQ(invalid.getChildIndex("a"), -1);
  EXPECT_FALSE(invalid.getGroupInherit());
  EXPECT_FALSE(GroupAttribute(IntAttribute(1)).isValid());
  EXPECT_FALSE(GroupAttribute(NullAttribute()).isValid());
}

TEST(CoreGroup, NamesAreArbitraryBytes) {
  const std::string names[] = {std::string("a\1b", 3), "\xff\xfe", "tab\there", "a.b", " "};
  GroupBuilder b(GroupBuilder::BuilderModeStrict);
  for (size_t i = 0; i < 5; ++i) b.set(names[i], IntAttribute(static_cast<int32_t>(i)));
  GroupAttribute g = b.build();
  ASSERT_EQ(g.getNumberOfChildren(), 5);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(g.getChildName(static_cast<int64_t>(i)), names[i]);
    EXPECT_EQ(g.getChildNameView(static_cast<int64_t>(i)).str(), names[i]);
    EXPECT_EQ(g.getChildIndex(names[i]), static_cast<int64_t>(i));
    EXPECT_EQ(g.getChildByName(names[i]), IntAttribute(static_cast<int32_t>(i)));
  }
  EXPECT_EQ(g.getChildIndex(std::string("a")), -1);  // a prefix of "a\1b" is not it
}

TEST(CoreGroup, DottedNamesExactFirstThenPath) {
  IntAttribute exact(1), viaPath(2), deeper(3);
  GroupAttribute inner =
      GroupBuilder(GroupBuilder::BuilderModeStrict).set("b", viaPath).set("c.d", deeper).build();
  GroupAttribute g = GroupBuilder(GroupBuilder::BuilderModeStrict)
                         .set("a", inner)
                         .set("a.b", exact)
                         .set("n", IntAttribute(0))
                         .build();
  EXPECT_EQ(g.getChildByName("a.b")._data(), exact._data());
  EXPECT_EQ(g.getChildByName("a.c.d")._data(), deeper._data());  // exact "c.d" inside "a"
  EXPECT_FALSE(g.getChildByName("a.x").isValid());
  EXPECT_FALSE(g.getChildByName("n.x").isValid());  // not through a non-group
  EXPECT_FALSE(g.getChildByName("a.").isValid());
  EXPECT_FALSE(g.getChildByName(".a").isValid());
  EXPECT_EQ(g.getChildIndex("a.c.d"), -1);  // the index is exact names only

  GroupAttribute g2 = GroupBuilder(GroupBuilder::BuilderModeStrict).set("a", inner).build();
  EXPECT_EQ(g2.getChildByName("a.b")._data(), viaPath._data());
}

TEST(CoreGroup, LookupAmongManyChildren) {
  std::mt19937 rng(7);
  std::vector<std::string> names;
  GroupBuilder b(GroupBuilder::BuilderModeStrict);
  for (int i = 0; i < 10000; ++i) {
    std::string name = std::to_string(rng()) + "_" + std::to_string(i);
    names.push_back(name);
    b.set(name, IntAttribute(i));
  }
  GroupAttribute g = b.build();
  ASSERT_EQ(g.getNumberOfChildren(), 10000);
  for (int i = 0; i < 10000; ++i) {
    ASSERT_EQ(g.getChildIndex(names[i]), i);
    ASSERT_EQ(g.getChildName(i), names[i]);
  }
  EXPECT_EQ(g.getChildIndex("1_"), -1);
}

// ---- deep trees ----

constexpr int kDeep = 10000;

void exerciseDeepTree(int depth) {
  GroupAttribute a = core_test::deepChain(depth, IntAttribute(5));
  GroupAttribute b = core_test::deepChain(depth, IntAttribute(5));
  GroupAttribute c = core_test::deepChain(depth, IntAttribute(6));
  EXPECT_NE(a._data(), b._data());
  EXPECT_EQ(a, b);  // hashes both trees
  EXPECT_NE(a, c);
  EXPECT_EQ(a.getHash(), b.getHash());

  // Down a long dotted path: iterative, and the exact-name check at every level.
  std::string path = "c";
  for (int i = 1; i < depth; ++i) path += ".c";
  EXPECT_EQ(a.getChildByName(path), IntAttribute(5));

  // Utilities rebuild the spine.
  const float zero = 0.0f, one = 1.0f;
  const float times[] = {zero, one};
  const int32_t v = 9;
  const int32_t* rows[] = {&v, &v};
  GroupAttribute sampled = core_test::deepChain(depth, IntAttribute(times, 2, rows, 1, 1));
  Attribute cleaned = RemoveTimeSamplesIfAllSame(sampled);
  EXPECT_EQ(cleaned, core_test::deepChain(depth, IntAttribute(9)));
  EXPECT_EQ(RemoveTimeSamplesUnneededForShutter(sampled, 0.0f, 1.0f), sampled);
  const float half = 0.5f;
  EXPECT_EQ(ResampleAttrWithInterp(sampled, FloatAttribute(&half, 1, nullptr, 0, 1)),
            core_test::deepChain(depth, IntAttribute(&half, 1, rows, 1, 1)));

  // The builder: a merge down the whole depth, and a path as long as the tree.
  GroupBuilder merger;
  merger.deepUpdate(a).deepUpdate(c);
  EXPECT_EQ(merger.build(), c);
  GroupBuilder pathBuilder;
  pathBuilder.set(path, IntAttribute(5));
  EXPECT_EQ(pathBuilder.build(GroupBuilder::BuildAndRetain), a);
  pathBuilder.del(path);
  pathBuilder.build();  // builds and drops a spine with an empty end

  // Destruction of the last handles frees every level.
  a = GroupAttribute();
  b = GroupAttribute();
}

TEST(CoreGroupDeep, TenThousandLevelsOnStdThread) {
  std::thread worker([] { exerciseDeepTree(kDeep); });
  worker.join();
}

TEST(CoreGroupDeep, DeeperOnASmallStack) {
  // 256 KB cannot hold 20,000 frames of any recursive walk.
  core_test::runOnSmallStack([] { exerciseDeepTree(2 * kDeep); });
}

TEST(CoreGroupDeep, LastHandleOfADeepSubtreeHeldByAnother) {
  core_test::runOnSmallStack([] {
    GroupAttribute tree = core_test::deepChain(2 * kDeep, NullAttribute());
    Attribute middle = tree;
    for (int i = 0; i < kDeep; ++i) middle = GroupAttribute(middle).getChildByIndex(0);
    tree = GroupAttribute();  // frees the top half; `middle` keeps the rest
    EXPECT_EQ(core_test::refCount(middle), 1u);
    EXPECT_EQ(middle, core_test::deepChain(kDeep, NullAttribute()));
  });
}

}  // namespace
