// Copies and pickles of the module's objects.
//
// copy.copy, copy.deepcopy, pickle and cPickle look a type up in the copy registry (copy_reg;
// on 3 copyreg) before anything else, and the module registers its ten types there at import:
// - an attribute reduces to OvAttribute._restore.attribute(<its binary form as str; 3: bytes>): the
//   value bit for bit, independent of memory addresses, loadable wherever the package is;
// - a GroupBuilder to OvAttribute._restore.builder(mode, <what it would build>);
// - a ConstVector to OvAttribute._restore.vector(<its values as an attribute, or None>).
// The registry knows exact types only. An instance of a Python subclass would fall through to
// object.__reduce_ex__, which makes a new object without running __init__: an object without
// a value. So the root types carry a __getattribute__ (Module_getattro) whose only job is to
// answer __reduce_ex__ and __reduce__ of subclass instances with a TypeError: the module cannot
// make an object of a subclass hold a value without running its __init__. A subclass that
// defines __reduce__ or __reduce_ex__ itself keeps it. The module's own types look attributes
// up the interpreter's way (initPyOvAttribute puts the generic lookup back in their slot), so
// that method calls on them pay nothing for this; Python subclasses get their slot from the
// __getattribute__ in their base's dictionary when they are made.

#include <cstring>
#include <vector>

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

bool IsAttributeType(PyTypeObject* type) noexcept {
  for (PyTypeObject* own : {&PyAttribute_Type, &PyDataAttribute_Type, &PyIntAttribute_Type,
                            &PyFloatAttribute_Type, &PyDoubleAttribute_Type,
                            &PyStringAttribute_Type, &PyGroupAttribute_Type, &PyNullAttribute_Type})
    if (type == own) return true;
  return false;
}

// The reconstructor `name` of the OvAttribute package. Returns a new reference.
PyObject* Restorer(const char* name) {
  const PyRef module = PyRef::steal(PyImport_ImportModule("OvAttribute._restore"));
  if (!module) return nullptr;
  return PyObject_GetAttrString(module.get(), name);
}

// (restorer, args): the reduce value. Steals args. Returns a new reference.
PyObject* ReduceValue(const char* restorer, PyObject* args) {
  PyRef held = PyRef::steal(args);
  if (!held) return nullptr;
  PyRef callable = PyRef::steal(Restorer(restorer));
  if (!callable) return nullptr;
  return Py_BuildValue("(NN)", callable.release(), held.release());
}

PyObject* ReduceAttribute(PyObject* self) {
  const OvAttr::Attribute attribute = HeldAttribute(self);  // a copy: the lock may go below
  std::vector<char> bytes;
  {
    ReleasedGil released(WorthReleasingGil(attribute));
    attribute.getBinary(bytes);
  }
  if (bytes.empty()) {
    PyErr_Format(PyExc_TypeError, "cannot copy or pickle a %.100s that holds no value",
                 Py_TYPE(self)->tp_name);
    return nullptr;
  }
  return ReduceValue("attribute", Py_BuildValue("(N)", NewBytes(bytes.data(), bytes.size())));
}

PyObject* ReduceBuilder(PyObject* self) {
  OvAttr::GroupBuilder* builder = reinterpret_cast<PyGroupBuilder*>(self)->builder;
  if (!builder) {
    PyErr_SetString(PyExc_TypeError, "GroupBuilder is not initialised");
    return nullptr;
  }
  PyRef group =
      PyRef::steal(PyAttributeFromAttribute(builder->build(OvAttr::GroupBuilder::BuildAndRetain)));
  if (!group) return nullptr;
  return ReduceValue("builder",
                     Py_BuildValue("(iN)", static_cast<int>(builder->getMode()), group.release()));
}

PyObject* ReduceVector(PyObject* self) {
  PyRef values = PyRef::steal(PyObject_CallMethod(self, const_cast<char*>("toOvAttr"), nullptr));
  if (!values) return nullptr;
  return ReduceValue("vector", Py_BuildValue("(N)", values.release()));
}

// The reduce value of `object`. Returns a new reference.
PyObject* Reduce(PyObject* object) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    PyTypeObject* type = Py_TYPE(object);
    if (IsAttributeType(type)) return ReduceAttribute(object);
    if (type == &PyGroupBuilder_Type) return ReduceBuilder(object);
    if (type == &PyConstVector_Type) return ReduceVector(object);
    PyErr_Format(PyExc_TypeError,
                 "cannot copy or pickle %.100s objects: PyOvAttribute copies and pickles its own "
                 "types, not Python subclasses of them (define __reduce__ on %.100s to do it)",
                 type->tp_name, type->tp_name);
    return nullptr;
  });
}

// The copy registry's function: reducer(object).
PyObject* Reducer(PyObject* /*unused*/, PyObject* object) { return Reduce(object); }

// __reduce_ex__(protocol) and __reduce__() of a subclass instance: every protocol alike.
PyObject* ReduceMethod(PyObject* self, PyObject* /*args*/) { return Reduce(self); }

PyMethodDef kReducer = {"reduce", Reducer, METH_O, ""};
PyMethodDef kReduceMethod = {"__reduce_ex__", ReduceMethod, METH_VARARGS, ""};

// Whether `name` is __reduce_ex__ or __reduce__. Borrows name.
bool IsReduceName(PyObject* name) noexcept {
  const char* text = NameText(name);
  return text && text[0] == '_' &&
         (std::strcmp(text, "__reduce_ex__") == 0 || std::strcmp(text, "__reduce__") == 0);
}

// Whether a Python subclass defines its own __reduce__ or __reduce_ex__.
bool DefinesOwnReduce(PyTypeObject* type) {
  for (const char* name : {"__reduce__", "__reduce_ex__"}) {
    const PyRef key = PyRef::steal(NewInternedText(name));
    if (!key) {
      PyErr_Clear();
      return false;
    }
    if (_PyType_Lookup(type, key.get()) != _PyType_Lookup(&PyBaseObject_Type, key.get()))
      return true;
  }
  return false;
}

}  // namespace

PyObject* Module_getattro(PyObject* self, PyObject* name) {
  if (IsReduceName(name) && !DefinesOwnReduce(Py_TYPE(self)))
    return PyCFunction_New(&kReduceMethod, self);
  return PyObject_GenericGetAttr(self, name);
}

bool RegisterCopies(PyTypeObject* const* types, size_t count) {
  const PyRef registry = PyRef::steal(PyImport_ImportModule(kCopyRegistry));
  if (!registry) return false;
  const PyRef reducer = PyRef::steal(PyCFunction_New(&kReducer, nullptr));
  if (!reducer) return false;
  for (size_t i = 0; i < count; ++i) {
    const PyRef done =
        PyRef::steal(PyObject_CallMethod(registry.get(), const_cast<char*>("pickle"),
                                         const_cast<char*>("OO"), types[i], reducer.get()));
    if (!done) return false;
  }
  return true;
}

}  // namespace Tessark::PyOvAttribute::v1
