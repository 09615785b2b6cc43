// The module-level delimiter codec: lets any text serve as one child name in a group built in
// normal mode, where dots are paths.

#include <string>

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

// Both functions parse one NUL-free text, run `codec` on it and return the text of the result
// up to its first NUL. Returns a new reference.
template <typename Codec>
PyObject* RunCodec(PyObject* args, Codec codec) {
  TextArg text;
  if (!PyArg_ParseTuple(args, PYOVATTR_TEXT, PYOVATTR_TEXT_ARG(text))) return nullptr;
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const std::string result = codec(text.get().str());
    return NewText(result.c_str());
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
    {"DelimiterEncode", Module_DelimiterEncode, METH_VARARGS,
     PYOVATTR_METHOD_DOC("DelimiterEncode(text, /)\n--\n\n"
                         "text with '.', '/' and '%' escaped (%2E, %2F, %25), so that it serves "
                         "as one child name where dots are paths.")},
    {"DelimiterDecode", Module_DelimiterDecode, METH_VARARGS,
     PYOVATTR_METHOD_DOC("DelimiterDecode(text, /)\n--\n\nThe text DelimiterEncode was given.")},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace Tessark::PyOvAttribute::v1
