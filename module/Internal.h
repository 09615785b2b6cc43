// Declarations shared by the module's sources: object layouts and type objects, what an object
// holds and how a method asks for it, the one exception policy, the interpreter lock, the
// copy registry and the value converters. Not installed.
#pragma once

#include <Python.h>

#include <cfloat>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "PyOvAttribute/PyOvAttribute.h"
#include "Tessark/OvAttribute/OvAttribute.h"
#include "module/Compat.h"
#include "module/PyRef.h"

namespace Tessark::PyOvAttribute::v1 {

namespace OvAttr = ::Tessark::internal::OvAttribute;

// ---- Objects and types ------------------------------------------------------------------------

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
#if PYOVATTR_PY3
extern PyTypeObject PyConstVectorIterator_Type;  // not in the module's namespace
#endif

// Method tables of the module (DelimiterEncode, DelimiterDecode) and of its Util submodule.
extern PyMethodDef kModuleMethods[];
extern PyMethodDef kUtilMethods[];

// tp_flags of every type. Outside the interpreter's own build the default flags leave out the
// version tag, which turns off the method cache for the type: every `obj.name` would then
// search the dictionaries of the whole class chain. No type's dictionary changes after
// PyType_Ready except through the interpreter, which keeps the cache right.
constexpr long kTypeFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VERSION_TAG;

// A type object of the module with every slot at the interpreter's default; the caller sets
// the slots of its own. `subclassable` adds Py_TPFLAGS_BASETYPE.
PyTypeObject DefineType(const char* name, Py_ssize_t basicSize, const char* doc, bool subclassable);

// One of the attribute types: PyAttribute instances, subclassable, deriving from `base`.
PyTypeObject DefineAttributeType(const char* name, const char* doc, PyTypeObject* base,
                                 PyMethodDef* methods, initproc init);

// ---- What an object holds ---------------------------------------------------------------------

// The handle an attribute object holds; an invalid handle when `self` holds none (made by
// __new__ alone, or left so by a failed initialiser). Borrows self.
const OvAttr::Attribute& HeldAttribute(PyObject* self) noexcept;

// The view of kind View of self's handle, invalid when self holds no value of that kind.
// Borrows self.
template <typename View>
View ViewOf(PyObject* self) noexcept {
  return View(HeldAttribute(self));
}

// The receiver check of every method: true when `view` is valid, else false with TypeError
// `message` set ("Invalid attr", or the message a method documents).
inline bool Require(const OvAttr::Attribute& view, const char* message) {
  if (view.isValid()) return true;
  PyErr_SetString(PyExc_TypeError, message);
  return false;
}
inline constexpr char kInvalidAttr[] = "Invalid attr";

// The start of every attribute initialiser: true when it may go on. 2.7: the object drops the
// value it holds now (a second __init__ gives it a new one, and a failed one leaves none). 3:
// false with TypeError when the object holds a value already (kInitReplacesValue). Borrows
// self.
bool StartInitialiser(PyObject* self);

// Gives self the handle `value` as an initialiser's last step. 2.7: replaces the handle self
// holds, releasing the old one only once the new one is in place (Python code run by a
// conversion may have called __init__ on self meanwhile; whatever that stored is replaced,
// never leaked). 3: false with TypeError when such a call gave self a value meanwhile, which
// stays. Borrows self.
bool SetHeldAttribute(PyObject* self, OvAttr::Attribute value);
void ClearHeldAttribute(PyObject* self) noexcept;

// The builder self owns, or null with TypeError set when __init__ never ran on self. Borrows
// self.
OvAttr::GroupBuilder* HeldBuilder(PyObject* self) noexcept;

// A child name given as plain text without NUL (PlainTextBytes), viewed where it lies: the
// common call of set and getChildByName, read without the general argument parser (a
// noticeable part of those calls); false for anything else, which goes through the parser, so
// that conversions and errors stay exactly its own. Borrows obj.
inline bool PlainName(PyObject* obj, OvAttr::Platform::StringView* name) noexcept {
  OvAttr::Platform::StringView text;
  if (!PlainTextBytes(obj, &text) || std::memchr(text.data(), '\0', text.size())) return false;
  *name = text;
  return true;
}

// The text of child `index`'s name, cut at its first NUL (types/GroupAttribute.cpp). Returns a
// new reference.
PyObject* ChildNameText(const OvAttr::GroupAttribute& group, int64_t index);

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

// ---- C++ exceptions ---------------------------------------------------------------------------

// Called only inside a catch-all handler: sets RuntimeError from the exception being handled
// (its what() text, or "Unknown C++ exception caught.").
void SetPyErrFromCppException() noexcept;

// What a call reports for the exceptions the library may throw.
enum class Failures {
  // The rule of the module: std::bad_alloc is the interpreter's MemoryError; any other
  // exception a RuntimeError (SetPyErrFromCppException).
  kDefault,
  // Calls whose documented contract hands every exception, bad_alloc included, to
  // SetPyErrFromCppException: getBinary, parseBinary, the Util functions, getValue.
  kTranslated,
};

// Runs `body`; a C++ exception escaping it becomes a Python error as `failures` says and
// `failure` is returned. Every slot and method that calls the library runs inside one; a call
// that documents an error of its own for the library's std::runtime_error family (parseXML's
// ValueError) catches that family inside `body`.
template <typename Result, typename Body>
Result GuardCpp(Result failure, Body&& body, Failures failures = Failures::kDefault) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    if (failures == Failures::kTranslated)
      SetPyErrFromCppException();
    else
      PyErr_NoMemory();
  } catch (...) {
    SetPyErrFromCppException();
  }
  return failure;
}

