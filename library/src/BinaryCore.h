// The one reader of the binary form (docs/formats.md). parseBinary, hashBinary and readBinary
// differ only in what they do with what it reads, their Sink, so that all three refuse the same
// bytes with the same message at the same byte, and none of them can drift from the others.
//
// The reader treats every byte as hostile: each count is checked against the bytes that remain
// before anything is read for it, and the children a group claims against the bytes left over
// once every outer group's outstanding children have their minimum. It reserves nothing from a
// claim, and walks groups with a heap stack, so nesting costs heap rather than thread stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "AttributeData.h"
#include "SerialCommon.h"
#include "Tessark/OvAttribute/DataKinds.h"

namespace Tessark::internal::OvAttribute::detail {

constexpr char kBinaryMagic[4] = {'O', 'V', 'A', 'B'};
constexpr uint32_t kBinaryFormatVersion = 1;
constexpr size_t kBinaryHeaderSize = 8;
constexpr uint8_t kGroupInheritFlag = 1;
constexpr uint64_t kMaxBinaryCount = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
// The fewest bytes one group child can take: name length, a one-byte name, a null node.
constexpr uint64_t kMinChildBytes = 8 + 1 + 2;
constexpr size_t kStringLengthBytes = 8;

// The element of type T (a number or an unsigned count) stored little-endian at `p`, which
// need not be aligned. Compilers turn the loop into one load on little-endian hosts.
template <typename T>
T loadLittle(const unsigned char* p) noexcept {
  BitsOf<T> bits = 0;
  for (size_t i = 0; i < sizeof bits; ++i)
    bits = static_cast<BitsOf<T>>(bits | (BitsOf<T>{p[i]} << (8 * i)));
  if constexpr (std::is_unsigned_v<T>) {
    return static_cast<T>(bits);
  } else {
    return fromBits<T>(bits);
  }
}

enum class ReadEnd { kDone, kStopped, kRefused };

// A data node as the reader hands it to a sink, once its counts and times are checked.
struct DataHead {
  int64_t tupleSize;
  size_t values;  // per sample
  size_t samples;
  const unsigned char* times;  // `samples` little-endian floats, 4-aligned from the blob's start
};

// The children's names of every open group, views into the blob, checked for repeats when the
// group closes: for sinks that build no group block, which would find them itself.
class RepeatedNames {
 public:
  void open() { m_starts.push_back(m_names.size()); }
  void add(std::string_view name) { m_names.push_back(name); }
  // Closes the innermost open group; false when two of its children share a name, with the
  // first child, in order, whose name an earlier one has, in `repeated` (as a group block
  // reports it).
  bool close(std::string& repeated) {
    const size_t start = m_starts.back();
    m_starts.pop_back();
    const size_t count = m_names.size() - start;
    bool distinct = true;
    if (count > 1) {
      // Open addressing, at most half full, slots holding an index + 1 into the group's names.
      m_slots.assign(groupIndexCapacity(static_cast<int64_t>(count)), 0);
      const size_t mask = m_slots.size() - 1;
      for (size_t i = 0; i < count && distinct; ++i) {
        const std::string_view name = m_names[start + i];
        for (size_t at = nameIndexHash(name) & mask;; at = (at + 1) & mask) {
          if (m_slots[at] == 0) {
            m_slots[at] = i + 1;
            break;
          }
          if (m_names[start + m_slots[at] - 1] == name) {
            repeated.assign(name);
            distinct = false;
            break;
          }
        }
      }
    }
    m_names.resize(start);
    return distinct;
  }

 private:
  std::vector<std::string_view> m_names;
  std::vector<size_t> m_starts;
  std::vector<size_t> m_slots;
};

// Reads one blob, in document order, telling `Sink` what it meets. A Sink has:
//
//   static constexpr bool kChecksNames;  // true: the reader finds repeated child names itself
//   bool beginGroup(std::string_view name, bool inherit, uint64_t children);
//   bool endGroup(std::string_view name, std::string& repeated);
//   bool null(std::string_view name);
//   template <typename T> bool beginData(std::string_view name, const DataHead& head);
//   bool string(const unsigned char* bytes, size_t size);  // each string value, once checked
//   template <typename T> bool sample(size_t index, const unsigned char* begin,
//                                     const unsigned char* end);
//   template <typename T> bool endData(std::string_view name);
//
// Names are views into the blob, empty for the root (a child name never is). A sample's bytes
// are its `values` elements, or its checked string records (u64 length, bytes). Each call
// returns whether to go on; false from endGroup with `repeated` set refuses the blob for that
// repeated name (a sink without kChecksNames finds them there), any other false stops the read.
template <typename Sink>
class BinaryReader {
 public:
  BinaryReader(const unsigned char* data, size_t size, Sink& sink) noexcept
      : m_begin(data), m_pos(data), m_end(data + size), m_sink(sink) {}

