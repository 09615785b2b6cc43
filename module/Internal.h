// Declarations shared by the module's sources: object layouts, type objects, the owning
// reference type, the exception guard and the value converters. Not installed.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>
#include <utility>

#include "PyOvAttribute/PyOvAttribute.h"
#include "Tessark/OvAttribute/OvAttribute.h"

namespace Tessark::PyOvAttribute::v1 {

namespace OvAttr = ::Tessark::internal::OvAttribute;

// Owns one strong reference to a Python object (or none). Move-only.
class PyRef {
 public:
  PyRef() noexcept = default;
  // Adopts a new reference (may be null, as returned by a failed API call).
  static PyRef steal(PyObject* obj) noexcept { return PyRef(obj); }
  // Takes a new reference on a borrowed pointer.
  static PyRef newRef(PyObject* obj) noexcept {
    Py_XINCREF(obj);
    return PyRef(obj);
  }
  PyRef(PyRef&& other) noexcept : m_obj(other.m_obj) { other.m_obj = nullptr; }
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      PyObject* old = m_obj;
      m_obj = other.m_obj;
      other.m_obj = nullptr;
      Py_XDECREF(old);
    }
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  // Clears the member before the decref (Py_CLEAR order): a decref can run arbitrary code.
  ~PyRef() { reset(); }

  void reset() noexcept {
    PyObject* old = m_obj;
    m_obj = nullptr;
    Py_XDECREF(old);
  }
  PyObject* get() const noexcept { return m_obj; }
  explicit operator bool() const noexcept { return m_obj != nullptr; }
  // Hands the reference out (return values, reference-stealing APIs).
  PyObject* release() noexcept {
    PyObject* obj = m_obj;
    m_obj = nullptr;
    return obj;
  }

 private:
  explicit PyRef(PyObject* obj) noexcept : m_obj(obj) {}
  PyObject* m_obj = nullptr;
};

// Owns a buffer from PyOS_double_to_string and friends; frees it with PyMem_Free.
class PyMemText {
 public:
  explicit PyMemText(char* text) noexcept : m_text(text) {}
  PyMemText(const PyMemText&) = delete;
  PyMemText& operator=(const PyMemText&) = delete;
  ~PyMemText() { PyMem_Free(m_text); }
  const char* get() const noexcept { return m_text; }
  explicit operator bool() const noexcept { return m_text != nullptr; }

 private:
  char* m_text;
};

// tp_flags of every type of the module. Outside the interpreter's own build the default flags
// leave out the version tag, which turns off the method cache for the type: every `obj.name`
// would then search the dictionaries of the whole class chain. No type's dictionary changes
// after PyType_Ready except through the interpreter, which keeps the cache right.
constexpr long kTypeFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VERSION_TAG;

// The layout of the eight attribute types and their Python subclasses.
struct PyAttribute {
  PyObject_HEAD OvAttr::Attribute* attr;  // owned; null until an initialiser succeeds
};

// GroupBuilder objects: the same shape, owning a library builder.
struct PyGroupBuilder {
  PyObject_HEAD OvAttr::GroupBuilder* builder;  // owned; null until __init__ has run
};

// ConstVector objects: a view of [start, start + length) of one sample.
struct PyConstVector {
  PyObject_HEAD OvAttr::DataAttribute* attr;  // owned; the attribute whose sample is viewed
  void* sample;  // owned OvAttr::ConstVector<T> for the kind of attr; null if empty
  Py_ssize_t start;
  Py_ssize_t length;
};

extern PyTypeObject PyAttribute_Type;
extern PyTypeObject PyDataAttribute_Type;
extern PyTypeObject PyIntAttribute_Type;
extern PyTypeObject PyFloatAttribute_Type;
extern PyTypeObject PyDoubleAttribute_Type;
extern PyTypeObject PyStringAttribute_Type;
extern PyTypeObject PyGroupAttribute_Type;
extern PyTypeObject PyNullAttribute_Type;
extern PyTypeObject PyConstVector_Type;
extern PyTypeObject PyGroupBuilder_Type;

// Method tables of the module (DelimiterEncode, DelimiterDecode) and of its Util submodule.
extern PyMethodDef kModuleMethods[];
extern PyMethodDef kUtilMethods[];

// The handle an attribute object holds; an invalid handle when `self` holds none (made by
// __new__ alone, or left so by a failed initialiser). Borrows self.
const OvAttr::Attribute& HeldAttribute(PyObject* self) noexcept;

