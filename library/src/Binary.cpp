// The binary form of attributes; docs/formats.md has the byte layout. Both directions walk
// groups with an explicit stack, so nesting costs heap rather than thread stack, and the reader
// treats every byte as hostile: each count is checked against the bytes that remain before
// anything is allocated for it.

#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

#include "SerialCommon.h"
#include "Tessark/OvAttribute/DataAttribute.h"
#include "Tessark/OvAttribute/GroupAttribute.h"
#include "Tessark/OvAttribute/GroupBuilder.h"

namespace Tessark::internal::OvAttribute {

namespace {

using detail::kHostLittleEndian;

constexpr char kMagic[4] = {'O', 'V', 'A', 'B'};
constexpr uint32_t kFormatVersion = 1;
constexpr size_t kHeaderSize = 8;
constexpr uint8_t kGroupInheritFlag = 1;
constexpr uint64_t kMaxCount = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
// The fewest bytes one group child can take: name length, a one-byte name, a null node.
constexpr uint64_t kMinChildBytes = 8 + 1 + 2;
constexpr size_t kStringLengthBytes = 8;

template <typename T>
constexpr bool kIsString = std::is_same_v<T, const char*>;

// Sizes of the fixed part of each node, for reserving the output of a lone data attribute.
constexpr size_t kDataNodeHead = 2 + 8 + 8 + 8;

// ---------------------------------------------------------------------------------------------
// Writing

class BinaryWriter {
 public:
  explicit BinaryWriter(std::vector<char>& out) : m_out(out) {}

  void bytes(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    m_out.insert(m_out.end(), p, p + size);
  }

  template <typename U>
  void uint(U value) {
    static_assert(std::is_unsigned_v<U>);
    char b[sizeof(U)];
    for (size_t i = 0; i < sizeof(U); ++i)
      b[i] = static_cast<char>(static_cast<unsigned char>((value >> (8 * i)) & 0xffu));
    bytes(b, sizeof b);
  }

  // Zero bytes up to the next multiple of `align` from the start of the blob, so that a reader
  // holding an aligned blob can use the value arrays where they lie.
  void pad(size_t align) {
    size_t n = (align - m_out.size() % align) % align;
    m_out.insert(m_out.end(), n, '\0');
  }

  template <typename T>
  void numbers(const T* values, size_t count) {
    if constexpr (kHostLittleEndian) {
      bytes(values, count * sizeof(T));
    } else {
      for (size_t i = 0; i < count; ++i) uint(detail::toBits(values[i]));
    }
  }

