// Shared values used from many threads at once. The counts at the end catch lost updates; the
// ThreadSanitizer build (OVATTR_SANITIZE=thread) catches the races that happen to come out right.

#include <atomic>
#include <thread>

#include "support.h"

namespace libtest {
namespace {

// Runs `work(i)` on `n` threads released together, so that they really overlap.
void together(int n, const std::function<void(int)>& work) {
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < n; ++i)
    threads.emplace_back([&, i] {
      for (++ready; ready.load() < n;) std::this_thread::yield();
      work(i);
    });
  for (std::thread& t : threads) t.join();
}

TEST(Threads, SharedValuesFromEveryThread) {
  Generator random(7);
  std::vector<Attribute> values;
  for (int i = 0; i < 64; ++i) values.push_back(random.any());
  const GroupAttribute shared = GroupBuilder().set("v", values[0]).build();
  std::vector<Hash> expected;
  std::vector<uint64_t> counts;
  for (const Attribute& v : values)
    expected.push_back(Attribute::parseXML(v.getXML()).getHash()), counts.push_back(refCount(v));
  together(8, [&](int t) {
    std::vector<Attribute> mine;
    for (int round = 0; round < 20; ++round) {
      for (size_t i = 0; i < values.size(); ++i) {
        const Attribute& v = values[(i + static_cast<size_t>(t)) % values.size()];
        mine.push_back(v);  // a share that this thread drops later
        EXPECT_EQ(v.getHash(), expected[(i + static_cast<size_t>(t)) % values.size()]);
        EXPECT_TRUE(fromBinary(binaryOf(v)) == v);
      }
      GroupBuilder builder;
      builder.update(shared).set("t", values[static_cast<size_t>(t)]).deepUpdate(shared);
      EXPECT_EQ(builder.build().getNumberOfChildren(), 2);
      if (round % 4 == 3) mine.clear();
    }
  });
  for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(refCount(values[i]), counts[i]);
  EXPECT_EQ(refCount(shared), 1u);
}

TEST(Threads, LastReleaseFromAnyThread) {
  // Whichever thread drops the last share frees it (sanitizers see a double or missed free).
  for (int round = 0; round < 50; ++round) {
    std::vector<Attribute> trees;
    Generator random(static_cast<uint32_t>(round));
    for (int i = 0; i < 8; ++i) trees.push_back(random.any());
    const FloatAttribute samples(static_cast<float>(round));
    std::vector<std::vector<Attribute>> shares(4, trees);
    std::vector<ConstVector<float>> vectors(4, samples.getSample(0));
    trees.clear();
    together(4, [&](int t) {
      shares[static_cast<size_t>(t)].clear();
      vectors[static_cast<size_t>(t)] = ConstVector<float>();
    });
    EXPECT_EQ(refCount(samples), 1u);
  }
}

}  // namespace
}  // namespace libtest
