// Conversions between library attributes and Python objects: the functions other compiled
// modules link against, what an attribute object holds, the value converters, the exception
// translator and the helpers around the interpreter lock.

#include <cstring>
#include <exception>
#include <limits>
#include <memory>

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

PYOVATTR_API int _tessark_dummy_dll_export = 0;

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

namespace {

// The refusal of a second __init__ on 3, where an attribute is a value.
bool RefuseNewValue(PyObject* self) {
  PyErr_Format(PyExc_TypeError,
               "%.100s already holds a value: attributes are immutable, make a new one",
               Py_TYPE(self)->tp_name);
  return false;
}

}  // namespace

bool StartInitialiser(PyObject* self) {
  if (kInitReplacesValue) {
    ClearHeldAttribute(self);
    return true;
  }
  return reinterpret_cast<PyAttribute*>(self)->attr == nullptr || RefuseNewValue(self);
}

bool SetHeldAttribute(PyObject* self, OvAttr::Attribute value) {
  auto* object = reinterpret_cast<PyAttribute*>(self);
  if (!kInitReplacesValue && object->attr) return RefuseNewValue(self);
  auto handle = std::make_unique<OvAttr::Attribute>(std::move(value));
  const std::unique_ptr<OvAttr::Attribute> replaced(object->attr);
  object->attr = handle.release();
  return true;
}

void ClearHeldAttribute(PyObject* self) noexcept {
  auto* object = reinterpret_cast<PyAttribute*>(self);
  const std::unique_ptr<OvAttr::Attribute> replaced(object->attr);
  object->attr = nullptr;
}

// Borrows obj.
OvAttr::Attribute AttributeFromPyObject(PyObject* obj) {
  return IsAttributeObject(obj) ? HeldAttribute(obj) : OvAttr::Attribute();
}

// Does not adopt `attribute`: the new object shares its value. Returns a new reference.
PyObject* PyAttributeFromAttribute(const OvAttr::Attribute& attribute) {
  // The Python type of each kind tag; a tag no type stands for (a newer library's) is
  // answered like an invalid handle.
  static PyTypeObject* const kTypeOfTag[] = {
      &PyNullAttribute_Type,   &PyIntAttribute_Type,    &PyFloatAttribute_Type,
      &PyDoubleAttribute_Type, &PyStringAttribute_Type, &PyGroupAttribute_Type,
  };
  const auto tag = static_cast<unsigned>(attribute.getType());
  if (!attribute.isValid() || tag >= sizeof kTypeOfTag / sizeof kTypeOfTag[0]) Py_RETURN_NONE;
  PyTypeObject* type = kTypeOfTag[tag];
  if (!EnsureTypesReady(type)) return nullptr;

  std::unique_ptr<OvAttr::Attribute> handle(new (std::nothrow) OvAttr::Attribute(attribute));
  if (!handle) return PyErr_NoMemory();
  // The exact type, never a subclass, and no initialiser: the handle is the whole state.
  auto* obj = reinterpret_cast<PyAttribute*>(_PyObject_New(type));
  if (!obj) return nullptr;
  obj->attr = handle.release();
  return reinterpret_cast<PyObject*>(obj);
}

PyObject* PyObjectFromInt(const int32_t& value) { return NewInt(value); }

PyObject* PyObjectFromFloat(const float& value) {
  return PyFloat_FromDouble(static_cast<double>(value));
}

PyObject* PyObjectFromDouble(const double& value) { return PyFloat_FromDouble(value); }

PyObject* PyObjectFromString(const std::string& value) {
  // Library strings end at their first NUL, as everywhere else in the module.
  return NewText(value.c_str());
}

bool ToInt32(long value, int32_t* out) {
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    PyErr_Format(PyExc_OverflowError, "value %ld is outside the 32-bit integer range", value);
    return false;
  }
  *out = static_cast<int32_t>(value);
  return true;
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

bool WorthReleasingGil(const OvAttr::Attribute& attribute, size_t threshold) noexcept {
  size_t bytes = attribute.getDataSize();
  const OvAttr::GroupAttribute group(attribute);
  for (int64_t i = 0, n = group.getNumberOfChildren(); i < n && bytes < threshold; ++i)
    bytes += group.getChildByIndex(i).getDataSize();
  return bytes >= threshold;
}

OvAttr::Hash HashOf(const OvAttr::Attribute& attribute) {
  OvAttr::Hash hash;
  if (attribute.getCachedHash(&hash)) return hash;
  if (!WorthReleasingGil(attribute)) return attribute.getHash();
  const OvAttr::Attribute held = attribute;  // the caller's may be replaced while unlocked
  ReleasedGil released(true);
  return held.getHash();
}

}  // namespace Tessark::PyOvAttribute::v1
