// The embedded Python 2.7 interpreter that the module's fuzz targets drive PyOvAttribute
// through, and the checks of the interpreter's error contract that every call passes.
//
// Include from exactly one source of a fuzz binary: it defines the sanitizer hooks below.
//
// Two builds. In the normal build (the *_replay CTest tests) the interpreter imports the built
// PyOvAttribute.so from the build's python folder (OVATTR_FUZZ_PYTHON_DIR). In the libFuzzer
// build the module's and the library's sources are compiled into the target with coverage
// (OVATTR_FUZZ_BUILTIN_MODULE) and registered as a built-in module, so the interpreter, which
// is not instrumented, is the only code libFuzzer cannot see into.
#pragma once

#include <Python.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "module/PyRef.h"

#if !defined(OVATTR_FUZZ_PYTHON_DIR) || !defined(OVATTR_FUZZ_PYTHON_EXECUTABLE)
#error "the build defines OVATTR_FUZZ_PYTHON_DIR and OVATTR_FUZZ_PYTHON_EXECUTABLE"
#endif

#if defined(OVATTR_FUZZ_BUILTIN_MODULE)
extern "C" void initPyOvAttribute();
#endif

// The interpreter never frees much of what it allocates at start-up and keeps objects in arenas
// that LeakSanitizer does not scan; those allocations are the interpreter's, not findings. Two
// frames of allocation stack keep the interpreter's frames out of the stacks of the module's
// own allocations, which the suppression would otherwise hide too (it matches any frame).
// Exported, so that a sanitizer runtime in a shared library (gcc's) finds them too.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libpython2.7.so\nleak:python2.7\n";
}
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "malloc_context_size=2";
}

