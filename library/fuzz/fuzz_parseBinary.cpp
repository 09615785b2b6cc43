// Fuzz target for Attribute::parseBinary: whatever it accepts must write back to a blob that
// reads back to an equal attribute (and to the same bytes), and must survive the XML form too.
// hashBinary and readBinary must agree with it (Readers.h), within the same memory.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ParseMemory.h"
#include "Readers.h"
#include "Tessark/OvAttribute/OvAttribute.h"

namespace ova = ::Tessark::internal::OvAttribute;

namespace {

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "fuzz_parseBinary: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ova::Attribute a;
  const size_t peak =
      ovattr_fuzz::peakBytesOf([&] { a = ova::Attribute::parseBinary(data, size); });
  if (peak > 16 * size + 65536) broken("parsing took more than 16 times the blob's size");
  ova::Hash hash;
  if (ovattr_fuzz::peakBytesOf([&] { ova::hashBinary(data, size, &hash); }) > 16 * size + 65536)
    broken("hashing took more than 16 times the blob's size");
  if (const char* why = ovattr_fuzz::readersDisagree({reinterpret_cast<const char*>(data), size}))
    broken(why);
  if (!a.isValid()) return 0;

  std::vector<char> blob;
  a.getBinary(blob);
  if (blob.empty()) broken("a parsed attribute has no binary form");
  ova::Attribute b = ova::Attribute::parseBinary(blob.data(), blob.size());
  if (!b.isValid()) broken("the binary form of a parsed attribute does not parse");
  if (!(a == b) || a.getHash() != b.getHash() || a.getType() != b.getType())
    broken("binary round trip changed the attribute");
  std::vector<char> again;
  b.getBinary(again);
  if (again != blob) broken("writing is not deterministic");

  // The binary reader reaches values that hand-written XML rarely holds (odd NaNs, raw bytes in
  // names), so it is the better driver of the XML writer too.
  ova::Attribute c;
  try {
    c = ova::Attribute::parseXML(a.getXML());
  } catch (const ova::XmlParseError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    broken("the XML form of a parsed attribute does not parse");
  }
  if (!(a == c) || a.getType() != c.getType()) broken("XML round trip changed the attribute");
  return 0;
}
