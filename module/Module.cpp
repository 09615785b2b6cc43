// The module's entry point: readies the type objects and registers types, functions, the Util
// submodule and the constants; and the helpers that make type objects and add to a module.

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

PyTypeObject DefineType(const char* name, Py_ssize_t basicSize, const char* doc,
                        bool subclassable) {
  PyTypeObject type = {PyVarObject_HEAD_INIT(nullptr, 0)};
  type.tp_name = name;
  type.tp_basicsize = basicSize;
  type.tp_flags = kTypeFlags | (subclassable ? Py_TPFLAGS_BASETYPE : 0);
  type.tp_doc = doc;
  return type;
}

PyTypeObject DefineAttributeType(const char* name, const char* doc, PyTypeObject* base,
                                 PyMethodDef* methods, initproc init) {
  PyTypeObject type = DefineType(name, sizeof(PyAttribute), doc, true);
  type.tp_base = base;
  type.tp_methods = methods;
  type.tp_init = init;
  return type;
}

namespace {

bool AddType(PyObject* module, const char* name, PyTypeObject* type) {
  return AddToModule(module, name, PyRef::newRef(reinterpret_cast<PyObject*>(type)));
}

// Readies the types (bases first) and registers them. False with the interpreter's error set.
bool ReadyTypes() {
  PyAttribute_Type.tp_new = PyType_GenericNew;
  PyGroupBuilder_Type.tp_new = PyType_GenericNew;
  PyTypeObject* const types[] = {
      &PyAttribute_Type,      &PyDataAttribute_Type,   &PyIntAttribute_Type,
      &PyFloatAttribute_Type, &PyDoubleAttribute_Type, &PyStringAttribute_Type,
      &PyGroupAttribute_Type, &PyNullAttribute_Type,   &PyConstVector_Type,
      &PyGroupBuilder_Type,
  };
  for (PyTypeObject* type : types)
    if (PyType_Ready(type) < 0) return false;
#if PYOVATTR_PY3
  if (PyType_Ready(&PyConstVectorIterator_Type) < 0) return false;
#endif
  // Readying put the root types' Module_getattro into their dictionaries as __getattribute__,
  // where Python subclasses find it; the module's own types go back to the interpreter's
  // lookup, and the copy registry handles them (module/Reduce.cpp).
  for (PyTypeObject* type : types) type->tp_getattro = PyObject_GenericGetAttr;
  return RegisterCopies(types, sizeof types / sizeof types[0]);
}

// The module with its types, functions, Util submodule and constants. Returns a new
// reference, or null with the interpreter's error set.
PyObject* MakeModule() {
  if (!ReadyTypes()) return nullptr;

#if PYOVATTR_PY3
  static PyModuleDef definition = {
      PyModuleDef_HEAD_INIT, "PyOvAttribute", "Python OvAttribute Bindings", -1, kModuleMethods,
  };
  PyRef module = PyRef::steal(PyModule_Create(&definition));
#else
  PyRef module = PyRef::newRef(Py_InitModule4(
      "PyOvAttribute", kModuleMethods, "Python OvAttribute Bindings", nullptr, PYTHON_API_VERSION));
#endif
  if (!module) return nullptr;
  const char* moduleName = PyModule_GetName(module.get());
  if (!moduleName) return nullptr;
  const std::string utilName = std::string(moduleName) + ".Util";
  if (!AddToModule(module.get(), "Util",
                   PyRef::steal(NewSubmodule(utilName.c_str(), kUtilMethods, "Utilities")))) {
    return nullptr;
  }

  const struct {
    const char* name;
    PyTypeObject* type;
  } types[] = {
      {"Attribute", &PyAttribute_Type},
      {"DataAttribute", &PyDataAttribute_Type},
      {"IntAttribute", &PyIntAttribute_Type},
      {"FloatAttribute", &PyFloatAttribute_Type},
      {"DoubleAttribute", &PyDoubleAttribute_Type},
      {"StringAttribute", &PyStringAttribute_Type},
      {"GroupAttribute", &PyGroupAttribute_Type},
      {"NullAttribute", &PyNullAttribute_Type},
      {"ConstVector", &PyConstVector_Type},
      {"GroupBuilder", &PyGroupBuilder_Type},
  };
  for (const auto& entry : types)
    if (!AddType(module.get(), entry.name, entry.type)) return nullptr;

  const struct {
    const char* name;
    long value;
  } constants[] = {
      {"GroupBuilderBuildAndFlush", OvAttr::GroupBuilder::BuildAndFlush},
      {"GroupBuilderBuildAndRetain", OvAttr::GroupBuilder::BuildAndRetain},
      {"GroupBuilderModeNormal", OvAttr::GroupBuilder::BuilderModeNormal},
      {"GroupBuilderModeStrict", OvAttr::GroupBuilder::BuilderModeStrict},
  };
  for (const auto& constant : constants)
    if (PyModule_AddIntConstant(module.get(), constant.name, constant.value) < 0) return nullptr;
  return module.release();
}

}  // namespace

}  // namespace Tessark::PyOvAttribute::v1

// On any failure the entry point returns at once with the interpreter's error set, and the
// import fails with it.
#if PYOVATTR_PY3
extern "C" PYOVATTR_API PyObject* PyInit_PyOvAttribute() {
  return Tessark::PyOvAttribute::v1::MakeModule();
}
#else
extern "C" PYOVATTR_API void initPyOvAttribute() {
  // sys.modules holds the module; the reference made here is dropped.
  Tessark::PyOvAttribute::v1::PyRef::steal(Tessark::PyOvAttribute::v1::MakeModule());
}
#endif
