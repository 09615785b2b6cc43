// Benchmarks of the core: construction, hashing, sample lookup, the builder, handle copies.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "Tessark/OvAttribute/OvAttribute.h"

namespace {

using namespace Tessark::internal::OvAttribute;

constexpr int64_t kMillion = 1000000;

template <typename A, typename T>
void constructNumbers(benchmark::State& state) {
  std::vector<T> values(kMillion);
  for (int64_t i = 0; i < kMillion; ++i) values[i] = static_cast<T>(i * 7 % 1001);
  for (auto _ : state) {
    A a(values.data(), kMillion, 1);
    benchmark::DoNotOptimize(a._data());
  }
  state.SetBytesProcessed(state.iterations() * kMillion * static_cast<int64_t>(sizeof(T)));
  state.SetItemsProcessed(state.iterations() * kMillion);
}

void BM_IntAttributeConstruct(benchmark::State& state) {
  constructNumbers<IntAttribute, int32_t>(state);
}
void BM_FloatAttributeConstruct(benchmark::State& state) {
  constructNumbers<FloatAttribute, float>(state);
}
void BM_DoubleAttributeConstruct(benchmark::State& state) {
  constructNumbers<DoubleAttribute, double>(state);
}

void BM_StringAttributeConstruct(benchmark::State& state) {
  // Short strings, 1 to 8 bytes each.
  std::vector<std::string> storage(kMillion);
  std::vector<const char*> values(kMillion);
  int64_t bytes = 0;
  for (int64_t i = 0; i < kMillion; ++i) {
    storage[i] = "s" + std::to_string(i % 10000000).substr(0, 1 + i % 7);
    values[i] = storage[i].c_str();
    bytes += static_cast<int64_t>(storage[i].size()) + 1;
  }
  for (auto _ : state) {
    StringAttribute a(values.data(), kMillion, 1);
    benchmark::DoNotOptimize(a._data());
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.SetItemsProcessed(state.iterations() * kMillion);
}

void BM_FloatAttributeHashFirst(benchmark::State& state) {
  std::vector<float> values(kMillion);
  for (int64_t i = 0; i < kMillion; ++i) values[i] = static_cast<float>(i) * 0.5f;
  for (auto _ : state) {
    state.PauseTiming();
    FloatAttribute a(values.data(), kMillion, 1);  // a fresh block: nothing cached yet
    state.ResumeTiming();
    benchmark::DoNotOptimize(a.getHash());
    state.PauseTiming();
    a = FloatAttribute();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * kMillion * 4);
}

void BM_FloatAttributeHashCached(benchmark::State& state) {
  std::vector<float> values(kMillion, 1.0f);
  FloatAttribute a(values.data(), kMillion, 1);
  a.getHash();
  for (auto _ : state) benchmark::DoNotOptimize(a.getHash());
}

void BM_FloatAttributeGetNearestSample(benchmark::State& state) {
  constexpr int64_t kSamples = 10000;
  std::vector<float> times(kSamples), values(kSamples);
  std::vector<const float*> rows(kSamples);
  for (int64_t i = 0; i < kSamples; ++i) {
    times[i] = static_cast<float>(i) * 0.25f;
    values[i] = static_cast<float>(i);
    rows[i] = &values[i];
  }
  FloatAttribute a(times.data(), kSamples, rows.data(), 1, 1);
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> pick(-10.0f, kSamples * 0.25f + 10.0f);
  std::vector<float> queries(4096);
  for (float& q : queries) q = pick(rng);
  size_t i = 0;
  for (auto _ : state) {
    ConstVector<float> v = a.getNearestSample(queries[i++ & 4095]);
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_GroupBuilderSetAndBuild(benchmark::State& state) {
  constexpr int kChildren = 10000;
  std::vector<std::string> names(kChildren);
  for (int i = 0; i < kChildren; ++i) names[i] = "child_" + std::to_string(i * 7919 % 100003);
  IntAttribute child(1);
  for (auto _ : state) {
    GroupBuilder b;
    for (const std::string& name : names) b.set(name, child);
    GroupAttribute g = b.build();
    benchmark::DoNotOptimize(g._data());
  }
  state.SetItemsProcessed(state.iterations() * kChildren);
}

// The same with one builder for every group: a flushing build keeps the builder's memory, so
// that only the group block is allocated per group.
void BM_GroupBuilderReusedSetAndBuild(benchmark::State& state) {
  constexpr int kChildren = 10000;
  std::vector<std::string> names(kChildren);
  for (int i = 0; i < kChildren; ++i) names[i] = "child_" + std::to_string(i * 7919 % 100003);
  IntAttribute child(1);
  GroupBuilder b;
  for (auto _ : state) {
    for (const std::string& name : names) b.set(name, child);
    GroupAttribute g = b.build();
    benchmark::DoNotOptimize(g._data());
  }
  state.SetItemsProcessed(state.iterations() * kChildren);
}

void BM_GroupBuilderSetExisting(benchmark::State& state) {
  constexpr int kChildren = 10000;
  std::vector<std::string> names(kChildren);
  for (int i = 0; i < kChildren; ++i) names[i] = "child_" + std::to_string(i);
  GroupBuilder b;
  IntAttribute one(1), two(2);
  for (const std::string& name : names) b.set(name, one);
  for (auto _ : state) {
    for (const std::string& name : names) b.set(name, two);
  }
  state.SetItemsProcessed(state.iterations() * kChildren);
}

void BM_GroupAttributeGetChildByName(benchmark::State& state) {
  constexpr int kChildren = 10000;
  std::vector<std::string> names(kChildren);
  GroupBuilder b;
  for (int i = 0; i < kChildren; ++i) {
    names[i] = "child_" + std::to_string(i * 7919 % 100003);
    b.set(names[i], IntAttribute(i));
  }
  GroupAttribute g = b.build();
  size_t i = 0;
  for (auto _ : state) {
    Attribute a = g.getChildByName(names[i++ % kChildren]);
    benchmark::DoNotOptimize(a._data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_AttributeCopy(benchmark::State& state) {
  IntAttribute a(1);
  for (auto _ : state) {
    Attribute copy = a;
    benchmark::DoNotOptimize(copy._data());
  }
}

}  // namespace

BENCHMARK(BM_IntAttributeConstruct)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloatAttributeConstruct)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DoubleAttributeConstruct)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StringAttributeConstruct)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloatAttributeHashFirst)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloatAttributeHashCached);
BENCHMARK(BM_FloatAttributeGetNearestSample);
BENCHMARK(BM_GroupBuilderSetAndBuild)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GroupBuilderReusedSetAndBuild)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GroupBuilderSetExisting)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GroupAttributeGetChildByName);
BENCHMARK(BM_AttributeCopy);