 private:
  std::vector<char>& m_out;
};

// Returns false when the attribute's own accessors disagree about its value count, which
// would make the blob unreadable.
template <typename T>
bool writeData(BinaryWriter& w, const Attribute& attribute) {
  TypedDataAttribute<T> a(attribute);
  const int64_t valueCount = a.getNumberOfValues();
  const int64_t sampleCount = a.getNumberOfTimeSamples();
  if (valueCount < 0 || sampleCount < 0) return false;
  w.uint(static_cast<uint8_t>(TypedDataAttribute<T>::kType));
  w.uint(uint8_t{0});
  w.uint(static_cast<uint64_t>(a.getTupleSize()));
  w.uint(static_cast<uint64_t>(valueCount));
  w.uint(static_cast<uint64_t>(sampleCount));
  w.pad(4);
  for (int64_t i = 0; i < sampleCount; ++i) w.uint(detail::toBits(a.getSampleTime(i)));
  for (int64_t i = 0; i < sampleCount; ++i) {
    ConstVector<T> sample = a.getSample(i);
    if (sample.size() != static_cast<size_t>(valueCount)) return false;
    if constexpr (kIsString<T>) {
      for (const char* s : sample) {
        size_t n = std::strlen(s);
        w.uint(static_cast<uint64_t>(n));
        w.bytes(s, n);
      }
    } else {
      w.pad(sizeof(T));
      w.numbers(sample.data(), sample.size());
    }
  }
  return true;
}

size_t dataNodeSize(const Attribute& attribute) {
  size_t size = 0;
  detail::visitDataKind(attribute.getType(), [&](auto* tag) {
    using T = std::remove_pointer_t<decltype(tag)>;
    if constexpr (!kIsString<T>) {
      DataAttribute a(attribute);
      auto samples = static_cast<size_t>(a.getNumberOfTimeSamples());
      auto values = static_cast<size_t>(a.getNumberOfValues());
      size = kDataNodeHead + 4 + samples * (4 + sizeof(T) + values * sizeof(T));
    }
  });
  return size;
}

bool writeTree(BinaryWriter& w, const Attribute& root) {
  struct Frame {
    GroupAttribute group;
    int64_t next;
    int64_t count;
  };
  std::vector<Frame> stack;

  // Writes one node; a group's children follow through the stack.
  auto writeNode = [&](const Attribute& a) -> bool {
    const int type = a.getType();
    if (type == kAttrTypeGroup) {
      GroupAttribute g(a);
      const int64_t count = g.getNumberOfChildren();
      w.uint(static_cast<uint8_t>(kAttrTypeGroup));
      w.uint(static_cast<uint8_t>(g.getGroupInherit() ? kGroupInheritFlag : 0));
      w.uint(static_cast<uint64_t>(count));
      if (count > 0) stack.push_back(Frame{std::move(g), 0, count});
      return true;
    }
    bool ok = true;
    if (!detail::visitDataKind(
            type, [&](auto* tag) { ok = writeData<std::remove_pointer_t<decltype(tag)>>(w, a); })) {
      // Null, and any tag this library does not know, is written as the null attribute.
      w.uint(static_cast<uint8_t>(kAttrTypeNull));
      w.uint(uint8_t{0});
    }
    return ok;
  };

  if (!writeNode(root)) return false;
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next == f.count) {
      stack.pop_back();
      continue;
    }
    const int64_t i = f.next++;
    Platform::StringView name = f.group.getChildNameView(i);
    Attribute child = f.group.getChildByIndex(i);  // before writeNode may grow the stack
    w.uint(static_cast<uint64_t>(name.size()));
    w.bytes(name.data(), name.size());
    if (!writeNode(child)) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Reading

class BinaryReader {
 public:
  BinaryReader(const unsigned char* data, size_t size)
      : m_begin(data), m_pos(data), m_end(data + size) {}

  size_t remaining() const noexcept { return static_cast<size_t>(m_end - m_pos); }
  size_t offset() const noexcept { return static_cast<size_t>(m_pos - m_begin); }

  template <typename U>
  bool uint(U& value) noexcept {
    static_assert(std::is_unsigned_v<U>);
    if (remaining() < sizeof(U)) return false;
    U v = 0;
    for (size_t i = 0; i < sizeof(U); ++i) v = static_cast<U>(v | (U{m_pos[i]} << (8 * i)));
    m_pos += sizeof(U);
    value = v;
    return true;
  }

  // Pad bytes must be zero, so that each attribute has exactly one blob.
  bool pad(size_t align) noexcept {
    size_t n = (align - offset() % align) % align;
    if (remaining() < n) return false;
    for (size_t i = 0; i < n; ++i)
      if (m_pos[i] != 0) return false;
    m_pos += n;
    return true;
  }

  // Null when fewer than `size` bytes remain.
  const unsigned char* take(size_t size) noexcept {
    if (remaining() < size) return nullptr;
    const unsigned char* p = m_pos;
    m_pos += size;
    return p;
  }

