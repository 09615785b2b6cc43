// readBinary and hashBinary: BinaryReader's events handed to a caller's visitor, or hashed the
// way Attribute::getHash hashes the blocks that parseBinary would have built.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#define XXH_STATIC_LINKING_ONLY  // XXH3_state_t on the stack: no allocation per hash
#include <xxhash.h>

#include "AttributeData.h"
#include "BinaryCore.h"
#include "SerialCommon.h"
#include "Tessark/OvAttribute/BinaryReader.h"

namespace Tessark::internal::OvAttribute {

namespace {

using detail::DataHead;
using detail::DataKindTraits;
using detail::kIsString;

// Turns the reader's events into calls of a BinaryVisitor.
class VisitorSink {
 public:
  static constexpr bool kChecksNames = true;

  explicit VisitorSink(BinaryVisitor& visitor) noexcept : m_visitor(visitor) {}

  bool beginGroup(std::string_view name, bool inherit, uint64_t children) {
    return m_visitor.beginGroup(name, inherit, static_cast<int64_t>(children));
  }
  bool endGroup(std::string_view, std::string&) { return m_visitor.endGroup(); }
  bool null(std::string_view name) { return m_visitor.null(name); }

  template <typename T>
  bool beginData(std::string_view name, const DataHead& head) {
    m_type = DataKindTraits<T>::kType;
    m_values = head.values;
    const BinaryData data{m_type, head.tupleSize, static_cast<int64_t>(head.values),
                          static_cast<int64_t>(head.samples),
                          BinaryArray<float>(head.times, head.samples)};
    return m_visitor.beginData(name, data);
  }
  bool string(const unsigned char*, size_t) { return true; }
  template <typename T>
  bool sample(size_t index, const unsigned char* begin, const unsigned char* end) {
    return m_visitor.sample(
        BinarySample(m_type, static_cast<int64_t>(index), m_values, begin, end));
  }
  template <typename T>
  bool endData(std::string_view) {
    return m_visitor.endData();
  }

 private:
  BinaryVisitor& m_visitor;
  AttributeType m_type = kAttrTypeInvalid;
  size_t m_values = 0;
};

// The hash of each node as Attribute::getHash computes it for the block parseBinary makes of
// it (Attribute.cpp: computeLeafHash, computeGroupHash), fed from the blob. XXH3's streaming
// form gives the one-shot digest of everything fed, however it is cut, so a group's input can
// be gathered and hashed at its end, and a data node's can be fed sample by sample.
class HashSink {
 public:
  static constexpr bool kChecksNames = true;

  Hash result() const noexcept { return m_result; }

  // A group's hash input is its head, then each child's name and hash as the child ends; it
  // is gathered in m_groupInput, each open group's from where m_starts says.
  bool beginGroup(std::string_view, bool inherit, uint64_t children) {
    m_starts.push_back(m_groupInput.size());
    put64(static_cast<uint64_t>(detail::Storage::kGroup));
    put64(inherit ? 1 : 0);
    put64(children);
    return true;
  }
  bool endGroup(std::string_view name, std::string&) {
    const size_t start = m_starts.back();
    m_starts.pop_back();
    const XXH128_hash_t h = XXH3_128bits(m_groupInput.data() + start, m_groupInput.size() - start);
    m_groupInput.resize(start);
    return finish(name, Hash{h.low64, h.high64});
  }
  bool null(std::string_view name) {
    const uint64_t kind = static_cast<uint64_t>(detail::Storage::kNull);
    const XXH128_hash_t h = XXH3_128bits(&kind, sizeof kind);
    return finish(name, Hash{h.low64, h.high64});
  }

  template <typename T>
  bool beginData(std::string_view, const DataHead& head) {
    XXH3_128bits_reset(&m_state);
    update64(static_cast<uint64_t>(DataKindTraits<T>::kType));
    update64(static_cast<uint64_t>(head.tupleSize));
    update64(head.values);
    update64(head.samples);
    m_values = head.values;
    numbers<float>(head.times, head.samples);
    return true;
  }
  // A string block's bytes are every string NUL-terminated, in order; they are gathered in
  // batches, since one update per short string costs more than its bytes.
  bool string(const unsigned char* bytes, size_t size) {
    if (m_strings.size() + size + 1 > kStringBatch) flushStrings();
    if (size + 1 > kStringBatch) {
      XXH3_128bits_update(&m_state, bytes, size);
      m_strings.push_back('\0');
      return true;
    }
    m_strings.append(reinterpret_cast<const char*>(bytes), size);
    m_strings.push_back('\0');
    return true;
  }
  template <typename T>
  bool sample(size_t, const unsigned char* begin, const unsigned char*) {
    if constexpr (!kIsString<T>) numbers<T>(begin, m_values);
    return true;
  }
  template <typename T>
  bool endData(std::string_view name) {
    flushStrings();
    const XXH128_hash_t h = XXH3_128bits_digest(&m_state);
    return finish(name, Hash{h.low64, h.high64});
  }

