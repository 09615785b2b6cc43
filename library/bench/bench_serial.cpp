// Serialisation speed: the binary and XML forms of one large float array and of one wide group,
// each way. Bytes processed are the bytes of the serial form, so MB/s compare across kinds.

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "Tessark/OvAttribute/OvAttribute.h"

namespace {

using namespace Tessark::internal::OvAttribute;

constexpr int64_t kValues = 1000000;
constexpr int64_t kChildren = 10000;

// Random values, so that number text has the length real data gives it (about ten characters a
// float) rather than the short texts of small integers.
template <typename T>
Attribute randomArray() {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<T> dist(T(-1000), T(1000));
  std::vector<T> values(kValues);
  for (T& v : values) v = dist(rng);
  return TypedDataAttribute<T>(values.data(), kValues, 3);
}

// Small children of every data kind, as a scene description has them.
Attribute wideGroup() {
  GroupBuilder b(GroupBuilder::BuilderModeStrict);
  b.reserve(kChildren);
  for (int64_t i = 0; i < kChildren; ++i) {
    const std::string name = "child" + std::to_string(i);
    const float xyz[3] = {static_cast<float>(i) * 0.25f, 1.5f, -2.0f};
    switch (i % 4) {
      case 0:
        b.set(name, IntAttribute(static_cast<int32_t>(i)));
        break;
      case 1:
        b.set(name, FloatAttribute(xyz, 3, 3));
        break;
      case 2:
        b.set(name, StringAttribute(name));
        break;
      default:
        b.set(name, DoubleAttribute(static_cast<double>(i) / 7.0));
    }
  }
  return b.build();
}

const Attribute& floats() {
  static const Attribute a = randomArray<float>();
  return a;
}
const Attribute& doubles() {
  static const Attribute a = randomArray<double>();
  return a;
}
const Attribute& group() {
  static const Attribute a = wideGroup();
  return a;
}

void getBinary(benchmark::State& state, const Attribute& a) {
  std::vector<char> blob;
  for (auto _ : state) {
    a.getBinary(blob);
    benchmark::DoNotOptimize(blob.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(blob.size()));
}

void parseBinary(benchmark::State& state, const Attribute& a) {
  std::vector<char> blob;
  a.getBinary(blob);
  for (auto _ : state) {
    Attribute parsed = Attribute::parseBinary(blob.data(), blob.size());
    benchmark::DoNotOptimize(parsed);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(blob.size()));
}

void getXml(benchmark::State& state, const Attribute& a) {
  size_t size = 0;
  for (auto _ : state) {
    std::string xml = a.getXML();
    size = xml.size();
    benchmark::DoNotOptimize(xml.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}

void parseXml(benchmark::State& state, const Attribute& a) {
  const std::string xml = a.getXML();
  for (auto _ : state) {
    Attribute parsed = Attribute::parseXML(xml);
    benchmark::DoNotOptimize(parsed);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(xml.size()));
}

void BM_BinaryGetFloats1M(benchmark::State& state) { getBinary(state, floats()); }
void BM_BinaryParseFloats1M(benchmark::State& state) { parseBinary(state, floats()); }
void BM_XmlGetFloats1M(benchmark::State& state) { getXml(state, floats()); }
void BM_XmlParseFloats1M(benchmark::State& state) { parseXml(state, floats()); }
void BM_XmlGetDoubles1M(benchmark::State& state) { getXml(state, doubles()); }
void BM_XmlParseDoubles1M(benchmark::State& state) { parseXml(state, doubles()); }

void BM_BinaryGetGroup10k(benchmark::State& state) {
  getBinary(state, group());
  state.SetItemsProcessed(state.iterations() * kChildren);
}
void BM_BinaryParseGroup10k(benchmark::State& state) {
  parseBinary(state, group());
  state.SetItemsProcessed(state.iterations() * kChildren);
}
void BM_XmlGetGroup10k(benchmark::State& state) {
  getXml(state, group());
  state.SetItemsProcessed(state.iterations() * kChildren);
}
void BM_XmlParseGroup10k(benchmark::State& state) {
  parseXml(state, group());
  state.SetItemsProcessed(state.iterations() * kChildren);
}

BENCHMARK(BM_BinaryGetFloats1M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinaryParseFloats1M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlGetFloats1M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlParseFloats1M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlGetDoubles1M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlParseDoubles1M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinaryGetGroup10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinaryParseGroup10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlGetGroup10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlParseGroup10k)->Unit(benchmark::kMillisecond);

}  // namespace