// Whether `obj` is an Attribute (of any type that derives from it). Borrows obj.
inline bool IsAttributeObject(PyObject* obj) noexcept {
  // The chain of base types answers without a call for the module's types and their Python
  // subclasses (asked once per child when a builder sets thousands); only a type made in
  // Python that is not found there still needs the full check through its method order.
  PyTypeObject* type = Py_TYPE(obj);
  for (PyTypeObject* base = type; base; base = base->tp_base)
    if (base == &PyAttribute_Type) return true;
  return PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE) && PyType_IsSubtype(type, &PyAttribute_Type);
}

// For the exported functions that make objects: another compiled module may call them before
// any Python code imported PyOvAttribute, when `type` is not readied yet. Imports the module
// (which readies every type) if needed; false with the import's error set.
bool EnsureTypesReady(PyTypeObject* type);

// Lets other Python threads run while library work that touches no Python object goes on, for
// the life of the object, when `worthIt`. Whatever the work reads must be owned by the caller
// (a copied handle, a vector of its own, an immutable str it holds a reference to): without
// the lock another thread may re-initialise the object it came from.
class ReleasedGil {
 public:
  explicit ReleasedGil(bool worthIt) noexcept : m_state(worthIt ? PyEval_SaveThread() : nullptr) {}
  ReleasedGil(const ReleasedGil&) = delete;
  ReleasedGil& operator=(const ReleasedGil&) = delete;
  ~ReleasedGil() {
    if (m_state) PyEval_RestoreThread(m_state);
  }

 private:
  PyThreadState* m_state;
};

// Work on this many bytes pays for giving the lock up and taking it back (about 0.1 us alone,
// several us when another thread is waiting for it): copying, parsing or hashing 1 MiB in the
// binary form takes 30 to 100 us, writing or reading 64 KiB as XML text 200 to 600 us.
constexpr size_t kReleaseGilBytes = size_t{1} << 20;
constexpr size_t kReleaseGilTextBytes = size_t{64} << 10;

// Whether work on `attribute` is worth running without the lock: its own block, or its own and
// its children's, is `threshold` bytes or more.
bool WorthReleasingGil(const OvAttr::Attribute& attribute,
                       size_t threshold = kReleaseGilBytes) noexcept;

// A new str or bytearray holding `size` bytes copied from `data`; a large copy runs without
// the lock (nobody else can see the new object yet). Returns a new reference.
PyObject* NewStringCopy(const char* data, size_t size);
PyObject* NewByteArrayCopy(const char* data, size_t size);

// The attribute's hash; a first computation of a large value runs without the lock.
OvAttr::Hash HashOf(const OvAttr::Attribute& attribute);

// The __getattribute__ of the root types, which Python subclasses take their lookup from: the
// interpreter's own lookup, except that __reduce_ex__ and __reduce__ refuse (module/Reduce.cpp).
// Borrows self and name; returns a new reference.
PyObject* Module_getattro(PyObject* self, PyObject* name);

// Registers `types` with the copy registry (copy_reg.pickle), so that copy, deepcopy, pickle
// and cPickle reduce them through the module. False with the import's or the call's error set.
bool RegisterCopies(PyTypeObject* const* types, size_t count);

// Called only inside a catch-all handler: sets RuntimeError from the exception being handled
// (its what() text, or "Unknown C++ exception caught.").
void SetPyErrFromCppException() noexcept;

// Runs `body`; a C++ exception escaping it becomes a Python RuntimeError and `failure` is
// returned. Every slot and method that calls the library runs inside one.
template <typename Result, typename Body>
Result GuardCpp(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    SetPyErrFromCppException();
    return failure;
  }
}

// A Python text that writePython runs, and its code once compiled (kept for the life of the
// process, like the type objects).
struct WritePythonScript {
  const char* text;
  PyObject* code;
};

// The body of writePython: parses one file argument ("O") and runs `script` with _theAttr
// (self), _theFile and __builtins__ as its namespace. Returns a new reference (the script's
// result), or null with its exception set.
PyObject* RunWritePythonScript(PyObject* self, PyObject* args, WritePythonScript& script);

// Library values to new Python objects. Each returns a new reference.
PyObject* PyObjectFromInt(const int32_t& value);
PyObject* PyObjectFromFloat(const float& value);
PyObject* PyObjectFromDouble(const double& value);
PyObject* PyObjectFromString(const std::string& value);

}  // namespace Tessark::PyOvAttribute::v1
