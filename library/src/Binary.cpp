// The binary form of attributes; docs/formats.md has the byte layout. Both directions walk
// groups with an explicit stack, so nesting costs heap rather than thread stack. Reading is
// BinaryReader's (BinaryCore.h), shared with hashBinary and readBinary; here is what turns its
// events into an attribute.

#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "AttributeData.h"
#include "BinaryCore.h"
#include "SerialCommon.h"
#include "Tessark/OvAttribute/DataAttribute.h"

namespace Tessark::internal::OvAttribute {

namespace {

using detail::AttributeData;
using detail::DataKindTraits;
using detail::GroupChild;
using detail::kBinaryFormatVersion;
using detail::kBinaryHeaderSize;
using detail::kBinaryMagic;
using detail::kGroupInheritFlag;
using detail::kHostLittleEndian;
using detail::kIsString;
using detail::rowOf;
using detail::Storage;
using detail::visitDataKind;
using detail::walkGroups;

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
// Reading: the attribute that BinaryReader's events describe.

// Builds the attribute: values of each data node are gathered as the samples arrive and copied
// into the block once the node ends; groups are put together by a GroupAssembler, which also
// finds repeated names. Nothing is reserved from a claim, so memory follows what the blob holds.
class AttributeSink {
 public:
  static constexpr bool kChecksNames = false;  // the assembler does

  explicit AttributeSink(const unsigned char* blob) noexcept : m_blob(blob) {}

  Attribute result() noexcept { return std::move(m_result); }

  bool beginGroup(std::string_view, bool inherit, uint64_t) {
    m_groups.open(inherit);
    ++m_open;
    return true;
  }
  bool endGroup(std::string_view name, std::string& repeated) {
    Attribute group = m_groups.close(&repeated);
    if (!group.isValid()) return false;
    --m_open;
    return finish(name, std::move(group));
  }
  bool null(std::string_view name) { return finish(name, NullAttribute()); }

  template <typename T>
  bool beginData(std::string_view, const detail::DataHead& head) {
    m_head = head;
    m_times = reinterpret_cast<const float*>(head.times);
    if (!Reader::inPlace<float>(m_blob)) {
      m_timeCopy.resize(head.samples);
      copyElements(head.times, head.samples, m_timeCopy.data());
      m_times = m_timeCopy.data();
    }
    // Per sample: a pointer to its first value (null when samples hold no values).
    rows<T>().assign(head.samples, nullptr);
    if constexpr (kIsString<T>) {
      m_strings.clear();
      m_offsets.clear();
    } else if (!Reader::inPlace<T>(m_blob)) {
      copies<T>().resize(head.samples * head.values);
    }
    return true;
  }

  // Strings of all samples, one after another: NUL-terminated copies, found by their offsets.
  bool string(const unsigned char* bytes, size_t size) {
    m_offsets.push_back(m_strings.size());
    m_strings.append(reinterpret_cast<const char*>(bytes), size);
    m_strings.push_back('\0');
    return true;
  }

  template <typename T>
  bool sample(size_t index, const unsigned char* values, const unsigned char*) {
    if constexpr (!kIsString<T>) {
      if (m_head.values == 0) return true;
      if (Reader::inPlace<T>(m_blob)) {
        rows<T>()[index] = reinterpret_cast<const T*>(values);
      } else {
        T* copy = copies<T>().data() + index * m_head.values;
        copyElements(values, m_head.values, copy);
        rows<T>()[index] = copy;
      }
    }
    return true;
  }

  template <typename T>
  bool endData(std::string_view name) {
    std::vector<const T*>& pointers = rows<T>();
    if constexpr (kIsString<T>) {
      m_pointers.resize(m_offsets.size());
      for (size_t k = 0; k < m_offsets.size(); ++k) m_pointers[k] = m_strings.data() + m_offsets[k];
      for (size_t i = 0; i < m_head.samples && m_head.values != 0; ++i)
        pointers[i] = m_pointers.data() + i * m_head.values;
    }
    const auto samples = static_cast<int64_t>(m_head.samples);
    return finish(name,
                  TypedDataAttribute<T>(samples ? m_times : nullptr, samples, pointers.data(),
                                        static_cast<int64_t>(m_head.values), m_head.tupleSize));
  }

 private:
  using Reader = detail::BinaryReader<AttributeSink>;

  // `count` elements at `p`, copied to `out`.
  template <typename T>
  static void copyElements(const unsigned char* p, size_t count, T* out) noexcept {
    for (size_t i = 0; i < count; ++i) out[i] = detail::loadLittle<T>(p + i * sizeof(T));
  }

  // A finished node goes to the innermost open group, or is the result.
  bool finish(std::string_view name, Attribute done) {
    if (m_open == 0)
      m_result = std::move(done);
    else
      m_groups.add(name, std::move(done));
    return true;
  }

  template <typename T>
  std::vector<const T*>& rows() noexcept {
    return std::get<std::vector<const T*>>(m_rows);
  }
  template <typename T>
  std::vector<T>& copies() noexcept {
    return std::get<std::vector<T>>(m_copies);
  }

  const unsigned char* m_blob;
  detail::GroupAssembler m_groups;
  size_t m_open = 0;  // groups open in m_groups
  Attribute m_result;
  // The data node being read. The buffers are kept from node to node.
  detail::DataHead m_head{};
  const float* m_times = nullptr;
  std::vector<float> m_timeCopy;
  std::tuple<std::vector<const int32_t*>, std::vector<const float*>, std::vector<const double*>,
             std::vector<const char* const*>>
      m_rows;
  std::tuple<std::vector<int32_t>, std::vector<float>, std::vector<double>> m_copies;
  std::string m_strings;
  std::vector<size_t> m_offsets;
  std::vector<const char*> m_pointers;
};

}  // namespace

void Attribute::getBinary(std::vector<char>& out) const {
  out.clear();
  if (!isValid()) return;
  try {
    if (size_t size = dataNodeSize(m_data)) out.reserve(kBinaryHeaderSize + size);
    BinaryWriter w(out);
    w.bytes(kBinaryMagic, sizeof kBinaryMagic);
    w.uint(kBinaryFormatVersion);
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
    const auto* blob = static_cast<const unsigned char*>(data);
    AttributeSink sink(blob);
    detail::BinaryReader<AttributeSink> reader(blob, data ? size : 0, sink);
    if (reader.read() != detail::ReadEnd::kDone) {
      if (error) *error = reader.error();
      return {};
    }
    return sink.result();
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