  ReadEnd read() {
    if (remaining() < kBinaryHeaderSize) return fail("shorter than the 8-byte header");
    if (std::memcmp(m_pos, kBinaryMagic, sizeof kBinaryMagic) != 0) return fail("no OVAB magic");
    m_pos += sizeof kBinaryMagic;
    uint32_t version = 0;
    uint(version);
    // A reader knows only the versions up to its own: a newer blob may mean anything.
    if (version != kBinaryFormatVersion) {
      m_pos -= 4;
      return fail("unsupported version " + std::to_string(version));
    }
    return readTree();
  }

  // The first problem found, with its byte offset; empty unless read() refused.
  const std::string& error() const noexcept { return m_error; }

  // Whether arrays of T at multiples of sizeof(T) from the blob's start can be used where
  // they lie: the host reads them as they are and the blob starts aligned for T.
  template <typename T>
  static bool inPlace(const unsigned char* blob) noexcept {
    return kHostLittleEndian && reinterpret_cast<uintptr_t>(blob) % alignof(T) == 0;
  }

 private:
  size_t remaining() const noexcept { return static_cast<size_t>(m_end - m_pos); }
  size_t offset() const noexcept { return static_cast<size_t>(m_pos - m_begin); }

  // Each keeps the first problem found, with its offset, and answers the caller's failure.
  bool refuseAt(size_t at, const std::string& what) {
    if (m_error.empty()) m_error = what + " at byte " + std::to_string(at);
    return false;
  }
  bool refuse(const std::string& what) { return refuseAt(offset(), what); }
  ReadEnd failAt(size_t at, const std::string& what) {
    refuseAt(at, what);
    return ReadEnd::kRefused;
  }
  ReadEnd fail(const std::string& what) { return failAt(offset(), what); }

  template <typename U>
  bool uint(U& value) noexcept {
    static_assert(std::is_unsigned_v<U>);
    if (remaining() < sizeof(U)) return false;
    if constexpr (sizeof(U) == 1) {
      value = *m_pos;
    } else {
      value = loadLittle<U>(m_pos);
    }
    m_pos += sizeof(U);
    return true;
  }

  // A count: at most 2^63-1 and, with `unit` bytes at least per item, no more than the bytes
  // left can hold.
  bool count(uint64_t& value, const char* what, uint64_t unit) {
    const size_t at = offset();
    if (!uint(value)) return refuse(std::string("truncated ") + what);
    if (value > kMaxBinaryCount || (unit != 0 && value > remaining() / unit))
      return refuseAt(at, std::to_string(value) + " " + what + " claim more bytes than remain");
    return true;
  }

  // Pad bytes must be zero, so that each attribute has exactly one blob.
  bool pad(size_t align) {
    const size_t n = (align - offset() % align) % align;
    if (remaining() < n) return refuse("truncated padding");
    for (size_t i = 0; i < n; ++i)
      if (m_pos[i] != 0) return refuse("non-zero padding");
    m_pos += n;
    return true;
  }

  const unsigned char* take(size_t size) noexcept {
    const unsigned char* p = m_pos;
    m_pos += size;
    return p;
  }

  // The first of `count` times at `p` that is NaN or not above the one before it, or `count`.
  static size_t firstUnorderedTime(const unsigned char* p, size_t count) noexcept {
    float before = 0;
    for (size_t i = 0; i < count; ++i) {
      const float t = loadLittle<float>(p + 4 * i);
      // Written so that a NaN, which compares false with everything, fails too.
      if (!(i == 0 ? t == t : before < t)) return i;
      before = t;
    }
    return count;
  }

  // The rest of a data node whose kind and flags are read.
  template <typename T>
  ReadEnd readData(std::string_view name) {
    uint64_t tupleSize = 0;
    uint64_t valueCount = 0;
    uint64_t sampleCount = 0;
    if (!uint(tupleSize)) return fail("truncated tuple size");
    if (!count(valueCount, "values", 0) || !count(sampleCount, "samples", 0))
      return ReadEnd::kRefused;
    if (!pad(4)) return ReadEnd::kRefused;
    const size_t timesAt = offset();
    if (sampleCount > remaining() / 4)
      return fail(std::to_string(sampleCount) + " samples claim more bytes than remain");
    const auto samples = static_cast<size_t>(sampleCount);
    const unsigned char* times = take(samples * 4);
    const size_t bad = firstUnorderedTime(times, samples);
    if (bad != samples)
      return failAt(timesAt + 4 * bad, "a sample time that is NaN or not above the one before");
    const auto values = static_cast<size_t>(valueCount);
    const size_t minimum = kIsString<T> ? kStringLengthBytes : sizeof(T);
    if (samples != 0 && values > remaining() / minimum / samples)
      return fail(std::to_string(values) + " values per sample claim more bytes than remain");

    const DataHead head{static_cast<int64_t>(tupleSize), values, samples, times};
    if (!m_sink.template beginData<T>(name, head)) return ReadEnd::kStopped;
    for (size_t i = 0; i < samples; ++i) {
      const unsigned char* row = m_pos;
      if constexpr (kIsString<T>) {
        for (size_t k = 0; k < values; ++k) {
          uint64_t length = 0;
          if (!count(length, "string bytes", 1)) return ReadEnd::kRefused;
          const auto n = static_cast<size_t>(length);
          const unsigned char* s = take(n);
          if (n != 0 && std::memchr(s, 0, n) != nullptr)
            return failAt(offset() - n, "a string value holds a NUL byte");
          if (!m_sink.string(s, n)) return ReadEnd::kStopped;
        }
      } else {
        if (!pad(sizeof(T))) return ReadEnd::kRefused;
        if (values > remaining() / sizeof(T)) return fail("truncated values");
        row = take(values * sizeof(T));
      }
      if (!m_sink.template sample<T>(i, row, m_pos)) return ReadEnd::kStopped;
    }
    return m_sink.template endData<T>(name) ? ReadEnd::kDone : ReadEnd::kStopped;
  }

