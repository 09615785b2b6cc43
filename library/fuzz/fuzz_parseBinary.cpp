// Fuzz target for Attribute::parseBinary: it parses within 16 times the blob's size (hashBinary
// too), hashBinary and readBinary agree with it, and what it accepts round-trips through both
// forms (binary input reaches values hand-written XML rarely holds, so it drives the XML writer).

#include "ParseMemory.h"
#include "Readers.h"

using namespace ovattr_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ova::Attribute a;
  ova::Hash hash;
  if (peakBytesOf([&] { a = ova::Attribute::parseBinary(data, size); }) > 16 * size + 65536 ||
      peakBytesOf([&] { ova::hashBinary(data, size, &hash); }) > 16 * size + 65536)
    fail("parsing or hashing took more than 16 times the blob's size");
  fail(readersDisagree({reinterpret_cast<const char*>(data), size}));
  if (a.isValid()) fail(roundTripBroken(a));
  return 0;
}
