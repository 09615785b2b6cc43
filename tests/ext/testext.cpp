// _ovattr_testext: a test-only module that drives PyOvAttribute's exported functions the way
// another compiled module would, through the public headers and the shared object.

#include <Python.h>

#include <cstdlib>
#include <exception>

#include "PyOvAttribute/PyOvAttribute.h"
#include "Tessark/OvAttribute/Testing.h"
#include "module/Compat.h"
#include "module/PyRef.h"

namespace {

namespace OvAttr = ::Tessark::internal::OvAttribute;
namespace PyOv = ::Tessark::PyOvAttribute::v1;

template <typename Body>
PyObject* Guard(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "unknown C++ exception");
  }
  return nullptr;
}

// wrap(tag) -> PyAttributeFromAttribute of a handle whose kind tag is `tag`; -1: invalid.
PyObject* testext_wrap(PyObject* /*self*/, PyObject* args) {
  int tag = 0;
  if (!PyArg_ParseTuple(args, "i", &tag)) return nullptr;
  return Guard([&] {
    return PyOv::PyAttributeFromAttribute(
        tag == -1 ? OvAttr::Attribute() : OvAttr::testing::MakeAttributeWithTypeTag(tag));
  });
}

// unwrap(obj) -> (kind tag or -1, whether an error was left set) of AttributeFromPyObject(obj).
PyObject* testext_unwrap(PyObject* /*self*/, PyObject* args) {
  PyObject* obj = nullptr;
  if (!PyArg_ParseTuple(args, "O", &obj)) return nullptr;
  return Guard([&] {
    const OvAttr::Attribute attribute = PyOv::AttributeFromPyObject(obj);
    const bool pending = PyErr_Occurred() != nullptr;
    PyErr_Clear();
    const long tag = attribute.isValid() ? static_cast<long>(attribute.getType()) : -1;
    return Py_BuildValue("(lN)", tag, PyBool_FromLong(pending));
  });
}

// rewrap(obj) -> PyAttributeFromAttribute(AttributeFromPyObject(obj)).
PyObject* testext_rewrap(PyObject* /*self*/, PyObject* args) {
  PyObject* obj = nullptr;
  if (!PyArg_ParseTuple(args, "O", &obj)) return nullptr;
  return Guard([&] { return PyOv::PyAttributeFromAttribute(PyOv::AttributeFromPyObject(obj)); });
}

// const_vector(obj, time) -> PyConstVectorFromDataAttribute of obj's handle viewed as data.
PyObject* testext_const_vector(PyObject* /*self*/, PyObject* args) {
  PyObject* obj = nullptr;
  float time = 0.0f;
  if (!PyArg_ParseTuple(args, "Of", &obj, &time)) return nullptr;
  return Guard([&] {
    const OvAttr::DataAttribute data(PyOv::AttributeFromPyObject(obj));
    return PyOv::PyConstVectorFromDataAttribute(data, time);
  });
}

// add_to_module(target, value) -> whether AddToModule(target, "x", value) succeeded.
PyObject* testext_add_to_module(PyObject* /*self*/, PyObject* args) {
  PyObject* target = nullptr;
  PyObject* value = nullptr;
  if (!PyArg_ParseTuple(args, "OO", &target, &value)) return nullptr;
  const bool added = PyOv::AddToModule(target, "x", PyOv::PyRef::newRef(value));
  PyErr_Clear();
  return PyBool_FromLong(added);
}

PyObject* testext_dummy_export(PyObject* /*self*/, PyObject* /*unused*/) {
  return PyOv::NewInt(PyOv::_tessark_dummy_dll_export);
}

PyMethodDef testext_methods[] = {
    {"wrap", testext_wrap, METH_VARARGS, ""},
    {"unwrap", testext_unwrap, METH_VARARGS, ""},
    {"rewrap", testext_rewrap, METH_VARARGS, ""},
    {"const_vector", testext_const_vector, METH_VARARGS, ""},
    {"add_to_module", testext_add_to_module, METH_VARARGS, ""},
    {"dummy_export", testext_dummy_export, METH_NOARGS, ""},
    {nullptr, nullptr, 0, nullptr},
};

// OVATTR_TESTEXT_NO_IMPORT: the exported functions must ready the types themselves.
bool ImportFirst() {
  return std::getenv("OVATTR_TESTEXT_NO_IMPORT") ||
         PyOv::PyRef::steal(PyImport_ImportModule("PyOvAttribute"));
}

}  // namespace

// The build hides every symbol, and PyMODINIT_FUNC carries no export attribute in 2.7.
#if PYOVATTR_PY3
extern "C" __attribute__((visibility("default"))) PyObject* PyInit__ovattr_testext() {
  static PyModuleDef definition = {PyModuleDef_HEAD_INIT,
                                   "_ovattr_testext",
                                   "",
                                   -1,
                                   testext_methods,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr};
  return ImportFirst() ? PyModule_Create(&definition) : nullptr;
}
#else
extern "C" __attribute__((visibility("default"))) void init_ovattr_testext() {
  if (!ImportFirst()) return;
  Py_InitModule4("_ovattr_testext", testext_methods, "", nullptr, PYTHON_API_VERSION);
}
#endif
