// Reading the binary form without building the attribute: a visitor of what a blob holds, in
// document order, and the content hash of a blob. Both check the bytes exactly as
// Attribute::parseBinary does (docs/formats.md), refusing the same blobs with the same message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <type_traits>

#include "Tessark/OvAttribute/Attribute.h"
#include "Tessark/OvAttribute/Export.h"
#include "Tessark/Platform/StringView.h"

namespace Tessark::internal::OvAttribute {

// `size()` numbers of type T (int32_t, float or double) as the blob holds them: little-endian,
// wherever they lie (the reader's buffer need not be aligned). Views the caller's bytes.
template <typename T>
class BinaryArray {
 public:
  static_assert(std::is_arithmetic_v<T> && (sizeof(T) == 4 || sizeof(T) == 8));

  constexpr BinaryArray() noexcept = default;
  constexpr BinaryArray(const void* bytes, size_t size) noexcept
      : m_bytes(static_cast<const unsigned char*>(bytes)), m_size(size) {}

  constexpr size_t size() const noexcept { return m_size; }
  constexpr bool empty() const noexcept { return m_size == 0; }
  // Where the first element starts: `size() * sizeof(T)` bytes.
  constexpr const void* bytes() const noexcept { return m_bytes; }

  // Element `i` (< size()), read from its bytes.
  T operator[](size_t i) const noexcept {
    using Bits = std::conditional_t<sizeof(T) == 8, uint64_t, uint32_t>;
    const unsigned char* p = m_bytes + i * sizeof(T);
    Bits bits = 0;
    for (size_t k = 0; k < sizeof(T); ++k) bits = static_cast<Bits>(bits | (Bits{p[k]} << (8 * k)));
    T value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

 private:
  const unsigned char* m_bytes = nullptr;
  size_t m_size = 0;
};

// The string values of one sample, in order, as views into the caller's bytes (no NUL in any,
// none NUL-terminated). Walks the sample's records, which the reader has checked.
class BinaryStrings {
 public:
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Platform::StringView;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Platform::StringView;

    constexpr Iterator() noexcept = default;
    explicit constexpr Iterator(const unsigned char* record) noexcept : m_record(record) {}

    Platform::StringView operator*() const noexcept {
      return {reinterpret_cast<const char*>(m_record) + 8, static_cast<size_t>(length())};
    }
    Iterator& operator++() noexcept {
      m_record += 8 + length();
      return *this;
    }
    Iterator operator++(int) noexcept {
      Iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(Iterator a, Iterator b) noexcept { return a.m_record == b.m_record; }
    friend bool operator!=(Iterator a, Iterator b) noexcept { return a.m_record != b.m_record; }

   private:
    uint64_t length() const noexcept {
      uint64_t n = 0;
      for (size_t k = 0; k < 8; ++k) n |= uint64_t{m_record[k]} << (8 * k);
      return n;
    }
    const unsigned char* m_record = nullptr;
  };

  constexpr BinaryStrings() noexcept = default;
  // `size` records (u64 length, bytes) from `begin` to `end`, as the reader checked them.
  constexpr BinaryStrings(const void* begin, const void* end, size_t size) noexcept
      : m_begin(static_cast<const unsigned char*>(begin)),
        m_end(static_cast<const unsigned char*>(end)),
        m_size(size) {}

  constexpr size_t size() const noexcept { return m_size; }
  constexpr bool empty() const noexcept { return m_size == 0; }
  Iterator begin() const noexcept { return Iterator(m_begin); }
  Iterator end() const noexcept { return Iterator(m_end); }

 private:
  const unsigned char* m_begin = nullptr;
  const unsigned char* m_end = nullptr;
  size_t m_size = 0;
};

// What a data node holds besides its values.
struct BinaryData {
  AttributeType type;  // kAttrTypeInt, kAttrTypeFloat, kAttrTypeDouble or kAttrTypeString
  int64_t tupleSize;   // as stored: any value
  int64_t valueCount;  // per sample
  int64_t sampleCount;
  BinaryArray<float> times;  // sampleCount of them, strictly ascending
};

// The values of one sample of a data node: views into the caller's bytes. The accessor of the
// node's kind gives them; the others give an empty view.
class BinarySample {
 public:
  constexpr BinarySample(AttributeType type, int64_t index, size_t size, const void* begin,
                         const void* end) noexcept
      : m_type(type), m_index(index), m_size(size), m_begin(begin), m_end(end) {}

