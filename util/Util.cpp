// The Util submodule: time-sample clean-up and resampling of whole attributes. The library does
// the work (without the interpreter lock, for large values: the handles are the call's own
// copies); these functions check and convert their arguments and wrap the result.

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

// The frame of the three functions: the first argument's attribute (a TypeError when it is not
// an attribute object), then `ready()` for the other arguments' checks, then `transform` on the
// attribute without the interpreter lock for a large value (the handles are the call's own
// copies), its result wrapped. Every exception goes to SetPyErrFromCppException, as these
// functions document. Returns a new reference.
template <typename Ready, typename Transform>
PyObject* TransformFirst(PyObject* attributeObject, Ready&& ready, Transform&& transform) {
  return GuardCpp<PyObject*>(
      nullptr,
      [&]() -> PyObject* {
        const OvAttr::Attribute attribute = AttributeFromPyObject(attributeObject);
        if (!Require(attribute, "First argument must be a valid Attribute") || !ready())
          return nullptr;
        OvAttr::Attribute result;
        {
          ReleasedGil released(WorthReleasingGil(attribute));
          result = transform(attribute);
        }
        return PyAttributeFromAttribute(result);
      },
      Failures::kTranslated);
}

PyObject* Util_RemoveTimeSamplesIfAllSame(PyObject* /*module*/, PyObject* args) {
  PyObject* attributeObject = nullptr;
  if (!PyArg_ParseTuple(args, "O", &attributeObject)) return nullptr;
  return TransformFirst(
      attributeObject, [] { return true; },
      [](const OvAttr::Attribute& attribute) {
        return OvAttr::RemoveTimeSamplesIfAllSame(attribute);
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
  return TransformFirst(
      attributeObject, [] { return true; },
      [&](const OvAttr::Attribute& attribute) {
        return OvAttr::RemoveTimeSamplesUnneededForShutter(attribute, shutterOpen, shutterClose);
      });
}

// The second argument is looked at only once the first has passed, so the first argument's
// error wins when both are wrong.
PyObject* Util_ResampleAttrWithInterp(PyObject* /*module*/, PyObject* args) {
  PyObject* attributeObject = nullptr;
  PyObject* timesObject = nullptr;
  if (!PyArg_ParseTuple(args, "OO", &attributeObject, &timesObject)) return nullptr;
  OvAttr::DataAttribute times;
  return TransformFirst(
      attributeObject,
      [&] {
        times = OvAttr::DataAttribute(AttributeFromPyObject(timesObject));
        return Require(times, "Second argument must be a valid DataAttribute");
      },
      [&](const OvAttr::Attribute& attribute) {
        return OvAttr::ResampleAttrWithInterp(attribute, times);
      });
}

}  // namespace

PyMethodDef kUtilMethods[] = {
    {"RemoveTimeSamplesIfAllSame", Util_RemoveTimeSamplesIfAllSame, METH_VARARGS,
     PYOVATTR_METHOD_DOC("RemoveTimeSamplesIfAllSame(attribute, /)\n--\n\n"
                         "The attribute with one sample where all its samples hold the same "
                         "values, in every child of a group too.")},
    {"RemoveTimeSamplesUnneededForShutter", Util_RemoveTimeSamplesUnneededForShutter, METH_VARARGS,
     PYOVATTR_METHOD_DOC("RemoveTimeSamplesUnneededForShutter(attribute, shutterOpen, "
                         "shutterClose, /)\n--\n\n"
                         "The attribute with only the samples that the shutter interval needs, "
                         "in every child of a group too.")},
    {"ResampleAttrWithInterp", Util_ResampleAttrWithInterp, METH_VARARGS,
     PYOVATTR_METHOD_DOC("ResampleAttrWithInterp(attribute, times, /)\n--\n\n"
                         "The attribute sampled at the sample times of the data attribute "
                         "times, numbers interpolated linearly, in every child of a group too.")},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace Tessark::PyOvAttribute::v1