  // The name of the next child; a child name is not empty and holds no NUL byte.
  bool readName(std::string_view& name) {
    uint64_t length = 0;
    const size_t at = offset();
    if (!count(length, "name bytes", 1)) return false;
    if (length == 0) return refuseAt(at, "empty child name");
    const auto n = static_cast<size_t>(length);
    name = std::string_view(reinterpret_cast<const char*>(take(n)), n);
    if (std::memchr(name.data(), 0, n) != nullptr)
      return refuseAt(at + 8, "a child name holds a NUL byte");
    if constexpr (Sink::kChecksNames) m_names.add(name);
    return true;
  }

  // Closes the innermost open group, which starts at byte `at` and is named `name`.
  ReadEnd closeGroup(size_t at, std::string_view name) {
    m_repeated.clear();
    bool distinct = true;
    if constexpr (Sink::kChecksNames) distinct = m_names.close(m_repeated);
    if (distinct && m_sink.endGroup(name, m_repeated)) return ReadEnd::kDone;
    if (m_repeated.empty()) return ReadEnd::kStopped;
    return failAt(at, "repeated child name \"" + m_repeated + "\" in the group");
  }

  ReadEnd readTree() {
    struct Open {
      uint64_t remaining;     // children still to come, the one being read included
      size_t at;              // where the group node starts
      std::string_view self;  // the group's own name
      std::string_view name;  // of the child being read
    };
    std::vector<Open> open;
    // Bytes that the children still to come of every open group need at the least, beyond the
    // child being read: a claim must fit in what is left after them.
    uint64_t promised = 0;
    for (;;) {
      const std::string_view name = open.empty() ? std::string_view() : open.back().name;
      const size_t at = offset();
      uint8_t kind = 0;
      uint8_t flags = 0;
      if (!uint(kind) || !uint(flags)) return failAt(at, "truncated node");
      if (kind == kAttrTypeGroup) {
        if ((flags & ~kGroupInheritFlag) != 0) return failAt(at + 1, "unknown group flags");
        uint64_t children = 0;
        if (!uint(children)) return fail("truncated child count");
        if (open.size() >= kMaxParseGroupDepth)
          return failAt(
              at, "groups nested deeper than " + std::to_string(kMaxParseGroupDepth) + " levels");
        const uint64_t unpromised = remaining() > promised ? remaining() - promised : 0;
        if (children > kMaxBinaryCount || children > unpromised / kMinChildBytes)
          return failAt(at + 2,
                        std::to_string(children) + " children claim more bytes than remain");
        if (!m_sink.beginGroup(name, (flags & kGroupInheritFlag) != 0, children))
          return ReadEnd::kStopped;
        if (children != 0) {
          promised += (children - 1) * kMinChildBytes;
          open.push_back(Open{children, at, name, {}});
          if constexpr (Sink::kChecksNames) m_names.open();
          if (!readName(open.back().name)) return ReadEnd::kRefused;
          continue;
        }
        m_repeated.clear();
        if (!m_sink.endGroup(name, m_repeated)) return ReadEnd::kStopped;
      } else {
        if (flags != 0) return failAt(at + 1, "non-zero flags");
        ReadEnd end = ReadEnd::kDone;
        if (kind == kAttrTypeNull) {
          if (!m_sink.null(name)) return ReadEnd::kStopped;
        } else if (!visitDataKind(kind, [&](auto tag) {
                     end = readData<typename decltype(tag)::type>(name);
                   })) {
          return failAt(at, "unknown kind " + std::to_string(kind));
        }
        if (end != ReadEnd::kDone) return end;
      }

      // The node is finished: finish every group that it completes.
      for (;;) {
        if (open.empty()) {
          if (remaining() != 0) return fail("bytes after the value");
          return ReadEnd::kDone;
        }
        if (--open.back().remaining != 0) {
          promised -= kMinChildBytes;
          if (!readName(open.back().name)) return ReadEnd::kRefused;
          break;
        }
        const ReadEnd end = closeGroup(open.back().at, open.back().self);
        if (end != ReadEnd::kDone) return end;
        open.pop_back();
      }
    }
  }

  const unsigned char* m_begin;
  const unsigned char* m_pos;
  const unsigned char* m_end;
  Sink& m_sink;
  std::string m_error;
  std::string m_repeated;
  RepeatedNames m_names;  // used only when Sink::kChecksNames
};

}  // namespace Tessark::internal::OvAttribute::detail