  constexpr AttributeType getType() const noexcept { return m_type; }
  // 0 for the earliest sample.
  constexpr int64_t getIndex() const noexcept { return m_index; }
  // Number of values (the node's valueCount).
  constexpr size_t size() const noexcept { return m_size; }

  // For T = int32_t, float or double: the numbers of an int, float or double node.
  template <typename T>
  BinaryArray<T> numbers() const noexcept {
    constexpr AttributeType kType = std::is_same_v<T, int32_t>  ? kAttrTypeInt
                                    : std::is_same_v<T, float>  ? kAttrTypeFloat
                                    : std::is_same_v<T, double> ? kAttrTypeDouble
                                                                : kAttrTypeInvalid;
    static_assert(kType != kAttrTypeInvalid, "numbers<T>: T is int32_t, float or double");
    return m_type == kType ? BinaryArray<T>(m_begin, m_size) : BinaryArray<T>();
  }
  BinaryArray<int32_t> ints() const noexcept { return numbers<int32_t>(); }
  BinaryArray<float> floats() const noexcept { return numbers<float>(); }
  BinaryArray<double> doubles() const noexcept { return numbers<double>(); }
  BinaryStrings strings() const noexcept {
    return m_type == kAttrTypeString ? BinaryStrings(m_begin, m_end, m_size) : BinaryStrings();
  }

 private:
  AttributeType m_type;
  int64_t m_index;
  size_t m_size;
  const void* m_begin;
  const void* m_end;
};

// What readBinary reports, in document order: a group's children come between its
// beginGroup and endGroup; a data node is beginData, one sample() per sample in time order,
// then endData. The root has an empty name; every child's name is non-empty. Names, times and
// values are views into the caller's bytes, valid while they are.
//
// Each call returns true to go on, false to stop reading there (readBinary then returns
// kStopped). The defaults go on and do nothing, so a visitor overrides what it needs.
class OVATTR_API BinaryVisitor {
 public:
  virtual ~BinaryVisitor();

  virtual bool beginGroup(Platform::StringView name, bool groupInherit, int64_t childCount);
  virtual bool endGroup();
  virtual bool null(Platform::StringView name);
  virtual bool beginData(Platform::StringView name, const BinaryData& data);
  virtual bool sample(const BinarySample& values);
  virtual bool endData();
};

enum class BinaryReadResult {
  kDone,     // the blob is valid, and every event was reported
  kStopped,  // the visitor stopped the read; what was not read is not checked
  kRefused,  // the blob is not valid (parseBinary refuses it): see the error
};

// Reads the blob [data, data + size) and reports what it holds to `visitor` as it reads,
// allocating nothing per value: a caller can print or stop at once, however large the blob.
// It checks every byte as parseBinary does and refuses what parseBinary refuses, with the
// same message in `error` (cleared otherwise; "... at byte N"). A refusal can come after
// events: everything before the fault has been reported by then, and a repeated child name or
// bytes after the root are found only when the group or the root has ended. Nesting costs
// heap, not thread stack. Throws what the visitor throws, and std::bad_alloc when memory for
// the open groups runs out.
OVATTR_API BinaryReadResult readBinary(const void* data, size_t size, BinaryVisitor& visitor,
                                       std::string* error = nullptr);

// The content hash of the attribute the blob holds, without building it: for every blob that
// parseBinary accepts, true with `*hash` equal to parseBinary(data, size).getHash(); for every
// blob it refuses, false with the same message in `error` (cleared otherwise), `*hash` left
// alone. Values are hashed where they lie; memory grows with the nesting and the width of
// groups only. Never throws: allocation failure is a refusal ("cannot parse: ...").
OVATTR_API bool hashBinary(const void* data, size_t size, Hash* hash,
                           std::string* error = nullptr) noexcept;

}  // namespace Tessark::internal::OvAttribute
