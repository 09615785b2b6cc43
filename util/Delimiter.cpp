// The module-level delimiter codec: lets any text serve as one child name in a group built in
// normal mode, where dots are paths.

#include <string>

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

// Both functions parse one NUL-free string, run `codec` on it and return the str of the result
// up to its first NUL. Returns a new reference.
template <typename Codec>
PyObject* RunCodec(PyObject* args, Codec codec) {
  const char* text = nullptr;
  if (!PyArg_ParseTuple(args, "s", &text)) return nullptr;
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const std::string result = codec(std::string(text));
    return PyString_FromString(result.c_str());
  });
}

PyObject* Module_DelimiterEncode(PyObject* /*module*/, PyObject* args) {
  return RunCodec(args, [](const std::string& text) { return OvAttr::DelimiterEncode(text); });
}

PyObject* Module_DelimiterDecode(PyObject* /*module*/, PyObject* args) {
  return RunCodec(args, [](const std::string& text) { return OvAttr::DelimiterDecode(text); });
}

}  // namespace

PyMethodDef kModuleMethods[] = {
    {"DelimiterEncode", Module_DelimiterEncode, METH_VARARGS, ""},
    {"DelimiterDecode", Module_DelimiterDecode, METH_VARARGS, ""},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace Tessark::PyOvAttribute::v1