namespace ovattr_fuzz {

// The module's owner of one strong reference: Ref::steal adopts a new one.
using Ref = ::Tessark::PyOvAttribute::v1::PyRef;

[[noreturn]] inline void Finding(const char* what, const char* where) {
  std::fprintf(stderr, "FINDING: %s (%s)\n", what, where);
  if (PyErr_Occurred()) PyErr_Print();
  std::abort();
}

// The PyOvAttribute module, imported once. Returns a borrowed reference.
inline PyObject* Module() {
  static PyObject* const module = [] {
#if defined(OVATTR_FUZZ_BUILTIN_MODULE)
    if (PyImport_AppendInittab(const_cast<char*>("PyOvAttribute"), initPyOvAttribute) != 0)
      Finding("cannot register the built-in module", "start-up");
#endif
    // Named after the real interpreter, the embedded one finds its standard library.
    static char program[] = OVATTR_FUZZ_PYTHON_EXECUTABLE;
    Py_SetProgramName(program);
    Py_NoSiteFlag = 1;
    Py_DontWriteBytecodeFlag = 1;
    Py_InitializeEx(0);  // no signal handlers: libFuzzer has its own
    PyObject* path = PySys_GetObject(const_cast<char*>("path"));  // borrowed
    Ref dir = Ref::steal(PyString_FromString(OVATTR_FUZZ_PYTHON_DIR));
    if (!path || !dir || PyList_Insert(path, 0, dir.get()) != 0)
      Finding("cannot set sys.path", "start-up");
    PyObject* imported = PyImport_ImportModule("PyOvAttribute");
    if (!imported) Finding("cannot import PyOvAttribute", OVATTR_FUZZ_PYTHON_DIR);
    return imported;  // kept for the life of the process
  }();
  return module;
}

// An attribute of the module (a type or a function). Returns a borrowed reference.
inline PyObject* ModuleAttr(const char* name) {
  PyObject* dict = PyModule_GetDict(Module());  // borrowed
  PyObject* found = PyDict_GetItemString(dict, name);
  if (!found) Finding("module attribute missing", name);
  return found;
}

// Checks the result of a call into the module against the interpreter's error contract: null
// comes with an error set, a result without one, and SystemError (the interpreter's verdict on
// a broken contract or a misused API) never. Adopts `result`. Returns it, or an empty Ref with
// the call's error cleared.
inline Ref Checked(PyObject* result, const char* where) {
  if (!result) {
    if (!PyErr_Occurred()) Finding("null result without an error", where);
    if (PyErr_ExceptionMatches(PyExc_SystemError)) Finding("SystemError", where);
    PyErr_Clear();
    return Ref();
  }
  if (PyErr_Occurred()) Finding("a result with an error set", where);
  return Ref::steal(result);
}

// Calls `callable(*args)` (args: a tuple, or null for none) and checks the result.
inline Ref Call(PyObject* callable, PyObject* args, const char* where, PyObject* kwargs = nullptr) {
  Ref empty;
  if (!args) {
    empty = Ref::steal(PyTuple_New(0));
    args = empty.get();
  }
  return Checked(PyObject_Call(callable, args, kwargs), where);
}

inline Ref CallMethod(PyObject* obj, const char* name, PyObject* args, const char* where) {
  Ref method = Ref::steal(PyObject_GetAttrString(obj, name));
  if (!method) {
    PyErr_Clear();
    return Ref();
  }
  return Call(method.get(), args, where);
}

// A new tuple holding new references to the given objects (null items become None).
template <typename... Objects>
Ref Args(Objects... objects) {
  PyObject* items[] = {objects...};
  Ref tuple = Ref::steal(PyTuple_New(sizeof...(objects)));
  if (!tuple) Finding("cannot make a tuple", "Args");
  for (size_t i = 0; i < sizeof...(objects); ++i) {
    PyObject* item = items[i] ? items[i] : Py_None;
    Py_INCREF(item);
    PyTuple_SET_ITEM(tuple.get(), i, item);
  }
  return tuple;
}

// The first word of the attribute hash, as getHash64 gives it; null (error cleared) on failure.
inline Ref Hash64(PyObject* attribute, const char* where) {
  return CallMethod(attribute, "getHash64", nullptr, where);
}

// Aborts unless `a` and `b` are attributes of the same type with equal hashes.
inline void ExpectSameAttribute(PyObject* a, PyObject* b, const char* where) {
  if (!a || !b || Py_TYPE(a) != Py_TYPE(b)) Finding("round trip changed the type", where);
  Ref ha = Hash64(a, where);
  Ref hb = Hash64(b, where);
  if (!ha || !hb) Finding("getHash64 failed on a parsed attribute", where);
  const int same = PyObject_RichCompareBool(ha.get(), hb.get(), Py_EQ);
  if (same != 1) Finding("round trip changed the attribute", where);
  Ref text_a = CallMethod(a, "getHash", nullptr, where);
  Ref text_b = CallMethod(b, "getHash", nullptr, where);
  if (!text_a || !text_b || PyObject_RichCompareBool(text_a.get(), text_b.get(), Py_EQ) != 1)
    Finding("round trip changed the 128-bit hash", where);
}

// Serialises `attribute` to XML and to binary and parses both back: each must give an equal
// attribute of the same type. Also reads it the ways a script would.
inline void ExpectRoundTrips(PyObject* attribute, const char* where) {
  PyObject* type = ModuleAttr("Attribute");
  Ref xml = CallMethod(attribute, "getXML", nullptr, where);
  if (!xml) Finding("getXML failed on a valid attribute", where);
  Ref xml_args = Args(xml.get());
  Ref from_xml = CallMethod(type, "parseXML", xml_args.get(), where);
  if (!from_xml) Finding("the XML of an attribute does not parse", where);
  ExpectSameAttribute(attribute, from_xml.get(), where);

  Ref blob = CallMethod(attribute, "getBinary", nullptr, where);
  if (!blob) Finding("getBinary failed on a valid attribute", where);
  Ref blob_args = Args(blob.get());
  Ref from_blob = CallMethod(type, "parseBinary", blob_args.get(), where);
  if (!from_blob) Finding("the binary form of an attribute does not parse", where);
  ExpectSameAttribute(attribute, from_blob.get(), where);

  // Reads: any Python error is fine here, only the contract is checked.
  for (const char* reader : {"getData", "getSamples", "getSampleTimes", "childList", "getValue",
                             "getTupleSize", "getNumberOfTuples"}) {
    Ref got = CallMethod(attribute, reader, nullptr, where);
    if (got) Checked(PyObject_Repr(got.get()), where);
  }
}

}  // namespace ovattr_fuzz
