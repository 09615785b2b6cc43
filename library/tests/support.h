// What the library's suites share: the four kinds, random attributes, raw binary fields and
// a thread with a small stack.
#pragma once

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "AttributeData.h"
#include "Tessark/OvAttribute/OvAttribute.h"

namespace libtest {

using namespace ::Tessark::internal::OvAttribute;

// The i-th of a run of distinct values of T; strings live in a pool that never moves them.
template <typename T>
T valueOf(int i) {
  if constexpr (std::is_same_v<T, const char*>) {
    static std::deque<std::string> pool;
    while (pool.size() <= static_cast<size_t>(i))
      pool.push_back("s" + std::to_string(pool.size() * 7) + (pool.size() % 2 ? " x\xff" : ""));
    return pool[static_cast<size_t>(i)].c_str();
  } else {
    return static_cast<T>(i * 3 - 7) / static_cast<T>(std::is_integral_v<T> ? 1 : 4);
  }
}

// Bit for bit, or byte for byte for strings.
template <typename T>
bool same(T a, T b) {
  if constexpr (std::is_same_v<T, const char*>)
    return std::strcmp(a, b) == 0;
  else
    return std::memcmp(&a, &b, sizeof a) == 0;
}

using Kinds = ::testing::Types<IntAttribute, FloatAttribute, DoubleAttribute, StringAttribute>;

inline uint64_t refCount(const Attribute& a) {
  return a._data()->refCount.load(std::memory_order_relaxed);
}

// Runs fn on a thread with a small stack, where recursion over the depth of a tree overflows.
inline void onSmallStack(std::function<void()> fn, size_t stackBytes = 256 * 1024) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, stackBytes);
  pthread_t thread;
  auto trampoline = [](void* f) -> void* {
    (*static_cast<std::function<void()>*>(f))();
    return nullptr;
  };
  const int failed = pthread_create(&thread, &attr, trampoline, &fn);
  pthread_attr_destroy(&attr);
  if (failed) throw std::runtime_error("pthread_create failed");
  pthread_join(thread, nullptr);
}

// Random attributes of every kind and shape: special floats and NaN payloads, every byte but
// NUL in strings and names, odd tuple sizes, samples out of time order, nested groups.
class Generator {
 public:
  explicit Generator(uint32_t seed) : m_random(seed) {}

  Attribute any(int depth = 0) {
    switch (pick(depth < 3 ? 7 : 5)) {
      case 0:
        return NullAttribute();
      case 1:
        return data<int32_t>([this] { return static_cast<int32_t>(m_random()); });
      case 2:
        return data<float>([this] { return bits<float, uint32_t>(); });
      case 3:
        return data<double>([this] { return bits<double, uint64_t>(); });
      case 4:
        return data<const char*>([this] { return m_strings.emplace_back(text()).c_str(); });
      default: {
        GroupBuilder builder(pick(2) ? GroupBuilder::BuilderModeStrict
                                     : GroupBuilder::BuilderModeNormal);
        for (int i = pick(5); i > 0; --i) builder.set(text() + "n", any(depth + 1), pick(2));
        return builder.setGroupInherit(pick(2)).build();
      }
    }
  }

  int pick(int n) { return static_cast<int>(m_random() % static_cast<uint32_t>(n)); }

  // Bytes 1..255, a few of them.
  std::string text() {
    std::string s;
    for (int i = pick(6); i > 0; --i) s += static_cast<char>(1 + pick(255));
    return s;
  }

 private:
  template <typename F, typename B>
  F bits() {
    static const F specials[] = {0,
                                 -0.0f,
                                 1e-45f,
                                 1e30f,
                                 3.4e38f,
                                 -1,
                                 0.1f,
                                 std::numeric_limits<F>::infinity(),
                                 std::numeric_limits<F>::quiet_NaN()};
    if (pick(3)) return specials[pick(sizeof specials / sizeof specials[0])];
    B raw = static_cast<B>((static_cast<uint64_t>(m_random()) << 32) | m_random());
    F value;
    std::memcpy(&value, &raw, sizeof value);
    return value;  // any bit pattern: NaN payloads and denormals included
  }

  template <typename T, typename Make>
  Attribute data(Make make) {
    const int samples = pick(4), values = pick(5);
    std::vector<float> times;
    std::vector<std::vector<T>> rows(static_cast<size_t>(samples));
    std::vector<const T*> pointers;
    for (int i = 0; i < samples; ++i) {
      times.push_back(static_cast<float>((i * 7) % 5) * 0.5f - static_cast<float>(i) * 0.01f);
      for (int k = 0; k < values; ++k) rows[static_cast<size_t>(i)].push_back(make());
      pointers.push_back(rows[static_cast<size_t>(i)].data());
    }
    const int64_t tupleSize = pick(5) - 1;
    if (samples == 1 && pick(2)) return TypedDataAttribute<T>(pointers[0], values, tupleSize);
    return TypedDataAttribute<T>(times.data(), samples, pointers.data(), values, tupleSize);
  }

  std::mt19937 m_random;
  std::deque<std::string> m_strings;
};

// Little-endian fields of the binary form, one after another.
struct Bytes {
  std::string s;
  Bytes& le(uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
    return *this;
  }
  Bytes& u8(uint8_t v) { return le(v, 1); }
  Bytes& u32(uint32_t v) { return le(v, 4); }
  Bytes& u64(uint64_t v) { return le(v, 8); }
  Bytes& text(const std::string& t) { return s += t, *this; }
  Bytes& header() { return text("OVAB").u32(1); }
  // The header and a root data node's fields up to its sample times.
  Bytes& data(uint8_t kind, uint64_t values, uint64_t samples) {
    return header().u8(kind).u8(0).u64(1).u64(values).u64(samples).u8(0).u8(0);
  }
  Bytes& group(uint64_t children) { return u8(5).u8(1).u64(children); }
  Bytes& name(const std::string& n) { return u64(n.size()).text(n); }
  Bytes& null() { return u8(0).u8(0); }
};

inline std::string binaryOf(const Attribute& a) {
  std::vector<char> out;
  a.getBinary(out);
  return std::string(out.begin(), out.end());
}

inline Attribute fromBinary(const std::string& blob, std::string* error = nullptr) {
  return Attribute::parseBinary(blob.data(), blob.size(), error);
}

}  // namespace libtest
