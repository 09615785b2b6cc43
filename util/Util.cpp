// The Util submodule: time-sample clean-up and resampling of whole attributes. The library does
// the work (without the interpreter lock, for large values: the handles are the call's own
// copies); these functions check and convert their arguments and wrap the result.

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

// The attribute of the first argument, or an invalid handle with TypeError set when it is not
// an attribute object. Borrows obj.
OvAttr::Attribute FirstAttribute(PyObject* obj) {
  OvAttr::Attribute attribute = AttributeFromPyObject(obj);
  if (!attribute.isValid()) {
    PyErr_SetString(PyExc_TypeError, "First argument must be a valid Attribute");
  }
  return attribute;
}

PyObject* Util_RemoveTimeSamplesIfAllSame(PyObject* /*module*/, PyObject* args) {
  PyObject* attributeObject = nullptr;
  if (!PyArg_ParseTuple(args, "O", &attributeObject)) return nullptr;
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const OvAttr::Attribute attribute = FirstAttribute(attributeObject);
    if (!attribute.isValid()) return nullptr;
    OvAttr::Attribute result;
    {
      ReleasedGil released(WorthReleasingGil(attribute));
      result = OvAttr::RemoveTimeSamplesIfAllSame(attribute);
    }
    return PyAttributeFromAttribute(result);
  });
}

// The two times go to the library in the order given: it orders them itself.
PyObject* Util_RemoveTimeSamplesUnneededForShutter(PyObject* /*module*/, PyObject* args) {
  PyObject* attributeObject = nullptr;
  float shutterOpen = 0.0f;
  float shutterClose = 0.0f;
  if (!PyArg_ParseTuple(args, "Off", &attributeObject, &shutterOpen, &shutterClose)) {
    return nullptr;
  }
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const OvAttr::Attribute attribute = FirstAttribute(attributeObject);
    if (!attribute.isValid()) return nullptr;
    OvAttr::Attribute result;
    {
      ReleasedGil released(WorthReleasingGil(attribute));
      result = OvAttr::RemoveTimeSamplesUnneededForShutter(attribute, shutterOpen, shutterClose);
    }
    return PyAttributeFromAttribute(result);
  });
}

// The second argument is looked at only once the first has passed, so the first argument's
// error wins when both are wrong.
PyObject* Util_ResampleAttrWithInterp(PyObject* /*module*/, PyObject* args) {
  PyObject* attributeObject = nullptr;
  PyObject* timesObject = nullptr;
  if (!PyArg_ParseTuple(args, "OO", &attributeObject, &timesObject)) return nullptr;
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const OvAttr::Attribute attribute = FirstAttribute(attributeObject);
    if (!attribute.isValid()) return nullptr;
    const OvAttr::DataAttribute times(AttributeFromPyObject(timesObject));
    if (!times.isValid()) {
      PyErr_SetString(PyExc_TypeError, "Second argument must be a valid DataAttribute");
      return nullptr;
    }
    OvAttr::Attribute result;
    {
      ReleasedGil released(WorthReleasingGil(attribute));
      result = OvAttr::ResampleAttrWithInterp(attribute, times);
    }
    return PyAttributeFromAttribute(result);
  });
}

}  // namespace

PyMethodDef kUtilMethods[] = {
    {"RemoveTimeSamplesIfAllSame", Util_RemoveTimeSamplesIfAllSame, METH_VARARGS, ""},
    {"RemoveTimeSamplesUnneededForShutter", Util_RemoveTimeSamplesUnneededForShutter, METH_VARARGS,
     ""},
    {"ResampleAttrWithInterp", Util_ResampleAttrWithInterp, METH_VARARGS, ""},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace Tessark::PyOvAttribute::v1
