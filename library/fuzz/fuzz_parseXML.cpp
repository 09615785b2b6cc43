// Fuzz target for Attribute::parseXML: text is refused with an XmlParseError (anything else
// thrown is a finding) within 32 times its size, or gives an attribute that round-trips through
// both forms. parseXMLInPlace must read it the same, or refuse it with the same message.

#include <utility>

#include "ParseMemory.h"
#include "Readers.h"

using namespace ovattr_fuzz;

namespace {

// What `parse` gives, or an invalid handle and the refusal's message.
template <typename Parse>
std::pair<ova::Attribute, std::string> attempt(Parse&& parse) {
  try {
    return {parse(), ""};
  } catch (const ova::XmlParseError& e) {
    return {ova::Attribute(), e.what()};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ova::Platform::StringView text(reinterpret_cast<const char*>(data), size);
  std::pair<ova::Attribute, std::string> read;
  if (peakBytesOf([&] { read = attempt([&] { return ova::Attribute::parseXML(text); }); }) >
      32 * size + 65536)
    fail("parsing took more than 32 times the text's size");
  std::string scratch(text.data(), size);
  const auto inPlace = attempt([&] { return ova::Attribute::parseXMLInPlace(scratch.data(), size); });
  if (!(inPlace.first == read.first) || inPlace.second != read.second)
    fail("parseXMLInPlace reads the text otherwise");
  if (!read.second.empty()) return 0;
  if (!read.first.isValid()) fail("parseXML returned an invalid handle without throwing");
  fail(roundTripBroken(read.first));
  return 0;
}
