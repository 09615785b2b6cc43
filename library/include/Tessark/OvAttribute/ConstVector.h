// ConstVector<T>: a read-only view of the values of one time sample.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "Tessark/OvAttribute/Attribute.h"

namespace Tessark::internal::OvAttribute {

namespace detail {

// The head of a sample's value buffer. A buffer either lives in a ConstVector's inline
// storage (flags 0: the values belong to the attribute the vector keeps alive) or on the heap
// with kSampleBufferShared set, owned through the host suite's retain and release entries.
struct SampleBuffer {
  int64_t count;  // number of values
  uint32_t flags;
  uint32_t reserved;
};

constexpr uint32_t kSampleBufferShared = 1u;

// Library internals: a shared buffer holding a copy of `count` values of `valueSize` bytes,
// with one owner. Its values start at sharedSampleBufferValues(buffer).
OVATTR_API SampleBuffer* newSharedSampleBuffer(const void* values, int64_t count, size_t valueSize);
OVATTR_API const void* sharedSampleBufferValues(const SampleBuffer* buffer) noexcept;

}  // namespace detail

// The values of one time sample, flat in storage order (the tuple size plays no part).
//
// Layout (fixed, since the copy and destruction code below is compiled into callers): the
// buffer pointer, 64 bytes of inline storage, the Attribute handle that keeps the values
// alive, and the pointer to the first value. A copy shares the values: it copies the inline
// buffer head or retains the shared buffer, and copies the handle; no value is copied and
// nothing is allocated. A vector stays valid after every other handle to its attribute is gone.
//
// T is int32_t, float, double or const char* (NUL-terminated strings).
template <typename T>
class ConstVector {
 public:
  using value_type = T;
  using size_type = size_t;
  using const_iterator = const T*;
  using iterator = const T*;

  ConstVector() noexcept : m_buffer(nullptr), m_inline{}, m_attr(), m_values(nullptr) {}

  // A view of `count` values at `values`, kept alive by `owner`.
  ConstVector(const Attribute& owner, const T* values, int64_t count) noexcept
      : m_buffer(nullptr), m_inline{}, m_attr(owner), m_values(values) {
    detail::SampleBuffer head{count < 0 ? 0 : count, 0u, 0u};
    std::memcpy(m_inline, &head, sizeof head);
    m_buffer = reinterpret_cast<const detail::SampleBuffer*>(m_inline);
  }

  // A vector that owns a copy of `count` numeric values, independent of any attribute.
  static ConstVector copyOf(const T* values, int64_t count) {
    static_assert(std::is_arithmetic_v<T>, "copyOf holds numbers only");
    ConstVector v;
    v.m_buffer = detail::newSharedSampleBuffer(values, count < 0 ? 0 : count, sizeof(T));
    v.m_values = static_cast<const T*>(detail::sharedSampleBufferValues(v.m_buffer));
    return v;
  }

  ConstVector(const ConstVector& other) noexcept : m_inline{} { copyFrom(other); }
  ConstVector(ConstVector&& other) noexcept : m_inline{} { copyFrom(other); }
  ConstVector& operator=(const ConstVector& other) noexcept {
    if (this != &other) {
      releaseBuffer();  // `other` holds its own share, so this cannot free what we copy next
      copyFrom(other);
    }
    return *this;
  }
  ConstVector& operator=(ConstVector&& other) noexcept { return *this = other; }
  ~ConstVector() { releaseBuffer(); }

  size_t size() const noexcept { return m_buffer ? static_cast<size_t>(m_buffer->count) : 0; }
  bool empty() const noexcept { return size() == 0; }
  const T* data() const noexcept { return m_values; }
  const T* begin() const noexcept { return m_values; }
  const T* end() const noexcept { return m_values + size(); }
  // No range check, as with std::vector.
  const T& operator[](size_t i) const noexcept { return m_values[i]; }
  // The attribute whose values this views; invalid for an empty or copied-out vector.
  const Attribute& getAttribute() const noexcept { return m_attr; }

 private:
  bool ownsInlineBuffer() const noexcept {
    return m_buffer == reinterpret_cast<const detail::SampleBuffer*>(m_inline);
  }
  void copyFrom(const ConstVector& other) noexcept {
    if (other.ownsInlineBuffer()) {
      std::memcpy(m_inline, other.m_inline, sizeof m_inline);
      m_buffer = reinterpret_cast<const detail::SampleBuffer*>(m_inline);
    } else {
      m_buffer = other.m_buffer;
      std::memset(m_inline, 0, sizeof m_inline);
      if (m_buffer && (m_buffer->flags & detail::kSampleBufferShared))
        Attribute::_attrSuite->retainSampleBuffer(m_buffer);
    }
    m_attr = other.m_attr;
    m_values = other.m_values;
  }
  void releaseBuffer() noexcept {
    if (m_buffer && !ownsInlineBuffer() && (m_buffer->flags & detail::kSampleBufferShared))
      Attribute::_attrSuite->releaseSampleBuffer(m_buffer);
    m_buffer = nullptr;
  }

  const detail::SampleBuffer* m_buffer;
  alignas(8) unsigned char m_inline[64];
  Attribute m_attr;
  const T* m_values;
};

}  // namespace Tessark::internal::OvAttribute