 private:
  static constexpr size_t kStringBatch = size_t{1} << 14;

  // A node's hash goes into its group's input, or is the result.
  bool finish(std::string_view name, Hash h) {
    if (m_starts.empty()) {
      m_result = h;
      return true;
    }
    put64(name.size());
    m_groupInput.append(name.data(), name.size());
    put64(h.first);
    put64(h.second);
    return true;
  }

  // As the blocks hold them: fixed-width 64-bit fields, numbers in the host's byte order.
  void put64(uint64_t value) {
    m_groupInput.append(reinterpret_cast<const char*>(&value), sizeof value);
  }
  void update64(uint64_t value) { XXH3_128bits_update(&m_state, &value, sizeof value); }

  template <typename T>
  void numbers(const unsigned char* bytes, size_t count) {
    if (count == 0) return;
    if constexpr (detail::kHostLittleEndian) {
      XXH3_128bits_update(&m_state, bytes, count * sizeof(T));
    } else {
      T batch[256];
      for (size_t done = 0; done < count;) {
        const size_t n = std::min(count - done, sizeof batch / sizeof batch[0]);
        for (size_t i = 0; i < n; ++i)
          batch[i] = detail::loadLittle<T>(bytes + (done + i) * sizeof(T));
        XXH3_128bits_update(&m_state, batch, n * sizeof(T));
        done += n;
      }
    }
  }

  void flushStrings() {
    if (m_strings.empty()) return;
    XXH3_128bits_update(&m_state, m_strings.data(), m_strings.size());
    m_strings.clear();
  }

  Hash m_result;
  std::string m_groupInput;
  std::vector<size_t> m_starts;  // where each open group's input starts
  XXH3_state_t m_state;          // of the data node being read
  size_t m_values = 0;
  std::string m_strings;
};

}  // namespace

BinaryVisitor::~BinaryVisitor() = default;
bool BinaryVisitor::beginGroup(Platform::StringView, bool, int64_t) { return true; }
bool BinaryVisitor::endGroup() { return true; }
bool BinaryVisitor::null(Platform::StringView) { return true; }
bool BinaryVisitor::beginData(Platform::StringView, const BinaryData&) { return true; }
bool BinaryVisitor::sample(const BinarySample&) { return true; }
bool BinaryVisitor::endData() { return true; }

BinaryReadResult readBinary(const void* data, size_t size, BinaryVisitor& visitor,
                            std::string* error) {
  if (error) error->clear();
  const auto* blob = static_cast<const unsigned char*>(data);
  VisitorSink sink(visitor);
  detail::BinaryReader<VisitorSink> reader(blob, data ? size : 0, sink);
  const detail::ReadEnd end = reader.read();
  if (end == detail::ReadEnd::kRefused && error) *error = reader.error();
  switch (end) {
    case detail::ReadEnd::kDone:
      return BinaryReadResult::kDone;
    case detail::ReadEnd::kStopped:
      return BinaryReadResult::kStopped;
    default:
      return BinaryReadResult::kRefused;
  }
}

bool hashBinary(const void* data, size_t size, Hash* hash, std::string* error) noexcept {
  try {
    if (error) error->clear();
    const auto* blob = static_cast<const unsigned char*>(data);
    HashSink sink;
    detail::BinaryReader<HashSink> reader(blob, data ? size : 0, sink);
    if (reader.read() != detail::ReadEnd::kDone) {
      if (error) *error = reader.error();
      return false;
    }
    if (hash) *hash = sink.result();
    return true;
  } catch (const std::exception& e) {
    // Allocation failure: as parseBinary reports it.
    try {
      if (error) *error = std::string("cannot parse: ") + e.what();
    } catch (...) {
    }
    return false;
  }
}

}  // namespace Tessark::internal::OvAttribute
