// ovattr_consumer: an extension module that takes attributes from Python, reads them with the
// attribute library and hands new ones back, through PyOvAttribute's exported functions.
//
//   doubled(attribute)          every number doubled (integers wrap around), in every sample
//                               and every child; strings and null as they are
//   with_child(group, name, a)  the group with child `name` set to `a`

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <exception>
#include <vector>

#include "PyOvAttribute/PyOvAttribute.h"

namespace {

namespace ov = Tessark::internal::OvAttribute;
namespace pyov = Tessark::PyOvAttribute::v1;

template <typename T>
T twice(T value) {
  if constexpr (std::is_same_v<T, int32_t>) {
    return static_cast<int32_t>(static_cast<uint32_t>(value) * 2u);
  } else {
    return value * 2;
  }
}

template <typename T>
ov::Attribute doubledData(const ov::Attribute& attribute) {
  const ov::TypedDataAttribute<T> data(attribute);
  const int64_t samples = data.getNumberOfTimeSamples();
  std::vector<float> times;
  std::vector<std::vector<T>> rows;
  std::vector<const T*> pointers;
  for (int64_t i = 0; i < samples; ++i) {
    times.push_back(data.getSampleTime(i));
    const ov::ConstVector<T> sample = data.getSample(i);
    rows.emplace_back(sample.begin(), sample.end());
    for (T& value : rows.back()) value = twice(value);
  }
  for (const std::vector<T>& row : rows) pointers.push_back(row.data());
  return ov::TypedDataAttribute<T>(times.data(), samples, pointers.data(), data.getNumberOfValues(),
                                   data.getTupleSize());
}

// Recursive over groups, which is fine for an example's shallow values.
ov::Attribute doubled(const ov::Attribute& attribute) {
  switch (attribute.getType()) {
    case ov::kAttrTypeInt:
      return doubledData<int32_t>(attribute);
    case ov::kAttrTypeFloat:
      return doubledData<float>(attribute);
    case ov::kAttrTypeDouble:
      return doubledData<double>(attribute);
    case ov::kAttrTypeGroup: {
      const ov::GroupAttribute group(attribute);
      ov::GroupBuilder builder(ov::GroupBuilder::BuilderModeStrict);
      for (int64_t i = 0; i < group.getNumberOfChildren(); ++i)
        builder.set(group.getChildNameView(i), doubled(group.getChildByIndex(i)));
      builder.setGroupInherit(group.getGroupInherit());
      return builder.build();
    }
    default:
      return attribute;
  }
}

// Library exceptions must not cross into the interpreter.
template <typename Body>
PyObject* guard(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  }
  return nullptr;
}

PyObject* consumer_doubled(PyObject* /*self*/, PyObject* args) {
  PyObject* obj = nullptr;
  if (!PyArg_ParseTuple(args, "O", &obj)) return nullptr;
  return guard([&]() -> PyObject* {
    const ov::Attribute attribute = pyov::AttributeFromPyObject(obj);
    if (!attribute.isValid()) {
      PyErr_SetString(PyExc_TypeError, "doubled() takes a PyOvAttribute attribute");
      return nullptr;
    }
    return pyov::PyAttributeFromAttribute(doubled(attribute));
  });
}

PyObject* consumer_with_child(PyObject* /*self*/, PyObject* args) {
  PyObject* group = nullptr;
  const char* name = nullptr;
  Py_ssize_t size = 0;
  PyObject* child = nullptr;
  if (!PyArg_ParseTuple(args, "Os#O", &group, &name, &size, &child)) return nullptr;
  return guard([&]() -> PyObject* {
    const ov::GroupAttribute parent(pyov::AttributeFromPyObject(group));
    const ov::Attribute value = pyov::AttributeFromPyObject(child);
    if (!parent.isValid() || !value.isValid()) {
      PyErr_SetString(PyExc_TypeError, "with_child() takes a group, a name and an attribute");
      return nullptr;
    }
    ov::GroupBuilder builder(ov::GroupBuilder::BuilderModeStrict);
    builder.update(parent).set({name, static_cast<size_t>(size)}, value);
    builder.setGroupInherit(parent.getGroupInherit());
    return pyov::PyAttributeFromAttribute(builder.build());
  });
}

PyMethodDef consumer_methods[] = {
    {"doubled", consumer_doubled, METH_VARARGS, "doubled(attribute): every number doubled"},
    {"with_child", consumer_with_child, METH_VARARGS,
     "with_child(group, name, attribute): the group with one child set"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

// PyMODINIT_FUNC carries no export attribute in 2.7.
#if PY_MAJOR_VERSION >= 3
extern "C" __attribute__((visibility("default"))) PyObject* PyInit_ovattr_consumer() {
  static PyModuleDef definition = {PyModuleDef_HEAD_INIT,
                                   "ovattr_consumer",
                                   nullptr,
                                   -1,
                                   consumer_methods,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr};
  PyObject* pyOvAttribute = PyImport_ImportModule("PyOvAttribute");  // readies its types
  if (!pyOvAttribute) return nullptr;
  Py_DECREF(pyOvAttribute);
  return PyModule_Create(&definition);
}
#else
extern "C" __attribute__((visibility("default"))) void initovattr_consumer() {
  PyObject* pyOvAttribute = PyImport_ImportModule("PyOvAttribute");  // readies its types
  if (!pyOvAttribute) return;
  Py_DECREF(pyOvAttribute);
  Py_InitModule("ovattr_consumer", consumer_methods);
}
#endif
