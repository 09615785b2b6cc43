// Concurrency: handles of shared values copied, hashed, compared, read and destroyed from
// many threads at once. Run under ThreadSanitizer (OVATTR_SANITIZE=thread) to see races.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "test_core_helpers.h"

namespace {

using namespace Tessark::internal::OvAttribute;

constexpr int kThreads = 8;

// Starts every thread, then releases them together so that they really overlap.
template <typename Fn>
void runTogether(Fn fn) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (!go.load()) std::this_thread::yield();
      fn(t);
    });
  }
  while (ready.load() < kThreads) std::this_thread::yield();
  go.store(true);
  for (auto& th : threads) th.join();
}

TEST(CoreThreads, CopyHashCompareAndDestroySharedValues) {
  std::vector<float> floats(4096, 0.25f);
  const char* words[] = {"alpha", "beta", "gamma"};
  std::vector<Attribute> shared = {
      FloatAttribute(floats.data(), 4096, 4),
      StringAttribute(words, 3, 1),
      GroupBuilder().set("a.b", IntAttribute(1)).set("c", DoubleAttribute(2.0)).build(),
      NullAttribute(),
  };
  std::vector<Hash> expected;
  {
    // Hashes of equal but separate values, so the shared ones are hashed first by the threads.
    std::vector<float> again(4096, 0.25f);
    expected.push_back(FloatAttribute(again.data(), 4096, 4).getHash());
    expected.push_back(StringAttribute(words, 3, 1).getHash());
    expected.push_back(GroupBuilder()
                           .set("a.b", IntAttribute(1))
                           .set("c", DoubleAttribute(2.0))
                           .build()
                           .getHash());
    expected.push_back(NullAttribute().getHash());
  }
  std::atomic<int> failures{0};
  runTogether([&](int t) {
    for (int round = 0; round < 2000; ++round) {
      const size_t i = static_cast<size_t>(round + t) % shared.size();
      Attribute copy = shared[i];
      if (copy.getHash() != expected[i]) failures.fetch_add(1);
      Attribute other = shared[(i + 1) % shared.size()];
      if (copy == other) failures.fetch_add(1);
      other = copy;  // copy-assign drops a share of the other value
      GroupAttribute g(copy);
      if (g.isValid() && !(g.getChildByName("a.b") == IntAttribute(1))) failures.fetch_add(1);
      FloatAttribute f(copy);
      if (f.isValid()) {
        ConstVector<float> v = f.getNearestSample(0.0f);
        if (v.size() != 4096 || v[100] != 0.25f) failures.fetch_add(1);
      }
    }
  });
  EXPECT_EQ(failures.load(), 0);
  for (const Attribute& a : shared) {
    if (a.getType() != kAttrTypeNull) {
      EXPECT_EQ(core_test::refCount(a), 1u);
    }
  }
}

TEST(CoreThreads, FirstHashRacesAgree) {
  for (int round = 0; round < 50; ++round) {
    GroupAttribute tree = core_test::deepChain(200, IntAttribute(round));
    std::vector<Hash> seen(kThreads);
    runTogether([&](int t) { seen[t] = tree.getHash(); });
    for (const Hash& h : seen) EXPECT_EQ(h, seen[0]);
    EXPECT_EQ(seen[0], core_test::deepChain(200, IntAttribute(round)).getHash());
  }
}

TEST(CoreThreads, LastReleaseFromAnyThread) {
  // Every thread holds a share of every tree; whichever drops the last one frees it.
  for (int round = 0; round < 20; ++round) {
    std::vector<Attribute> trees;
    for (int i = 0; i < 16; ++i)
      trees.push_back(
          GroupBuilder().set("x.y", IntAttribute(i)).set("s", StringAttribute("v")).build());
    std::vector<std::vector<Attribute>> held(kThreads, trees);
    trees.clear();
    runTogether([&](int t) {
      for (Attribute& a : held[t]) {
        (void)a.getHash();
        a = Attribute();
      }
    });
  }
}

TEST(CoreThreads, SampleVectorsSharedAcrossThreads) {
  const int32_t values[] = {1, 2, 3, 4};
  ConstVector<int32_t> fromAttribute = IntAttribute(values, 4, 1).getNearestSample(0.0f);
  ConstVector<int32_t> owned = ConstVector<int32_t>::copyOf(values, 4);
  std::atomic<int> failures{0};
  runTogether([&](int) {
    for (int round = 0; round < 5000; ++round) {
      ConstVector<int32_t> a = fromAttribute;
      ConstVector<int32_t> b = owned;
      ConstVector<int32_t> c = std::move(b);
      if (a[3] != 4 || c[2] != 3 || c.size() != 4) failures.fetch_add(1);
    }
  });
  EXPECT_EQ(failures.load(), 0);
}

TEST(CoreThreads, BuildersPerThreadOverSharedChildren) {
  IntAttribute child(3);
  GroupAttribute base = GroupBuilder().set("p.q", child).build();
  std::vector<GroupAttribute> results(kThreads);
  runTogether([&](int t) {
    GroupBuilder b;
    for (int i = 0; i < 200; ++i) b.set("k" + std::to_string(i), child);
    b.deepUpdate(base);
    results[t] = b.build();
  });
  for (const GroupAttribute& g : results) EXPECT_EQ(g, results[0]);
  // `child`, base's inner group, and 200 children of each result (the merged "p" is shared).
  EXPECT_EQ(core_test::refCount(child), 2u + 200u * kThreads);
}

}  // namespace
