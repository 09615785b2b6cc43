// Fuzz target for Attribute::parseXML: text is either refused with an XmlParseError or gives an
// attribute whose own XML reads back to an equal attribute and writes the same text again.
// parseXMLInPlace must read it the same, or refuse it with the same message.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ParseMemory.h"
#include "Tessark/OvAttribute/OvAttribute.h"

namespace ova = ::Tessark::internal::OvAttribute;

namespace {

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "fuzz_parseXML: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ova::Attribute a;
  bool refused = false;
  std::string message;
  const size_t peak = ovattr_fuzz::peakBytesOf([&] {
    try {
      a = ova::Attribute::parseXML(
          ova::Platform::StringView(reinterpret_cast<const char*>(data), size));
    } catch (const ova::XmlParseError& e) {
      refused = true;  // as malformed text should be; anything else thrown is a finding
      message = e.what();
    }
  });
  std::string scratch(reinterpret_cast<const char*>(data), size);
  try {
    const ova::Attribute inPlace = ova::Attribute::parseXMLInPlace(scratch.data(), size);
    if (refused || !(inPlace == a)) broken("parseXMLInPlace reads the text otherwise");
  } catch (const ova::XmlParseError& e) {
    if (!refused || message != e.what()) broken("parseXMLInPlace refuses the text otherwise");
  }
  if (peak > 32 * size + 65536) broken("parsing took more than 32 times the text's size");
  if (refused) return 0;
  if (!a.isValid()) broken("parseXML returned an invalid handle without throwing");

  const std::string xml = a.getXML();
  ova::Attribute b;
  try {
    b = ova::Attribute::parseXML(xml);
  } catch (const ova::XmlParseError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    broken("the XML form of a parsed attribute does not parse");
  }
  if (!(a == b) || a.getHash() != b.getHash() || a.getType() != b.getType())
    broken("XML round trip changed the attribute");
  if (b.getXML() != xml) broken("the XML of a parsed attribute is not written back the same");

  std::vector<char> blob;
  a.getBinary(blob);
  ova::Attribute c = ova::Attribute::parseBinary(blob.data(), blob.size());
  if (!(a == c)) broken("binary round trip changed the attribute");
  return 0;
}
