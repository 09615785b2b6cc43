// Fuzz target for Attribute.parseXML as scripts call it: the bytes, as a str, go through the
// module's argument parsing, the library's parser and the wrapping of the result. The call
// either raises (ValueError for refused text, TypeError for text with a NUL byte) or returns an
// attribute object, which must survive a round trip through XML and through binary unchanged.
// Broken error contracts (SystemError, a result with an error set) and crashes are findings.

#include <cstddef>
#include <cstdint>

#include "PythonHost.h"

using ovattr_fuzz::Args;
using ovattr_fuzz::Finding;
using ovattr_fuzz::Ref;

namespace {

void ParseAndCheck(PyObject* text, const char* where) {
  PyObject* type = ovattr_fuzz::ModuleAttr("Attribute");
  Ref args = Args(text);
  Ref parsed = ovattr_fuzz::CallMethod(type, "parseXML", args.get(), where);
  if (!parsed || parsed.get() == Py_None) return;
  if (!PyObject_TypeCheck(parsed.get(), reinterpret_cast<PyTypeObject*>(type)))
    Finding("parseXML returned something that is not an attribute", where);
  ovattr_fuzz::ExpectRoundTrips(parsed.get(), where);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ovattr_fuzz::Module();
  Ref text = Ref::steal(PyString_FromStringAndSize(reinterpret_cast<const char*>(data),
                                                   static_cast<Py_ssize_t>(size)));
  if (!text) Finding("cannot make a str", "fuzz_module_parseXML");
  ParseAndCheck(text.get(), "parseXML(str)");

  // The same bytes as unicode text, when they are UTF-8: the argument parser encodes it again
  // (and refuses what the default encoding cannot carry).
  Ref unicode = Ref::steal(PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(data),
                                                static_cast<Py_ssize_t>(size), "strict"));
  if (unicode) {
    ParseAndCheck(unicode.get(), "parseXML(unicode)");
  } else {
    PyErr_Clear();
  }
  return 0;
}
