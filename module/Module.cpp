// The module's entry point: readies the type objects and registers types, functions,
// the Util submodule and the constants.

#include "module/Internal.h"

using namespace Tessark::PyOvAttribute::v1;

namespace {

// Adds `type` to `module` under `name`. PyModule_AddObject steals the reference added here.
void AddType(PyObject* module, const char* name, PyTypeObject* type) {
  Py_INCREF(type);
  PyModule_AddObject(module, name, reinterpret_cast<PyObject*>(type));
}

}  // namespace

extern "C" PYOVATTR_API void initPyOvAttribute() {
  PyAttribute_Type.tp_new = PyType_GenericNew;
  // Bases before the types derived from them.
  PyTypeObject* const attributeTypes[] = {
      &PyAttribute_Type,      &PyDataAttribute_Type,   &PyIntAttribute_Type,
      &PyFloatAttribute_Type, &PyDoubleAttribute_Type, &PyStringAttribute_Type,
      &PyGroupAttribute_Type, &PyNullAttribute_Type,   &PyConstVector_Type,
  };
  for (PyTypeObject* type : attributeTypes) {
    if (PyType_Ready(type) < 0) return;
  }
  PyGroupBuilder_Type.tp_new = PyType_GenericNew;
  if (PyType_Ready(&PyGroupBuilder_Type) < 0) return;
  // Readying put the root types' Module_getattro into their dictionaries as __getattribute__,
  // where Python subclasses find it; the module's own types go back to the interpreter's
  // lookup, and the copy registry handles them (module/Reduce.cpp).
  PyTypeObject* const ownTypes[] = {
      &PyAttribute_Type,      &PyDataAttribute_Type,   &PyIntAttribute_Type,
      &PyFloatAttribute_Type, &PyDoubleAttribute_Type, &PyStringAttribute_Type,
      &PyGroupAttribute_Type, &PyNullAttribute_Type,   &PyConstVector_Type,
      &PyGroupBuilder_Type,
  };
  for (PyTypeObject* type : ownTypes) type->tp_getattro = PyObject_GenericGetAttr;

  // Borrowed reference.
  PyObject* module = Py_InitModule4("PyOvAttribute", kModuleMethods, "Python OvAttribute Bindings",
                                    nullptr, PYTHON_API_VERSION);
  if (!module) return;

  const char* moduleName = PyModule_GetName(module);
  if (!moduleName) return;
  const std::string utilName = std::string(moduleName) + ".Util";
  // Borrowed reference; the one added below is stolen by PyModule_AddObject.
  PyObject* util =
      Py_InitModule4(utilName.c_str(), kUtilMethods, "Utilities", nullptr, PYTHON_API_VERSION);
  if (!util) return;
  Py_INCREF(util);
  PyModule_AddObject(module, "Util", util);

  AddType(module, "Attribute", &PyAttribute_Type);
  AddType(module, "DataAttribute", &PyDataAttribute_Type);
  AddType(module, "IntAttribute", &PyIntAttribute_Type);
  AddType(module, "FloatAttribute", &PyFloatAttribute_Type);
  AddType(module, "DoubleAttribute", &PyDoubleAttribute_Type);
  AddType(module, "StringAttribute", &PyStringAttribute_Type);
  AddType(module, "GroupAttribute", &PyGroupAttribute_Type);
  AddType(module, "NullAttribute", &PyNullAttribute_Type);
  AddType(module, "ConstVector", &PyConstVector_Type);
  AddType(module, "GroupBuilder", &PyGroupBuilder_Type);

  if (!RegisterCopies(ownTypes, sizeof ownTypes / sizeof ownTypes[0])) return;

  PyModule_AddIntConstant(module, "GroupBuilderBuildAndFlush", OvAttr::GroupBuilder::BuildAndFlush);
  PyModule_AddIntConstant(module, "GroupBuilderBuildAndRetain",
                          OvAttr::GroupBuilder::BuildAndRetain);
  PyModule_AddIntConstant(module, "GroupBuilderModeNormal",
                          OvAttr::GroupBuilder::BuilderModeNormal);
  PyModule_AddIntConstant(module, "GroupBuilderModeStrict",
                          OvAttr::GroupBuilder::BuilderModeStrict);
}
