// Fuzz target for Attribute::parseXML: text is refused with an XmlParseError within 32 times its
// size, or round-trips through both forms; parseXMLInPlace reads or refuses it the same.

#include "ParseMemory.h"
#include "Readers.h"

using namespace ovattr_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ova::Platform::StringView text(reinterpret_cast<const char*>(data), size);
  ova::Attribute a, inPlace;
  std::string refused;
  if (peakBytesOf([&] { refused = refusal(a, [&] { return ova::Attribute::parseXML(text); }); }) >
      32 * size + 65536)
    fail("parsing took more than 32 times the text's size");
  std::string scratch(text.data(), size);
  if (refusal(inPlace, [&] { return ova::Attribute::parseXMLInPlace(scratch.data(), size); }) !=
          refused ||
      !(inPlace == a))
    fail("parseXMLInPlace reads the text otherwise");
  if (refused.empty())
    fail(a.isValid() ? roundTripBroken(a) : "parseXML returned an invalid handle without throwing");
  return 0;
}
