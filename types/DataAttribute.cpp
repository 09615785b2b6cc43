// PyOvAttribute.DataAttribute: the abstract base of the four typed kinds. Its methods read the
// shape of the data (tuple size, counts, sample times) through a data view of the handle.

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

// The data view of self's handle; invalid for a group, a null attribute or an object without
// a value. Borrows self.
OvAttr::DataAttribute DataView(PyObject* self) noexcept {
  return OvAttr::DataAttribute(HeldAttribute(self));
}

// Tested before any argument is parsed, so a method on the wrong kind of attribute always
// reports the kind, whatever its arguments.
bool CheckDataView(const OvAttr::DataAttribute& view) {
  if (view.isValid()) return true;
  PyErr_SetString(PyExc_TypeError, "Invalid attr");
  return false;
}

// Sample times are 32-bit floats; widening to double is exact. Returns a new reference.
PyObject* PyFloatFromSampleTime(float time) {
  return PyFloat_FromDouble(static_cast<double>(time));
}

// ---- Slots ----------------------------------------------------------------------------------

// Only the four typed kinds can be made from Python. As for Attribute, a handle the object
// already held is released rather than leaked.
int DataAttribute_init(PyObject* self, PyObject* /*args*/, PyObject* /*kwds*/) {
  auto* obj = reinterpret_cast<PyAttribute*>(self);
  OvAttr::Attribute* old = obj->attr;
  obj->attr = nullptr;
  delete old;
  PyErr_SetString(PyExc_TypeError, "Cannot construct abstract DataAttribute directly.");
  return -1;
}

// ---- Methods --------------------------------------------------------------------------------
// Each returns a new reference.

PyObject* DataAttribute_getTupleSize(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const OvAttr::DataAttribute view = DataView(self);
    if (!CheckDataView(view)) return nullptr;
    return PyInt_FromSsize_t(static_cast<Py_ssize_t>(view.getTupleSize()));
  });
}

PyObject* DataAttribute_getNumberOfValues(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const OvAttr::DataAttribute view = DataView(self);
    if (!CheckDataView(view)) return nullptr;
    return PyInt_FromSsize_t(static_cast<Py_ssize_t>(view.getNumberOfValues()));
  });
}

PyObject* DataAttribute_getNumberOfTuples(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const OvAttr::DataAttribute view = DataView(self);
    if (!CheckDataView(view)) return nullptr;
    return PyInt_FromSsize_t(static_cast<Py_ssize_t>(view.getNumberOfTuples()));
  });
}

PyObject* DataAttribute_getNumberOfTimeSamples(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const OvAttr::DataAttribute view = DataView(self);
    if (!CheckDataView(view)) return nullptr;
    return PyInt_FromSsize_t(static_cast<Py_ssize_t>(view.getNumberOfTimeSamples()));
  });
}

// The index goes to the library as it is: the library answers indices outside the samples.
PyObject* DataAttribute_getSampleTime(PyObject* self, PyObject* args) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const OvAttr::DataAttribute view = DataView(self);
    if (!CheckDataView(view)) return nullptr;
    PY_LONG_LONG index = 0;
    if (!PyArg_ParseTuple(args, "L", &index)) return nullptr;
    return PyFloatFromSampleTime(view.getSampleTime(static_cast<int64_t>(index)));
  });
}

PyObject* DataAttribute_getSampleTimes(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const OvAttr::DataAttribute view = DataView(self);
    if (!CheckDataView(view)) return nullptr;
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
// samples, or a NaN time), so callers can always unpack two items.
PyObject* DataAttribute_getBoundingSampleTimes(PyObject* self, PyObject* args) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const OvAttr::DataAttribute view = DataView(self);
    if (!CheckDataView(view)) return nullptr;
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

PyMethodDef DataAttribute_methods[] = {
    {"getTupleSize", DataAttribute_getTupleSize, METH_NOARGS, ""},
    {"getNumberOfValues", DataAttribute_getNumberOfValues, METH_NOARGS, ""},
    {"getNumberOfTuples", DataAttribute_getNumberOfTuples, METH_NOARGS, ""},
    {"getNumberOfTimeSamples", DataAttribute_getNumberOfTimeSamples, METH_NOARGS, ""},
    {"getSampleTime", DataAttribute_getSampleTime, METH_VARARGS, ""},
    {"getSampleTimes", DataAttribute_getSampleTimes, METH_NOARGS, ""},
    {"getBoundingSampleTimes", DataAttribute_getBoundingSampleTimes, METH_VARARGS, ""},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

// clang-format off
PyTypeObject PyDataAttribute_Type = {
    PyVarObject_HEAD_INIT(nullptr, 0)
    "PyOvAttribute.DataAttribute", /* tp_name */
    sizeof(PyAttribute), /* tp_basicsize */
    0, /* tp_itemsize */
    nullptr, /* tp_dealloc */
    nullptr, /* tp_print */
    nullptr, /* tp_getattr */
    nullptr, /* tp_setattr */
    nullptr, /* tp_compare */
    nullptr, /* tp_repr */
    nullptr, /* tp_as_number */
    nullptr, /* tp_as_sequence */
    nullptr, /* tp_as_mapping */
    nullptr, /* tp_hash */
    nullptr, /* tp_call */
    nullptr, /* tp_str */
    nullptr, /* tp_getattro */
    nullptr, /* tp_setattro */
    nullptr, /* tp_as_buffer */
    kTypeFlags | Py_TPFLAGS_BASETYPE, /* tp_flags */
    "TESSARK data attribute", /* tp_doc */
    nullptr, /* tp_traverse */
    nullptr, /* tp_clear */
    nullptr, /* tp_richcompare */
    0, /* tp_weaklistoffset */
    nullptr, /* tp_iter */
    nullptr, /* tp_iternext */
    DataAttribute_methods, /* tp_methods */
    nullptr, /* tp_members */
    nullptr, /* tp_getset */
    &PyAttribute_Type, /* tp_base */
    nullptr, /* tp_dict */
    nullptr, /* tp_descr_get */
    nullptr, /* tp_descr_set */
    0, /* tp_dictoffset */
    DataAttribute_init, /* tp_init */
    nullptr, /* tp_alloc */
    nullptr, /* tp_new */
    nullptr, /* tp_free */
    nullptr, /* tp_is_gc */
    nullptr, /* tp_bases */
    nullptr, /* tp_mro */
    nullptr, /* tp_cache */
    nullptr, /* tp_subclasses */
    nullptr, /* tp_weaklist */
    nullptr, /* tp_del */
    0, /* tp_version_tag */
};
// clang-format on

}  // namespace Tessark::PyOvAttribute::v1
