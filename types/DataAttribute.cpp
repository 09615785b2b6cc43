// PyOvAttribute.DataAttribute: the abstract base of the four typed kinds. Its methods read the
// shape of the data (tuple size, counts, sample times) through a data view of the handle, which
// each tests before it parses any argument, so that a method on the wrong kind of attribute
// always reports the kind, whatever its arguments.

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

// Sample times are 32-bit floats; widening to double is exact. Returns a new reference.
PyObject* PyFloatFromSampleTime(float time) {
  return PyFloat_FromDouble(static_cast<double>(time));
}

// Only the four typed kinds can be made from Python. As for Attribute, a handle the object
// already held is released rather than leaked on 2.7, and kept on 3.
int DataAttribute_init(PyObject* self, PyObject* /*args*/, PyObject* /*kwds*/) {
  if (kInitReplacesValue) ClearHeldAttribute(self);
  PyErr_SetString(PyExc_TypeError, "Cannot construct abstract DataAttribute directly.");
  return -1;
}

// The methods without arguments that answer one count: `count` reads it from the view.
// Returns a new reference.
template <int64_t (OvAttr::DataAttribute::*count)() const noexcept>
PyObject* DataAttribute_count(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto view = ViewOf<OvAttr::DataAttribute>(self);
    if (!Require(view, kInvalidAttr)) return nullptr;
    return NewIndex(static_cast<Py_ssize_t>((view.*count)()));
  });
}

// The index goes to the library as it is: the library answers indices outside the samples.
// Returns a new reference.
PyObject* DataAttribute_getSampleTime(PyObject* self, PyObject* args) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto view = ViewOf<OvAttr::DataAttribute>(self);
    if (!Require(view, kInvalidAttr)) return nullptr;
    PY_LONG_LONG index = 0;
    if (!PyArg_ParseTuple(args, "L", &index)) return nullptr;
    return PyFloatFromSampleTime(view.getSampleTime(static_cast<int64_t>(index)));
  });
}

// Returns a new reference.
PyObject* DataAttribute_getSampleTimes(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto view = ViewOf<OvAttr::DataAttribute>(self);
    if (!Require(view, kInvalidAttr)) return nullptr;
    const int64_t count = view.getNumberOfTimeSamples();
    PyRef times = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(count < 0 ? 0 : count)));
    if (!times) return nullptr;
    for (int64_t i = 0; i < count; ++i) {
      PyObject* time = PyFloatFromSampleTime(view.getSampleTime(i));
      if (!time) return nullptr;
      PyTuple_SET_ITEM(times.get(), static_cast<Py_ssize_t>(i), time);  // steals time
    }
    return times.release();
  });
}

// (low, high) of the samples around `time`; (None, None) when the library has no answer (no
// samples, or a NaN time), so callers can always unpack two items. Returns a new reference.
PyObject* DataAttribute_getBoundingSampleTimes(PyObject* self, PyObject* args) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto view = ViewOf<OvAttr::DataAttribute>(self);
    if (!Require(view, kInvalidAttr)) return nullptr;
    float time = 0.0f;
    if (!PyArg_ParseTuple(args, "f", &time)) return nullptr;
    float low = 0.0f;
    float high = 0.0f;
    if (!view.getBoundingSampleTimes(&low, &high, time)) {
      return Py_BuildValue("(OO)", Py_None, Py_None);
    }
    return Py_BuildValue("(dd)", static_cast<double>(low), static_cast<double>(high));
  });
}

PyMethodDef kDataAttributeMethods[] = {
    {"getTupleSize", DataAttribute_count<&OvAttr::DataAttribute::getTupleSize>, METH_NOARGS,
     PYOVATTR_METHOD_DOC("getTupleSize($self, /)\n--\n\n"
                         "The number of values in a tuple, as given when the value was made.")},
    {"getNumberOfValues", DataAttribute_count<&OvAttr::DataAttribute::getNumberOfValues>,
     METH_NOARGS,
     PYOVATTR_METHOD_DOC("getNumberOfValues($self, /)\n--\n\nThe number of values of a sample.")},
    {"getNumberOfTuples", DataAttribute_count<&OvAttr::DataAttribute::getNumberOfTuples>,
     METH_NOARGS,
     PYOVATTR_METHOD_DOC("getNumberOfTuples($self, /)\n--\n\n"
                         "The number of whole tuples of a sample (0 for a tuple size below 1).")},
    {"getNumberOfTimeSamples", DataAttribute_count<&OvAttr::DataAttribute::getNumberOfTimeSamples>,
     METH_NOARGS,
     PYOVATTR_METHOD_DOC("getNumberOfTimeSamples($self, /)\n--\n\nThe number of time samples.")},
    {"getSampleTime", DataAttribute_getSampleTime, METH_VARARGS,
     PYOVATTR_METHOD_DOC("getSampleTime($self, index, /)\n--\n\n"
                         "The time of sample index, in ascending order; 0.0 outside the samples.")},
    {"getSampleTimes", DataAttribute_getSampleTimes, METH_NOARGS,
     PYOVATTR_METHOD_DOC("getSampleTimes($self, /)\n--\n\n"
                         "The sample times, ascending, as a tuple of floats.")},
    {"getBoundingSampleTimes", DataAttribute_getBoundingSampleTimes, METH_VARARGS,
     PYOVATTR_METHOD_DOC("getBoundingSampleTimes($self, time, /)\n--\n\n"
                         "The sample times around time, as (low, high); (None, None) when there "
                         "are no samples or time is NaN.")},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject PyDataAttribute_Type = DefineAttributeType(
    "PyOvAttribute.DataAttribute",
    PYOVATTR_DOC("TESSARK data attribute",
                 "The abstract base of IntAttribute, FloatAttribute, DoubleAttribute and "
                 "StringAttribute: values in time samples, grouped in tuples."),
    &PyAttribute_Type, kDataAttributeMethods, DataAttribute_init);

}  // namespace Tessark::PyOvAttribute::v1
