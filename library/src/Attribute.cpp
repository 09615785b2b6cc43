// The attribute handle: reference counting, release of whole trees, hashing, the host suite.

#include "Tessark/OvAttribute/Attribute.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#define XXH_STATIC_LINKING_ONLY  // XXH3_state_t on the stack: no allocation per hash
#include <xxhash.h>

#include "AttributeData.h"
#include "Tessark/OvAttribute/ConstVector.h"
#include "Tessark/OvAttribute/DataAttribute.h"
#include "Tessark/OvAttribute/DataKinds.h"
#include "Tessark/OvAttribute/Testing.h"

namespace Tessark::internal::OvAttribute {

namespace detail {

namespace {

// Constant-initialised: handles made by other shared objects' static constructors can use it
// before any of ours run.
AttributeData gNullData(Storage::kNull, /*neverFreed=*/true);

// Drops one reference; true when it was the last, which leaves the block to the caller to free.
bool dropReference(AttributeData* data) noexcept {
  return !data->immortal && data->refCount.fetch_sub(1, std::memory_order_acq_rel) == 1;
}

// Field values go into the hash as fixed-width 64-bit integers, never as structs, so that no
// padding byte is ever hashed.
void update64(XXH3_state_t* state, uint64_t value) { XXH3_128bits_update(state, &value, 8); }

Hash digest(XXH3_state_t* state) {
  XXH128_hash_t h = XXH3_128bits_digest(state);
  return Hash{h.low64, h.high64};
}

bool hashCached(const AttributeData* data) noexcept {
  return data->hashReady.load(std::memory_order_acquire) != 0;
}

Hash cachedHash(const AttributeData* data) noexcept {
  return Hash{data->hashFirst.load(std::memory_order_relaxed),
              data->hashSecond.load(std::memory_order_relaxed)};
}

void storeHash(AttributeData* data, Hash h) {
  // Racing threads store the same words; the release below publishes them.
  data->hashFirst.store(h.first, std::memory_order_relaxed);
  data->hashSecond.store(h.second, std::memory_order_relaxed);
  data->hashReady.store(1, std::memory_order_release);
}

// Hash of a block that is not a group. The storage kind goes in, never the reported tag, so a
// test block with an odd tag hashes as the null value.
Hash computeLeafHash(const AttributeData* data) {
  XXH3_state_t state;
  XXH3_128bits_reset(&state);
  update64(&state, static_cast<uint64_t>(data->storage));
  visitDataKind(static_cast<int>(data->storage), [&](auto tag) {
    using T = typename decltype(tag)::type;
    update64(&state, static_cast<uint64_t>(data->tupleSize));
    update64(&state, static_cast<uint64_t>(data->valueCount));
    update64(&state, static_cast<uint64_t>(data->sampleCount));
    if (data->sampleCount > 0)
      XXH3_128bits_update(&state, data->times, sizeof(float) * data->sampleCount);
    if constexpr (kIsString<T>) {
      // The NUL-separated string bytes in table order: with the count fixed above, they spell
      // every string's length and bytes.
      if (data->stringBytes > 0)
        XXH3_128bits_update(&state, static_cast<const char* const*>(data->values)[0],
                            data->stringBytes);
    } else {
      const size_t bytes = sizeof(T) * static_cast<size_t>(data->sampleCount) *
                           static_cast<size_t>(data->valueCount);
      if (bytes > 0) XXH3_128bits_update(&state, data->values, bytes);
    }
  });
  return digest(&state);
}

// Hash of a group whose children's hashes are all cached.
Hash computeGroupHash(const AttributeData* data) {
  XXH3_state_t state;
  XXH3_128bits_reset(&state);
  update64(&state, static_cast<uint64_t>(Storage::kGroup));
  update64(&state, data->groupInherit ? 1 : 0);
  update64(&state, static_cast<uint64_t>(data->childCount));
  const GroupChild* children = groupChildren(data);
  for (int64_t i = 0; i < data->childCount; ++i) {
    update64(&state, children[i].nameSize);
    if (children[i].nameSize) XXH3_128bits_update(&state, children[i].name, children[i].nameSize);
    Hash h = cachedHash(children[i].attribute);
    update64(&state, h.first);
    update64(&state, h.second);
  }
  return digest(&state);
}

// Frees a group whose last reference is gone, and every block under it whose last reference it
// held, each group once its children are. Out of line, so that dropping a reference stays
// small. Should the walk's stack fail to grow, the blocks not yet reached are leaked rather
// than the process aborted.
[[gnu::noinline]] void freeTree(AttributeData* group) noexcept {
  try {
    walkGroups(
        group,
        [](const GroupChild& child, size_t) {
          if (!dropReference(child.attribute)) return false;
          if (child.attribute->storage == Storage::kGroup) return true;
          std::free(child.attribute);
          return false;
        },
        [](AttributeData* done, size_t) { std::free(done); });
  } catch (...) {
  }
}

// The cached hash, computed on first use, children before parents.
Hash hashOf(AttributeData* root) {
  if (!root) return Hash{};
  if (hashCached(root)) return cachedHash(root);
  if (root->storage != Storage::kGroup) {
    storeHash(root, computeLeafHash(root));
    return cachedHash(root);
  }
  walkGroups(
      root,
      [](const GroupChild& child, size_t) {
        if (hashCached(child.attribute)) return false;
        if (child.attribute->storage == Storage::kGroup) return true;
        storeHash(child.attribute, computeLeafHash(child.attribute));
        return false;
      },
      [](AttributeData* group, size_t) { storeHash(group, computeGroupHash(group)); });
  return cachedHash(root);
}

}  // namespace

void release(AttributeData* data) noexcept {
  if (!data || !dropReference(data)) return;
  if (data->storage == Storage::kGroup)
    freeTree(data);
  else
    std::free(data);
}

// Shared sample buffers: the head a ConstVector points at, then the count of owners, then the
// values (at offset 32, aligned for any element type).
namespace {

struct SharedSampleBuffer {
  SampleBuffer head;  // first member: a SampleBuffer* is a SharedSampleBuffer*
  std::atomic<int64_t> owners;
  int64_t padding;
};
static_assert(sizeof(SharedSampleBuffer) == 32, "values start at offset 32");

void retainSharedBuffer(const void* buffer) {
  if (!buffer) return;
  auto* shared = static_cast<SharedSampleBuffer*>(const_cast<void*>(buffer));
  shared->owners.fetch_add(1, std::memory_order_relaxed);  // as for attribute blocks
}

void releaseSharedBuffer(const void* buffer) {
  if (!buffer) return;
  auto* shared = static_cast<SharedSampleBuffer*>(const_cast<void*>(buffer));
  if (shared->owners.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    shared->~SharedSampleBuffer();
    std::free(shared);
  }
}

constexpr OvAttributeHostSuite kHostSuite = {
    sizeof(OvAttributeHostSuite),
    1,
    &retainSharedBuffer,
    &releaseSharedBuffer,
};

}  // namespace

SampleBuffer* newSharedSampleBuffer(const void* values, int64_t count, size_t valueSize) {
  if (count < 0) count = 0;
  size_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<size_t>(count), valueSize, &bytes) ||
      bytes > SIZE_MAX - sizeof(SharedSampleBuffer))
    throw std::bad_alloc();
  void* memory = std::malloc(sizeof(SharedSampleBuffer) + bytes);
  if (!memory) throw std::bad_alloc();
  auto* shared = new (memory) SharedSampleBuffer{{count, kSampleBufferShared, 0u}, {1}, 0};
  if (bytes && values)
    std::memcpy(static_cast<char*>(memory) + sizeof(SharedSampleBuffer), values, bytes);
  return &shared->head;
}

