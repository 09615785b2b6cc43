// Attribute: the immutable, reference-counted value handle at the root of the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "Tessark/OvAttribute/Export.h"
#include "Tessark/Platform/StringView.h"

namespace Tessark::internal::OvAttribute {

namespace Platform = ::Tessark::internal::Platform;

// Type tags returned by Attribute::getType. The numbers are part of the binary format and of
// the Python module's interface: never renumber them.
enum AttributeType : int {
  kAttrTypeInvalid = -1,  // an invalid handle
  kAttrTypeNull = 0,
  kAttrTypeInt = 1,
  kAttrTypeFloat = 2,
  kAttrTypeDouble = 3,
  kAttrTypeString = 4,
  kAttrTypeGroup = 5,
};

// The 128-bit content hash of an attribute: two 64-bit words of XXH3-128 (first = low word).
// Equal hashes mean equal attributes; the value is stable across runs, processes and machines
// of one byte order.
struct OVATTR_API Hash {
  uint64_t first = 0;
  uint64_t second = 0;

  // 32 lower-case hexadecimal digits: `first`, then `second`, each as 16 digits.
  std::string str() const;

  friend bool operator==(const Hash& a, const Hash& b) noexcept {
    return a.first == b.first && a.second == b.second;
  }
  friend bool operator!=(const Hash& a, const Hash& b) noexcept { return !(a == b); }
  friend bool operator<(const Hash& a, const Hash& b) noexcept {
    return a.first != b.first ? a.first < b.first : a.second < b.second;
  }
};

// Thrown by Attribute::parseXML for text that is not a well-formed attribute document.
class OVATTR_API XmlParseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  ~XmlParseError() override;
};

// Entry points through which inline code of the headers (ConstVector's copy and destruction)
// reaches the library build it runs against. Read through Attribute::_attrSuite.
struct OvAttributeHostSuite {
  uint32_t structSize;  // sizeof(OvAttributeHostSuite) of the library that filled it in
  uint32_t version;     // 1
  // Shared sample buffers (SampleBuffer with kSampleBufferShared set): add or drop one owner.
  // The last release frees the buffer. Both are thread-safe.
  void (*retainSampleBuffer)(const void* buffer);
  void (*releaseSampleBuffer)(const void* buffer);
};

namespace detail {
struct AttributeData;
}

// A handle to one immutable attribute value: integer, float, double or string data in time
// samples, a group of named children, or the null attribute.
//
// A handle is one pointer (sizeof(Attribute) == sizeof(void*)); null means invalid. Copying a
// handle shares the value through an atomic reference count (increments relaxed, the final
// decrement acq_rel) and never copies or allocates. The value itself never changes, so any
// number of threads may read, copy, hash, compare, serialise and destroy handles to one value
// at once; a single handle object, like any C++ object, must not be assigned on one thread
// while another thread uses it.
//
//   IntAttribute a(42);
//   Attribute b = a;              // shares a's value
//   assert(b.getHash() == a.getHash() && b.getType() == kAttrTypeInt);
class OVATTR_API Attribute {
 public:
  Attribute() noexcept = default;  // invalid
  Attribute(const Attribute& other) noexcept;
  Attribute(Attribute&& other) noexcept : m_data(other.m_data) { other.m_data = nullptr; }
  Attribute& operator=(const Attribute& other) noexcept;
  Attribute& operator=(Attribute&& other) noexcept;
  ~Attribute();

  bool isValid() const noexcept { return m_data != nullptr; }
  explicit operator bool() const noexcept { return isValid(); }
  // Whether this handle and `other` share one value (two invalid handles do): then they are
  // equal without a look at the values.
  bool sharesValueWith(const Attribute& other) const noexcept { return m_data == other.m_data; }

  // kAttrTypeInvalid for an invalid handle.
  AttributeType getType() const noexcept;

  // Computed on first use and cached in the shared value (thread-safe). {0, 0} when invalid.
  Hash getHash() const;
  // The hash when it is computed already; false, leaving `hash` alone, when getHash would have
  // to compute it (callers use this to tell a cheap call from one worth doing off a lock).
  bool getCachedHash(Hash* hash) const noexcept;

  // Bytes of the value's own block: header, times and values (strings included) for data; the
  // children table, name index and names for a group, whose children are blocks of their own.
  // 0 for an invalid handle. A measure of how long a walk of the value takes, not of its
  // memory: a copy shares the block.
  size_t getDataSize() const noexcept;

  // The XML text of the value (see docs/formats.md); empty for an invalid handle.
  std::string getXML() const;
  // Throws XmlParseError (a std::runtime_error) for malformed or hostile text.
  static Attribute parseXML(Platform::StringView text);
  // As parseXML, but the XML reader works in `text` itself, overwriting it, rather than in a
  // copy of it: for a caller whose buffer is scratch (a private map of a file, say), this saves
  // allocating and filling a buffer the size of the text. `text[size]` must be readable, and a
  // NUL for the text to be read in place (as after a std::string's data, or past the end of a
  // file's last, partly filled page in a map of it); otherwise the text is read from a copy. The
  // bytes of `text` and that NUL are unspecified afterwards, whether it parses or not; the
  // attribute does not refer to them.
  static Attribute parseXMLInPlace(char* text, size_t size);

  // Replaces `out` with the binary form (see docs/formats.md); leaves it empty for an invalid
  // handle.
  void getBinary(std::vector<char>& out) const;
  // Never throws: anything malformed, truncated or hostile gives an invalid handle. It never
  // reads outside [data, data + size), and its memory grows with what the bytes hold, never
  // with the counts they claim. The second form also says why it refused, with the byte offset
  // of the problem (empty when it did not).
  static Attribute parseBinary(const void* data, size_t size) noexcept;
  static Attribute parseBinary(const void* data, size_t size, std::string* error) noexcept;

  // Equal values: the same shared value, or equal 128-bit hashes. Two invalid handles are
  // equal.
  friend OVATTR_API bool operator==(const Attribute& a, const Attribute& b);
  friend bool operator!=(const Attribute& a, const Attribute& b) { return !(a == b); }

  // The host suite of this library build; never null.
  static const OvAttributeHostSuite* _attrSuite;

  // Library internals: adopts one reference to `data` (which may be null).
  explicit Attribute(detail::AttributeData* data) noexcept : m_data(data) {}
  detail::AttributeData* _data() const noexcept { return m_data; }
  // Library internals: hands the reference this handle owns to the caller, leaving it invalid.
  detail::AttributeData* _release() noexcept {
    detail::AttributeData* data = m_data;
    m_data = nullptr;
    return data;
  }

 protected:
  detail::AttributeData* m_data = nullptr;
};

}  // namespace Tessark::internal::OvAttribute
