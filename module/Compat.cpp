// The two interpreters' ways with text, bytes, modules and exception causes (module/Compat.h).

#include "module/Compat.h"

#include <cstring>
#include <string>

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

PyObject* NewReusableInt(int32_t value) {
#if PYOVATTR_REUSE_INTS
  if (!detail::IsSmallInt(value)) {
    // As the interpreter itself makes ints: room for the digits, then the count set.
    PyLongObject* number = _PyLong_New(detail::kWideDigits);
    if (number) detail::WriteInt(number, value);
    return reinterpret_cast<PyObject*>(number);
  }
#endif
  return NewInt(value);
}

bool TextBytes(PyObject* obj, Platform::StringView* out, PyRef* holder) {
#if PYOVATTR_PY3
  if (PyBytes_Check(obj)) {
    *out = Platform::StringView(PyBytes_AS_STRING(obj), static_cast<size_t>(PyBytes_GET_SIZE(obj)));
    return true;
  }
  Py_ssize_t size = 0;
  // The UTF-8 form is made once and kept by the str: the common case costs no copy.
  if (const char* data = PyUnicode_AsUTF8AndSize(obj, &size)) {
    *out = Platform::StringView(data, static_cast<size_t>(size));
    return true;
  }
  if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return false;
  PyErr_Clear();
  *holder = PyRef::steal(PyUnicode_AsEncodedString(obj, "utf-8", "surrogateescape"));
  if (!*holder) return false;
  *out = Platform::StringView(PyBytes_AS_STRING(holder->get()),
                              static_cast<size_t>(PyBytes_GET_SIZE(holder->get())));
#else
  (void)holder;
  *out = Platform::StringView(PyString_AS_STRING(obj), static_cast<size_t>(PyString_GET_SIZE(obj)));
#endif
  return true;
}

const char* NameText(PyObject* name) noexcept {
#if PYOVATTR_PY3
  if (!PyUnicode_Check(name)) return nullptr;
  const char* text = PyUnicode_AsUTF8(name);
  if (!text) PyErr_Clear();  // a name with surrogates names nothing of the module's
  return text;
#else
  return PyString_Check(name) ? PyString_AS_STRING(name) : nullptr;
#endif
}

PyObject* NewText(const char* data, size_t size) {
#if PYOVATTR_PY3
  return PyUnicode_DecodeUTF8(data, static_cast<Py_ssize_t>(size), "surrogateescape");
#else
  return PyString_FromStringAndSize(data, static_cast<Py_ssize_t>(size));
#endif
}

PyObject* NewText(const char* cString) { return NewText(cString, std::strlen(cString)); }

PyObject* NewBytes(const char* data, size_t size) {
#if PYOVATTR_PY3
  PyObject* bytes = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  char* target = bytes ? PyBytes_AS_STRING(bytes) : nullptr;
#else
  PyObject* bytes = PyString_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  char* target = bytes ? PyString_AS_STRING(bytes) : nullptr;
#endif
  if (!bytes) return nullptr;
  ReleasedGil released(size >= kReleaseGilBytes);
  std::memcpy(target, data, size);
  return bytes;
}

PyObject* NewBinary(const char* data, size_t size) {
#if PYOVATTR_PY3
  return NewBytes(data, size);
#else
  PyObject* bytes = PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  if (!bytes) return nullptr;
  ReleasedGil released(size >= kReleaseGilBytes);
  std::memcpy(PyByteArray_AS_STRING(bytes), data, size);
  return bytes;
#endif
}

#if PYOVATTR_PY3
int ConvertTextArg(PyObject* obj, void* arg) {
  auto* text = static_cast<TextArg*>(arg);
  if (!IsText(obj)) {
    PyErr_Format(PyExc_TypeError, "expected str or bytes, not %.200s", Py_TYPE(obj)->tp_name);
    return 0;
  }
  if (!TextBytes(obj, &text->view, &text->holder)) return 0;
  if (std::memchr(text->view.data(), '\0', text->view.size())) {
    PyErr_SetString(PyExc_TypeError, "expected str or bytes without NUL characters");
    return 0;
  }
  return 1;
}
#endif

PyObject* NewSubmodule(const char* name, PyMethodDef* methods, const char* doc) {
#if PYOVATTR_PY3
  PyRef module = PyRef::steal(PyModule_New(name));
  if (!module || PyModule_AddFunctions(module.get(), methods) < 0 ||
      PyModule_SetDocString(module.get(), doc) < 0) {
    return nullptr;
  }
  // PyImport_GetModuleDict: a borrowed reference.
  if (PyDict_SetItemString(PyImport_GetModuleDict(), name, module.get()) < 0) return nullptr;
  return module.release();
#else
  // Py_InitModule4 registers the module in sys.modules and returns a borrowed reference.
  return PyRef::newRef(Py_InitModule4(name, methods, doc, nullptr, PYTHON_API_VERSION)).release();
#endif
}

void RaiseWithCause(PyObject* type, const char* text, const char* cause) {
#if PYOVATTR_PY3
  // The library's text may quote the bytes it refused: decoded so that any of them survive.
  PyRef reason = PyRef::steal(
      PyUnicode_DecodeUTF8(cause, static_cast<Py_ssize_t>(std::strlen(cause)), "backslashreplace"));
  PyRef causeObject =
      reason ? PyRef::steal(PyObject_CallFunctionObjArgs(PyExc_ValueError, reason.get(), nullptr))
             : PyRef();
  PyErr_SetString(type, text);
  if (!causeObject) return;  // the fixed text alone, rather than the error of the cause
  PyObject* raisedType = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&raisedType, &value, &traceback);
  PyErr_NormalizeException(&raisedType, &value, &traceback);
  if (value) PyException_SetCause(value, causeObject.release());  // steals the cause
  PyErr_Restore(raisedType, value, traceback);
#else
  (void)cause;
  PyErr_SetString(type, text);
#endif
}

}  // namespace Tessark::PyOvAttribute::v1
