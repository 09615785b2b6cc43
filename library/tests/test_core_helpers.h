// Shared helpers of the core tests: a trait table over the four typed kinds, and ways to look
// inside a handle's block.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <thread>

#include "AttributeData.h"
#include "Tessark/OvAttribute/OvAttribute.h"
#include "Tessark/OvAttribute/Testing.h"

namespace core_test {

namespace ov = ::Tessark::internal::OvAttribute;

// Per kind: the element type, a distinct value for each index, and bitwise equality.
template <typename A>
struct Kind;

template <>
struct Kind<ov::IntAttribute> {
  using T = int32_t;
  static T value(int i) { return i * 3 - 7; }
  static bool same(T a, T b) { return a == b; }
};

template <>
struct Kind<ov::FloatAttribute> {
  using T = float;
  static T value(int i) { return static_cast<float>(i) * 0.5f - 3.25f; }
  static bool same(T a, T b) { return std::memcmp(&a, &b, sizeof a) == 0; }
};

template <>
struct Kind<ov::DoubleAttribute> {
  using T = double;
  static T value(int i) { return static_cast<double>(i) * 0.1 + 1e-300; }
  static bool same(T a, T b) { return std::memcmp(&a, &b, sizeof a) == 0; }
};

template <>
struct Kind<ov::StringAttribute> {
  using T = const char*;
  // Strings live in a pool that never moves them, so the pointers stay good.
  static T value(int i) {
    static std::deque<std::string> pool;
    while (pool.size() <= static_cast<size_t>(i))
      pool.push_back("s" + std::to_string(pool.size() * 7) + (pool.size() % 2 ? "xy" : ""));
    return pool[i].c_str();
  }
  static bool same(T a, T b) { return std::strcmp(a, b) == 0; }
};

inline uint64_t refCount(const ov::Attribute& a) {
  return a._data()->refCount.load(std::memory_order_relaxed);
}

// Runs `fn` on a thread whose stack is only `stackBytes`, so that any recursion over the depth
// of a tree overflows it instead of passing unnoticed on a large default stack.
inline void runOnSmallStack(std::function<void()> fn, size_t stackBytes = 256 * 1024) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, stackBytes);
  pthread_t thread;
  auto* heapFn = new std::function<void()>(std::move(fn));
  auto trampoline = [](void* p) -> void* {
    auto* f = static_cast<std::function<void()>*>(p);
    (*f)();
    delete f;
    return nullptr;
  };
  if (pthread_create(&thread, &attr, trampoline, heapFn) != 0) {
    delete heapFn;
    pthread_attr_destroy(&attr);
    throw std::runtime_error("pthread_create failed");
  }
  pthread_attr_destroy(&attr);
  pthread_join(thread, nullptr);
}

// A chain of `depth` groups, each holding the next under `name`, the innermost holding `leaf`.
inline ov::GroupAttribute deepChain(int depth, const ov::Attribute& leaf, const char* name = "c") {
  ov::Attribute inner = leaf;
  for (int i = 0; i < depth; ++i)
    inner = ov::GroupBuilder(ov::GroupBuilder::BuilderModeStrict).set(name, inner).build();
  return ov::GroupAttribute(inner);
}

}  // namespace core_test
