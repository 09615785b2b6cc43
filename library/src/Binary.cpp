// The binary form of attributes; docs/formats.md has the byte layout. Both directions walk
// groups with an explicit stack, so nesting costs heap rather than thread stack, and the reader
// treats every byte as hostile: each count is checked against the bytes that remain before
// anything is allocated for it.

#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "AttributeData.h"
#include "SerialCommon.h"
#include "Tessark/OvAttribute/DataAttribute.h"

namespace Tessark::internal::OvAttribute {

namespace {

using detail::AttributeData;
using detail::DataKindTraits;
using detail::GroupChild;
using detail::kHostLittleEndian;
using detail::kIsString;
using detail::rowOf;
using detail::Storage;
using detail::visitDataKind;
using detail::walkGroups;

constexpr char kMagic[4] = {'O', 'V', 'A', 'B'};
constexpr uint32_t kFormatVersion = 1;
constexpr size_t kHeaderSize = 8;
constexpr uint8_t kGroupInheritFlag = 1;
constexpr uint64_t kMaxCount = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
// The fewest bytes one group child can take: name length, a one-byte name, a null node.
constexpr uint64_t kMinChildBytes = 8 + 1 + 2;
constexpr size_t kStringLengthBytes = 8;

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

template <typename T>
void writeData(BinaryWriter& w, const AttributeData* data) {
  w.uint(static_cast<uint8_t>(DataKindTraits<T>::kType));
  w.uint(uint8_t{0});
  w.uint(static_cast<uint64_t>(data->tupleSize));
  w.uint(static_cast<uint64_t>(data->valueCount));
  w.uint(static_cast<uint64_t>(data->sampleCount));
  w.pad(4);
  w.numbers(data->times, static_cast<size_t>(data->sampleCount));
  for (int64_t i = 0; i < data->sampleCount; ++i) {
    const T* row = rowOf<T>(data, i);
    if constexpr (kIsString<T>) {
      for (int64_t j = 0; j < data->valueCount; ++j) {
        const size_t n = std::strlen(row[j]);
        w.uint(static_cast<uint64_t>(n));
        w.bytes(row[j], n);
      }
    } else {
      w.pad(sizeof(T));
      w.numbers(row, static_cast<size_t>(data->valueCount));
    }
  }
}

// Writes the node of one block; true when it is a group whose children follow. What the block
// holds is written, whatever tag it reports: null storage under any tag is the null node.
bool writeNode(BinaryWriter& w, const AttributeData* data) {
  if (data->storage == Storage::kGroup) {
    w.uint(static_cast<uint8_t>(kAttrTypeGroup));
    w.uint(static_cast<uint8_t>(data->groupInherit ? kGroupInheritFlag : 0));
    w.uint(static_cast<uint64_t>(data->childCount));
    return data->childCount > 0;
  }
  if (!visitDataKind(static_cast<int>(data->storage),
                     [&](auto tag) { writeData<typename decltype(tag)::type>(w, data); })) {
    w.uint(static_cast<uint8_t>(kAttrTypeNull));
    w.uint(uint8_t{0});
  }
  return false;
}

// The size of the node of a lone numeric data block, to reserve its blob at once; 0 for others.
size_t dataNodeSize(const AttributeData* data) {
  return visitDataKind(static_cast<int>(data->storage), size_t{0}, [&](auto tag) -> size_t {
    using T = typename decltype(tag)::type;
    if constexpr (kIsString<T>) return 0;
    const auto samples = static_cast<size_t>(data->sampleCount);
    return kDataNodeHead + 4 + samples * (4 + sizeof(T) + data->valueCount * sizeof(T));
  });
}

void writeTree(BinaryWriter& w, AttributeData* root) {
  if (!writeNode(w, root)) return;
  walkGroups(
      root,
      [&](const GroupChild& child, size_t) {
        w.uint(static_cast<uint64_t>(child.nameSize));
        w.bytes(child.name, child.nameSize);
        return writeNode(w, child.attribute);
      },
      [](AttributeData*, size_t) {});
}

// ---------------------------------------------------------------------------------------------
// Reading

// Reads one blob. Every count is checked against the bytes that remain before anything is
// read for it, and the children a group claims against the bytes left over once every outer
// group's outstanding children have their minimum; nothing is reserved from a claim, so memory
// follows what the blob really holds. The first problem found is kept with its byte offset.
class BinaryParser {
 public:
  BinaryParser(const unsigned char* data, size_t size)
      : m_begin(data), m_pos(data), m_end(data + size) {}

  Attribute parse() {
    if (remaining() < kHeaderSize) return fail("shorter than the 8-byte header");
    if (std::memcmp(m_pos, kMagic, sizeof kMagic) != 0) return fail("no OVAB magic");
    m_pos += sizeof kMagic;
    uint32_t version = 0;
    uint(version);
    // A reader knows only the versions up to its own: a newer blob may mean anything.
    if (version != kFormatVersion) {
      m_pos -= 4;
      return fail("unsupported version " + std::to_string(version));
    }
    return readTree();
  }