const void* sharedSampleBufferValues(const SampleBuffer* buffer) noexcept {
  return buffer ? reinterpret_cast<const SharedSampleBuffer*>(buffer) + 1 : nullptr;
}

}  // namespace detail

const OvAttributeHostSuite* Attribute::_attrSuite = &detail::kHostSuite;

XmlParseError::~XmlParseError() = default;

std::string Hash::str() const {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(32, '0');
  for (int i = 0; i < 16; ++i) {
    text[15 - i] = kDigits[(first >> (4 * i)) & 0xf];
    text[31 - i] = kDigits[(second >> (4 * i)) & 0xf];
  }
  return text;
}

Attribute::Attribute(const Attribute& other) noexcept : m_data(other.m_data) {
  detail::retain(m_data);
}

Attribute& Attribute::operator=(const Attribute& other) noexcept {
  detail::AttributeData* old = m_data;
  detail::retain(other.m_data);  // first: `other` may be the last owner of `old`'s children
  m_data = other.m_data;
  detail::release(old);
  return *this;
}

Attribute& Attribute::operator=(Attribute&& other) noexcept {
  if (this != &other) {
    detail::AttributeData* old = m_data;
    m_data = other.m_data;
    other.m_data = nullptr;
    detail::release(old);
  }
  return *this;
}

Attribute::~Attribute() { detail::release(m_data); }

AttributeType Attribute::getType() const noexcept {
  return m_data ? static_cast<AttributeType>(m_data->typeTag) : kAttrTypeInvalid;
}

Hash Attribute::getHash() const { return detail::hashOf(m_data); }

bool Attribute::getCachedHash(Hash* hash) const noexcept {
  if (!m_data || !detail::hashCached(m_data)) return false;
  if (hash) *hash = detail::cachedHash(m_data);
  return true;
}

size_t Attribute::getDataSize() const noexcept {
  if (!m_data) return 0;
  if (m_data->storage == detail::Storage::kGroup)
    return sizeof(detail::AttributeData) +
           static_cast<size_t>(m_data->childCount) * sizeof(detail::GroupChild) +
           detail::groupIndexCapacity(m_data->childCount) * sizeof(uint32_t) + m_data->stringBytes;
  const auto count = static_cast<size_t>(m_data->sampleCount * m_data->valueCount);
  return sizeof(detail::AttributeData) +
         detail::visitDataKind(static_cast<int>(m_data->storage), size_t{0}, [&](auto tag) {
           using T = typename decltype(tag)::type;
           // A string block's sample times are not counted.
           return count * sizeof(T) +
                  (detail::kIsString<T> ? m_data->stringBytes
                                        : static_cast<size_t>(m_data->sampleCount) * sizeof(float));
         });
}

bool operator==(const Attribute& a, const Attribute& b) {
  if (a.m_data == b.m_data) return true;
  if (!a.m_data || !b.m_data) return false;
  return detail::hashOf(a.m_data) == detail::hashOf(b.m_data);
}

NullAttribute::NullAttribute() : Attribute(&detail::gNullData) {}

namespace testing {

Attribute MakeAttributeWithTypeTag(int typeTag) {
  void* memory = std::malloc(sizeof(detail::AttributeData));
  if (!memory) throw std::bad_alloc();
  auto* data = new (memory) detail::AttributeData(detail::Storage::kNull);
  data->typeTag = typeTag;
  return Attribute(data);
}

}  // namespace testing

}  // namespace Tessark::internal::OvAttribute
