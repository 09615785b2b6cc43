// Conversions between library attributes and Python objects: the functions other compiled
// modules link against, the value converters and the exception translator.

#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

PYOVATTR_API int _tessark_dummy_dll_export = 0;

namespace {

// The Python type that represents an attribute kind; null for a tag no type stands for.
PyTypeObject* TypeForTag(OvAttr::AttributeType tag) noexcept {
  switch (tag) {
    case OvAttr::kAttrTypeNull:
      return &PyNullAttribute_Type;
    case OvAttr::kAttrTypeInt:
      return &PyIntAttribute_Type;
    case OvAttr::kAttrTypeFloat:
      return &PyFloatAttribute_Type;
    case OvAttr::kAttrTypeDouble:
      return &PyDoubleAttribute_Type;
    case OvAttr::kAttrTypeString:
      return &PyStringAttribute_Type;
    case OvAttr::kAttrTypeGroup:
      return &PyGroupAttribute_Type;
    default:
      return nullptr;
  }
}

}  // namespace

// Objects of a type that PyType_Ready has not seen crash at their first use (no deallocator,
// no tp_free yet).
bool EnsureTypesReady(PyTypeObject* type) {
  if (PyType_HasFeature(type, Py_TPFLAGS_READY)) return true;
  const PyRef module = PyRef::steal(PyImport_ImportModule("PyOvAttribute"));
  return static_cast<bool>(module);
}

const OvAttr::Attribute& HeldAttribute(PyObject* self) noexcept {
  // Objects made by __new__ alone have no handle; answering with one shared invalid handle lets
  // every caller treat them like any other attribute that is not of the kind it needs.
  static const OvAttr::Attribute kInvalid;
  const OvAttr::Attribute* attr = reinterpret_cast<PyAttribute*>(self)->attr;
  return attr ? *attr : kInvalid;
}

// Borrows obj.
OvAttr::Attribute AttributeFromPyObject(PyObject* obj) {
  return IsAttributeObject(obj) ? HeldAttribute(obj) : OvAttr::Attribute();
}

// Does not adopt `attribute`: the new object shares its value. Returns a new reference.
PyObject* PyAttributeFromAttribute(const OvAttr::Attribute& attribute) {
  if (!attribute.isValid()) Py_RETURN_NONE;
  // A kind this module has no type for (a newer library's) is answered like an invalid one.
  PyTypeObject* type = TypeForTag(attribute.getType());
  if (!type) Py_RETURN_NONE;
  if (!EnsureTypesReady(type)) return nullptr;

  std::unique_ptr<OvAttr::Attribute> handle(new (std::nothrow) OvAttr::Attribute(attribute));
  if (!handle) return PyErr_NoMemory();
  // The exact type, never a subclass, and no initialiser: the handle is the whole state.
  auto* obj = reinterpret_cast<PyAttribute*>(_PyObject_New(type));
  if (!obj) return nullptr;
  obj->attr = handle.release();
  return reinterpret_cast<PyObject*>(obj);
}

PyObject* PyObjectFromInt(const int32_t& value) { return PyInt_FromLong(value); }

PyObject* PyObjectFromFloat(const float& value) {
  return PyFloat_FromDouble(static_cast<double>(value));
}

PyObject* PyObjectFromDouble(const double& value) { return PyFloat_FromDouble(value); }

PyObject* PyObjectFromString(const std::string& value) {
  // Library strings end at their first NUL, as everywhere else in the module.
  return PyString_FromString(value.c_str());
}

bool WorthReleasingGil(const OvAttr::Attribute& attribute, size_t threshold) noexcept {
  size_t bytes = attribute.getDataSize();
  const OvAttr::GroupAttribute group(attribute);
  for (int64_t i = 0, n = group.getNumberOfChildren(); i < n && bytes < threshold; ++i)
    bytes += group.getChildByIndex(i).getDataSize();
  return bytes >= threshold;
}

PyObject* NewStringCopy(const char* data, size_t size) {
  PyObject* text = PyString_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  if (!text) return nullptr;
  ReleasedGil released(size >= kReleaseGilBytes);
  std::memcpy(PyString_AS_STRING(text), data, size);
  return text;
}

PyObject* NewByteArrayCopy(const char* data, size_t size) {
  PyObject* bytes = PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  if (!bytes) return nullptr;
  ReleasedGil released(size >= kReleaseGilBytes);
  std::memcpy(PyByteArray_AS_STRING(bytes), data, size);
  return bytes;
}

OvAttr::Hash HashOf(const OvAttr::Attribute& attribute) {
  OvAttr::Hash hash;
  if (attribute.getCachedHash(&hash)) return hash;
  if (!WorthReleasingGil(attribute)) return attribute.getHash();
  const OvAttr::Attribute held = attribute;  // the caller's may be replaced while unlocked
  ReleasedGil released(true);
  return held.getHash();
}

void SetPyErrFromCppException() noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "Unknown C++ exception caught.");
  }
}

}  // namespace Tessark::PyOvAttribute::v1