  const std::string& error() const noexcept { return m_error; }

 private:
  size_t remaining() const noexcept { return static_cast<size_t>(m_end - m_pos); }
  size_t offset() const noexcept { return static_cast<size_t>(m_pos - m_begin); }

  // Each keeps the first problem found, with its offset, and answers the caller's failure.
  bool refuseAt(size_t at, const std::string& what) {
    if (m_error.empty()) m_error = what + " at byte " + std::to_string(at);
    return false;
  }
  bool refuse(const std::string& what) { return refuseAt(offset(), what); }
  Attribute failAt(size_t at, const std::string& what) {
    refuseAt(at, what);
    return {};
  }
  Attribute fail(const std::string& what) { return failAt(offset(), what); }

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

  // A count: at most 2^63-1 and, with `unit` bytes at least per item, no more than the bytes
  // left can hold.
  bool count(uint64_t& value, const char* what, uint64_t unit) {
    const size_t at = offset();
    if (!uint(value)) return refuse(std::string("truncated ") + what);
    if (value > kMaxCount || (unit != 0 && value > remaining() / unit))
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

  template <typename T>
  static T load(const unsigned char* p) noexcept {
    detail::BitsOf<T> bits = 0;
    for (size_t i = 0; i < sizeof bits; ++i)
      bits = static_cast<decltype(bits)>(bits | (decltype(bits){p[i]} << (8 * i)));
    return detail::fromBits<T>(bits);
  }

  // Whether arrays of T in the blob can be used where they lie: the host reads them as they
  // are, and every array of T starts at a multiple of sizeof(T) from the blob's start.
  template <typename T>
  bool inPlace() const noexcept {
    return kHostLittleEndian && reinterpret_cast<uintptr_t>(m_begin) % alignof(T) == 0;
  }

  // `count` elements at `p`, copied to `out`.
  template <typename T>
  static void copyElements(const unsigned char* p, size_t count, T* out) noexcept {
    for (size_t i = 0; i < count; ++i) out[i] = load<T>(p + i * sizeof(T));
  }

  // Strings of all samples, one after another: NUL-terminated copies in `blob`, a pointer to
  // each in `pointers`. Each length is read once and checked before its bytes are taken.
  bool readStrings(size_t total, std::vector<char>& blob, std::vector<const char*>& pointers) {
    std::vector<size_t> offsets(total);
    for (size_t k = 0; k < total; ++k) {
      uint64_t length = 0;
      if (!count(length, "string bytes", 1)) return false;
      const auto n = static_cast<size_t>(length);
      const unsigned char* s = take(n);
      if (n != 0 && std::memchr(s, 0, n) != nullptr)
        return refuseAt(offset() - n, "a string value holds a NUL byte");
      offsets[k] = blob.size();
      blob.insert(blob.end(), s, s + n);
      blob.push_back('\0');
    }
    pointers.resize(total);
    for (size_t k = 0; k < total; ++k) pointers[k] = blob.data() + offsets[k];
    return true;
  }

  // The rest of a data node whose kind and flags are read.
  template <typename T>
  Attribute readData() {
    uint64_t tupleSize = 0;
    uint64_t valueCount = 0;
    uint64_t sampleCount = 0;
    if (!uint(tupleSize)) return fail("truncated tuple size");
    if (!count(valueCount, "values", 0) || !count(sampleCount, "samples", 0)) return {};
    if (!pad(4)) return {};
    const size_t timesAt = offset();
    if (sampleCount > remaining() / 4)
      return fail(std::to_string(sampleCount) + " samples claim more bytes than remain");
    const auto samples = static_cast<size_t>(sampleCount);
    std::vector<float> timeCopy;
    const float* times = reinterpret_cast<const float*>(take(samples * 4));
    if (!inPlace<float>()) {
      timeCopy.resize(samples);
      copyElements(reinterpret_cast<const unsigned char*>(times), samples, timeCopy.data());
      times = timeCopy.data();
    }
    const size_t bad = detail::firstUnorderedTime(times, samples);
    if (bad != samples)
      return failAt(timesAt + 4 * bad, "a sample time that is NaN or not above the one before");

    // Per sample: a pointer to its first value (null when samples hold no values).
    std::vector<const T*> rows(samples, nullptr);
    std::vector<T> valueCopy;
    std::vector<char> blob;
    std::vector<const char*> strings;
    const auto values = static_cast<size_t>(valueCount);
    const size_t minimum = kIsString<T> ? kStringLengthBytes : sizeof(T);
    if (samples != 0 && values > remaining() / minimum / samples)
      return fail(std::to_string(values) + " values per sample claim more bytes than remain");
    if constexpr (kIsString<T>) {
      if (samples != 0 && values != 0) {
        if (!readStrings(samples * values, blob, strings)) return {};
        for (size_t i = 0; i < samples; ++i) rows[i] = strings.data() + i * values;
      }
    } else {
      if (!inPlace<T>()) valueCopy.resize(samples * values);
      for (size_t i = 0; i < samples; ++i) {
        if (!pad(sizeof(T))) return {};
        if (values > remaining() / sizeof(T)) return fail("truncated values");
        const unsigned char* row = take(values * sizeof(T));
        if (values == 0) continue;
        if (valueCopy.empty()) {
          rows[i] = reinterpret_cast<const T*>(row);
        } else {
          copyElements(row, values, valueCopy.data() + i * values);
          rows[i] = valueCopy.data() + i * values;
        }
      }
    }
    return TypedDataAttribute<T>(samples ? times : nullptr, static_cast<int64_t>(samples),
                                 rows.data(), static_cast<int64_t>(values),
                                 static_cast<int64_t>(tupleSize));
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
    return true;
  }

  Attribute readTree() {
    struct Open {
      uint64_t remaining;     // children still to come, the one being read included
      size_t at;              // where the group node starts
      std::string_view name;  // of the child being read; views the input
    };
    std::vector<Open> open;
    detail::GroupAssembler groups;
    // Bytes that the children still to come of every open group need at the least, beyond the
    // child being read: a claim must fit in what is left after them.
    uint64_t promised = 0;
    for (;;) {
      const size_t at = offset();
      uint8_t kind = 0;
      uint8_t flags = 0;
      if (!uint(kind) || !uint(flags)) return failAt(at, "truncated node");
      Attribute done;
      if (kind == kAttrTypeGroup) {
        if ((flags & ~kGroupInheritFlag) != 0) return failAt(at + 1, "unknown group flags");
        uint64_t children = 0;
        if (!uint(children)) return fail("truncated child count");
        if (open.size() >= detail::kMaxParseGroupDepth)
          return failAt(at, "groups nested deeper than " +
                                std::to_string(detail::kMaxParseGroupDepth) + " levels");
        const uint64_t unpromised = remaining() > promised ? remaining() - promised : 0;
        if (children > kMaxCount || children > unpromised / kMinChildBytes)
          return failAt(at + 2,
                        std::to_string(children) + " children claim more bytes than remain");
        groups.open((flags & kGroupInheritFlag) != 0);
        if (children != 0) {
          promised += (children - 1) * kMinChildBytes;
          open.push_back(Open{children, at, {}});
          if (!readName(open.back().name)) return {};
          continue;
        }
        done = groups.close();
      } else {
        if (flags != 0) return failAt(at + 1, "non-zero flags");
        if (kind == kAttrTypeNull) {
          done = NullAttribute();
        } else if (!visitDataKind(
                       kind, [&](auto tag) { done = readData<typename decltype(tag)::type>(); })) {
          return failAt(at, "unknown kind " + std::to_string(kind));
        }
        if (!done.isValid()) return fail("invalid data");
      }

      // Hand the finished node to its group; finish every group that it completes.
      for (;;) {
        if (open.empty()) {
          if (remaining() != 0) return fail("bytes after the value");
          return done;
        }
        groups.add(open.back().name, std::move(done));
        if (--open.back().remaining != 0) {
          promised -= kMinChildBytes;
          if (!readName(open.back().name)) return {};
          break;
        }
        std::string repeated;
        done = groups.close(&repeated);
        if (!done.isValid())
          return failAt(open.back().at, "repeated child name \"" + repeated + "\" in the group");
        open.pop_back();
      }
    }
  }

  const unsigned char* m_begin;
  const unsigned char* m_pos;
  const unsigned char* m_end;
  std::string m_error;
};

}  // namespace

void Attribute::getBinary(std::vector<char>& out) const {
  out.clear();
  if (!isValid()) return;
  try {
    if (size_t size = dataNodeSize(m_data)) out.reserve(kHeaderSize + size);
    BinaryWriter w(out);
    w.bytes(kMagic, sizeof kMagic);
    w.uint(kFormatVersion);
    writeTree(w, m_data);
  } catch (...) {
    out.clear();  // never hand back half a blob
    throw;
  }
}

Attribute Attribute::parseBinary(const void* data, size_t size) noexcept {
  return parseBinary(data, size, nullptr);
}

Attribute Attribute::parseBinary(const void* data, size_t size, std::string* error) noexcept {
  try {
    if (error) error->clear();
    BinaryParser parser(static_cast<const unsigned char*>(data), data ? size : 0);
    Attribute parsed = parser.parse();
    if (!parsed.isValid() && error) *error = parser.error();
    return parsed;
  } catch (const std::exception& e) {
    // Allocation failure or anything the library below throws: the input did not parse.
    try {
      if (error) *error = std::string("cannot parse: ") + e.what();
    } catch (...) {
    }
    return {};
  }
}

}  // namespace Tessark::internal::OvAttribute
