// Element converters of the typed data attributes.

#include "types/TypedConversions.h"

#include <cmath>

namespace Tessark::PyOvAttribute::v1 {

namespace {

// The number of `obj` as a double through its own conversion, for objects that are not
// floats. Borrows obj.
Conversion DoubleThroughNumberFloat(PyObject* obj, double* value) {
  if (!PyNumber_Check(obj)) return Conversion::kRefused;
  PyRef asFloat = PyRef::steal(PyNumber_Float(obj));
  if (!asFloat) return Conversion::kFailed;
  // PyNumber_Float refuses a __float__ that returns anything but a float (or subclass).
  *value = PyFloat_AS_DOUBLE(asFloat.get());
  return Conversion::kDone;
}

}  // namespace

Conversion IntFromPyObject(PyObject* obj, int32_t* slot) {
  long value;
  if (IsInt(obj)) {
    if (!IntValue(obj, &value)) return Conversion::kFailed;
#if !PYOVATTR_PY3
  } else if (PyLong_Check(obj)) {
    value = PyLong_AsLong(obj);
    if (value == -1 && PyErr_Occurred()) return Conversion::kFailed;
#endif
  } else if (!PyNumber_Check(obj)) {
    return Conversion::kRefused;
  } else {
#if PYOVATTR_PY3
    PyRef asLong = PyRef::steal(PyNumber_Index(obj));
#else
    PyRef asLong = PyRef::steal(PyNumber_Long(obj));
#endif
    if (!asLong) return Conversion::kFailed;
    value = PyLong_AsLong(asLong.get());
    if (value == -1 && PyErr_Occurred()) return Conversion::kFailed;
  }
  return ToInt32(value, slot) ? Conversion::kDone : Conversion::kFailed;
}

Conversion DoubleFromPyObject(PyObject* obj, double* slot) {
  double value;
  if (PyFloat_Check(obj)) {
    value = PyFloat_AS_DOUBLE(obj);
  } else {
    const Conversion result = DoubleThroughNumberFloat(obj, &value);
    if (result != Conversion::kDone) return result;
  }
  *slot = value;
  return Conversion::kDone;
}

// The double conversion, then the nearest 32-bit float.
Conversion FloatFromPyObject(PyObject* obj, float* slot) {
  double value;
  const Conversion result = DoubleFromPyObject(obj, &value);
  if (result == Conversion::kDone) *slot = NarrowToFloat(value);
  return result;
}

Conversion StringFromPyObject(PyObject* obj, const char** slot, PyRef* holder) {
  if (!IsText(obj)) return Conversion::kRefused;
  Platform::StringView text;
  if (!TextBytes(obj, &text, holder)) return Conversion::kFailed;
  *slot = text.data();
  return Conversion::kDone;
}

Conversion SampleTimeFromPyObject(PyObject* key, float* time) {
  double value;
  const Conversion result = DoubleFromPyObject(key, &value);
  if (result != Conversion::kDone) return result;
  if (std::isnan(value)) {
    PyErr_SetString(PyExc_ValueError, "sample time cannot be NaN");
    return Conversion::kFailed;
  }
  *time = NarrowToFloat(value);
  return Conversion::kDone;
}

}  // namespace Tessark::PyOvAttribute::v1