// ---- The interpreter lock ---------------------------------------------------------------------

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

// The attribute's hash; a first computation of a large value runs without the lock.
OvAttr::Hash HashOf(const OvAttr::Attribute& attribute);

// ---- Copies and pickles (module/Reduce.cpp) ---------------------------------------------------

// The __getattribute__ of the root types, which Python subclasses take their lookup from: the
// interpreter's own lookup, except that __reduce_ex__ and __reduce__ refuse. Borrows self and
// name; returns a new reference.
PyObject* Module_getattro(PyObject* self, PyObject* name);

// Registers `types` with the copy registry (copy_reg.pickle; 3: copyreg.pickle), so that
// copy, deepcopy, pickle and cPickle reduce them through the module. False with the import's or the
// call's error set.
bool RegisterCopies(PyTypeObject* const* types, size_t count);

// ---- writePython ------------------------------------------------------------------------------

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

// ---- Values -----------------------------------------------------------------------------------

// Library values to new Python objects. Each returns a new reference.
PyObject* PyObjectFromInt(const int32_t& value);
PyObject* PyObjectFromFloat(const float& value);
PyObject* PyObjectFromDouble(const double& value);
PyObject* PyObjectFromString(const std::string& value);

// One element of a sample as a new Python object: the 2.7 int or 3 int, a float, or text up to
// the string's NUL (a null string is ""). Each returns a new reference.
inline PyObject* ElementObject(int32_t value) { return NewInt(value); }
inline PyObject* ElementObject(float value) {
  return PyFloat_FromDouble(static_cast<double>(value));
}
inline PyObject* ElementObject(double value) { return PyFloat_FromDouble(value); }
inline PyObject* ElementObject(const char* value) { return NewText(value ? value : ""); }

// The nearest 32-bit float to `value`, rounding as IEEE arithmetic does also beyond the float
// range, where a plain conversion is undefined in C++: past FLT_MAX by half a unit or more is
// an infinity. On x86-64 the processor's conversion is exactly that, and the intrinsic that
// asks for it is defined for every value; it is one instruction in the construction loops.
inline float NarrowToFloat(double value) noexcept {
#if defined(__SSE2__)
  return _mm_cvtss_f32(_mm_cvtsd_ss(_mm_setzero_ps(), _mm_set_sd(value)));
#else
  if (std::isfinite(value) && std::fabs(value) > FLT_MAX) {
    // 2^128 - 2^103: half-way between FLT_MAX and 2^128; a tie rounds to even, the infinity.
    const double halfWay = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);
    const float magnitude = std::fabs(value) < halfWay ? FLT_MAX : INFINITY;
    return std::signbit(value) ? -magnitude : magnitude;
  }
  return static_cast<float>(value);
#endif
}

// `value` as a 32-bit integer, or false with OverflowError set: a C long is 64 bits wide here,
// so even a plain int can miss the type, and narrowing silently would store another number.
bool ToInt32(long value, int32_t* out);

}  // namespace Tessark::PyOvAttribute::v1
