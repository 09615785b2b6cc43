// Fuzz target for Attribute.parseBinary as scripts call it: the bytes go in as a bytearray and
// as a str. Each call either raises TypeError (bytes that do not parse) or returns an attribute
// object; both forms must agree, and a parsed attribute must survive a round trip through
// binary and through XML unchanged. Broken error contracts (SystemError, a result with an error
// set) and crashes are findings.

#include <cstddef>
#include <cstdint>

#include "PythonHost.h"

using ovattr_fuzz::Args;
using ovattr_fuzz::Finding;
using ovattr_fuzz::Ref;

namespace {

Ref Parse(PyObject* blob, const char* where) {
  PyObject* type = ovattr_fuzz::ModuleAttr("Attribute");
  Ref args = Args(blob);
  Ref parsed = ovattr_fuzz::CallMethod(type, "parseBinary", args.get(), where);
  if (parsed && !PyObject_TypeCheck(parsed.get(), reinterpret_cast<PyTypeObject*>(type)))
    Finding("parseBinary returned something that is not an attribute", where);
  return parsed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ovattr_fuzz::Module();
  const char* bytes = reinterpret_cast<const char*>(data);
  const auto length = static_cast<Py_ssize_t>(size);
  Ref as_bytearray = Ref::steal(PyByteArray_FromStringAndSize(bytes, length));
  Ref as_str = Ref::steal(PyString_FromStringAndSize(bytes, length));
  if (!as_bytearray || !as_str) Finding("cannot make the input objects", "fuzz_module_parseBinary");

  Ref from_bytearray = Parse(as_bytearray.get(), "parseBinary(bytearray)");
  Ref from_str = Parse(as_str.get(), "parseBinary(str)");
  if (static_cast<bool>(from_bytearray) != static_cast<bool>(from_str))
    Finding("bytearray and str of the same bytes parse differently", "parseBinary");
  if (!from_bytearray) return 0;
  ovattr_fuzz::ExpectSameAttribute(from_bytearray.get(), from_str.get(), "parseBinary");
  ovattr_fuzz::ExpectRoundTrips(from_bytearray.get(), "parseBinary round trip");
  return 0;
}