 private:
  const unsigned char* m_begin;
  const unsigned char* m_pos;
  const unsigned char* m_end;
};

template <typename T>
T loadLittleEndian(const unsigned char* p) noexcept {
  typename detail::BitsOf<T>::type bits = 0;
  for (size_t i = 0; i < sizeof bits; ++i)
    bits = static_cast<decltype(bits)>(bits | (decltype(bits){p[i]} << (8 * i)));
  return detail::fromBits<T>(bits);
}

template <typename T>
bool canUseInPlace(const unsigned char* p) noexcept {
  return kHostLittleEndian && reinterpret_cast<uintptr_t>(p) % alignof(T) == 0;
}

// The string values of all samples, one after another: NUL-terminated copies in one blob and a
// pointer to each.
struct StringValues {
  std::vector<char> blob;
  std::vector<const char*> pointers;
};

// Reads sampleCount * valueCount strings; false for a short read or a NUL inside a value.
bool readStrings(BinaryReader& r, uint64_t total, StringValues& out) {
  // A first pass checks every length against the bytes, so the copies below are sized by what
  // the input holds rather than by what it claims.
  BinaryReader first = r;
  size_t bytes = 0;
  for (uint64_t k = 0; k < total; ++k) {
    uint64_t length = 0;
    if (!first.uint(length) || length > first.remaining()) return false;
    const unsigned char* s = first.take(static_cast<size_t>(length));
    if (length != 0 && std::memchr(s, 0, static_cast<size_t>(length)) != nullptr) return false;
    bytes += static_cast<size_t>(length) + 1;
  }
  out.blob.resize(bytes);
  out.pointers.resize(static_cast<size_t>(total));
  char* dst = out.blob.data();
  for (uint64_t k = 0; k < total; ++k) {
    uint64_t length = 0;
    r.uint(length);
    const unsigned char* s = r.take(static_cast<size_t>(length));
    if (length != 0) std::memcpy(dst, s, static_cast<size_t>(length));
    dst[length] = '\0';
    out.pointers[static_cast<size_t>(k)] = dst;
    dst += length + 1;
  }
  return true;
}

// Reads the rest of a data node whose kind and flags are already read; invalid on bad bytes.
template <typename T>
Attribute readData(BinaryReader& r) {
  uint64_t tupleSize = 0;
  uint64_t valueCount = 0;
  uint64_t sampleCount = 0;
  if (!r.uint(tupleSize) || !r.uint(valueCount) || !r.uint(sampleCount)) return {};
  if (valueCount > kMaxCount || sampleCount > kMaxCount) return {};

  if (!r.pad(4) || sampleCount > r.remaining() / 4) return {};
  const unsigned char* timeBytes = r.take(static_cast<size_t>(sampleCount) * 4);
  const auto samples = static_cast<size_t>(sampleCount);
  std::vector<float> timeCopy;
  float noTime = 0.0f;
  const float* times = &noTime;
  if (samples != 0) {
    if (canUseInPlace<float>(timeBytes)) {
      times = reinterpret_cast<const float*>(timeBytes);
    } else {
      timeCopy.resize(samples);
      for (size_t i = 0; i < samples; ++i) timeCopy[i] = loadLittleEndian<float>(timeBytes + 4 * i);
      times = timeCopy.data();
    }
  }

  // Per sample: a pointer to its first value (null when samples hold no values).
  std::vector<const T*> sampleValues(samples, nullptr);
  std::vector<T> valueCopy;
  StringValues strings;
  if (samples != 0 && valueCount != 0) {
    const size_t minValueBytes = kIsString<T> ? kStringLengthBytes : sizeof(T);
    if (valueCount > r.remaining() / minValueBytes) return {};
    const auto values = static_cast<size_t>(valueCount);
    if (samples > r.remaining() / (values * minValueBytes)) return {};
    if constexpr (kIsString<T>) {
      if (!readStrings(r, sampleCount * valueCount, strings)) return {};
      for (size_t i = 0; i < samples; ++i) sampleValues[i] = strings.pointers.data() + i * values;
    } else {
      for (size_t i = 0; i < samples; ++i) {
        if (!r.pad(sizeof(T))) return {};
        const unsigned char* p = r.take(values * sizeof(T));
        if (p == nullptr) return {};
        if (canUseInPlace<T>(p)) {
          sampleValues[i] = reinterpret_cast<const T*>(p);
          continue;
        }
        if (valueCopy.empty()) valueCopy.resize(samples * values);
        T* dst = valueCopy.data() + i * values;
        if constexpr (kHostLittleEndian) {
          std::memcpy(dst, p, values * sizeof(T));
        } else {
          for (size_t k = 0; k < values; ++k) dst[k] = loadLittleEndian<T>(p + k * sizeof(T));
        }
        sampleValues[i] = dst;
      }
    }
  } else if constexpr (!kIsString<T>) {
    // Samples without values still carry their (empty) padding.
    for (size_t i = 0; i < samples; ++i)
      if (!r.pad(sizeof(T))) return {};
  }

  return TypedDataAttribute<T>(times, static_cast<int64_t>(sampleCount), sampleValues.data(),
                               static_cast<int64_t>(valueCount), static_cast<int64_t>(tupleSize));
}

Attribute readTree(BinaryReader& r) {
  struct Frame {
    GroupBuilder builder;
    uint64_t expected;
    uint64_t remaining;
    Platform::StringView name;  // of the child being read; views the input
  };
  std::vector<Frame> stack;

  // Reads the name of the next child of the innermost group; empty names are refused, as a
  // group cannot hold one.
  auto readName = [&](Frame& f) -> bool {
    uint64_t length = 0;
    if (!r.uint(length) || length == 0 || length > r.remaining()) return false;
    const auto n = static_cast<size_t>(length);
    f.name = Platform::StringView(reinterpret_cast<const char*>(r.take(n)), n);
    return true;
  };

  for (;;) {
    uint8_t kind = 0;
    uint8_t flags = 0;
    if (!r.uint(kind) || !r.uint(flags)) return {};
    Attribute done;
    if (kind == kAttrTypeGroup) {
      uint64_t count = 0;
      if ((flags & ~kGroupInheritFlag) != 0 || !r.uint(count)) return {};
      if (stack.size() >= detail::kMaxParseGroupDepth) return {};
      if (count > r.remaining() / kMinChildBytes) return {};
      GroupBuilder builder(GroupBuilder::BuilderModeStrict);
      builder.setGroupInherit((flags & kGroupInheritFlag) != 0);
      if (count != 0) {
        builder.reserve(static_cast<int64_t>(count));
        stack.push_back(Frame{std::move(builder), count, count, {}});
        if (!readName(stack.back())) return {};
        continue;
      }
      done = builder.build();
    } else {
      if (flags != 0) return {};
      if (kind == kAttrTypeNull) {
        done = NullAttribute();
      } else if (!detail::visitDataKind(kind, [&](auto* tag) {
                   done = readData<std::remove_pointer_t<decltype(tag)>>(r);
                 })) {
        return {};  // a kind this version does not know
      }
      if (!done.isValid()) return {};
    }

    // Hand the finished node to its group; finish every group that it completes.
    for (;;) {
      if (stack.empty()) return r.remaining() == 0 ? done : Attribute();
      Frame& f = stack.back();
      f.builder.set(f.name, done);
      if (--f.remaining != 0) {
        if (!readName(f)) return {};
        break;
      }
      GroupAttribute group = f.builder.build();
      // Strict mode replaces a child of the same name, so a short group means a repeated name.
      if (group.getNumberOfChildren() != static_cast<int64_t>(f.expected)) return {};
      done = std::move(group);
      stack.pop_back();
    }
  }
}

}  // namespace

void Attribute::getBinary(std::vector<char>& out) const {
  out.clear();
  if (!isValid()) return;
  try {
    if (size_t size = dataNodeSize(*this)) out.reserve(kHeaderSize + size);
    BinaryWriter w(out);
    w.bytes(kMagic, sizeof kMagic);
    w.uint(kFormatVersion);
    if (!writeTree(w, *this)) out.clear();
  } catch (...) {
    out.clear();  // never hand back half a blob
    throw;
  }
}

Attribute Attribute::parseBinary(const void* data, size_t size) noexcept {
  try {
    if (data == nullptr || size < kHeaderSize) return {};
    BinaryReader r(static_cast<const unsigned char*>(data), size);
    const unsigned char* magic = r.take(sizeof kMagic);
    if (std::memcmp(magic, kMagic, sizeof kMagic) != 0) return {};
    uint32_t version = 0;
    // A reader knows only the versions up to its own: a newer blob may mean anything.
    if (!r.uint(version) || version != kFormatVersion) return {};
    return readTree(r);
  } catch (...) {
    // Allocation failure or anything the library below throws: the input did not parse.
    return {};
  }
}

}  // namespace Tessark::internal::OvAttribute
