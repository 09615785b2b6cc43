// What differs between CPython 2.7 and CPython 3.8 or newer, said once: text and bytes, the
// integer type, buffers, module creation, docstrings and the initialiser rule. Every type,
// method and converter of the module is written once against these names; the few places that
// exist on one interpreter only (rich comparison, buffers, iterators and mappings on 3;
// tp_compare and sq_slice on 2.7) test PYOVATTR_PY3.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "Tessark/Platform/StringView.h"
#include "module/PyRef.h"

#if PY_MAJOR_VERSION >= 3
#define PYOVATTR_PY3 1
#else
#define PYOVATTR_PY3 0
#endif

// A docstring that 2.7 keeps as the module always had it (`py2`, for methods always "") and
// that Python 3 gets in full (`py3`, starting with a text signature where there is one).
#if PYOVATTR_PY3
#define PYOVATTR_DOC(py2, py3) py3
#else
#define PYOVATTR_DOC(py2, py3) py2
#endif
#define PYOVATTR_METHOD_DOC(py3) PYOVATTR_DOC("", py3)

namespace Tessark::PyOvAttribute::v1 {

namespace Platform = ::Tessark::internal::Platform;

// ---- Values of the interpreter ---------------------------------------------------------------

#if PYOVATTR_PY3
using HashValue = Py_hash_t;
#else
using HashValue = long;
#endif

// 2.7: an attribute's __init__ called again gives it a new value. 3: an attribute is a value
// (a dictionary key must not change under the dictionary), so __init__ refuses an object that
// holds one already.
constexpr bool kInitReplacesValue = !PYOVATTR_PY3;

// The integer type: 2.7 int (a C long), 3 int.
inline bool IsInt(PyObject* obj) noexcept {
#if PYOVATTR_PY3
  return PyLong_Check(obj);
#else
  return PyInt_Check(obj);
#endif
}

// The C long of an object for which IsInt holds. On 3 an int beyond a C long fails with the
// interpreter's OverflowError, as a 2.7 long does where a long is read.
inline bool IntValue(PyObject* obj, long* value) {
#if PYOVATTR_PY3
  *value = PyLong_AsLong(obj);
  return !(*value == -1 && PyErr_Occurred());
#else
  *value = PyInt_AS_LONG(obj);
  return true;
#endif
}

// New integers. Each returns a new reference.
inline PyObject* NewInt(long value) {
#if PYOVATTR_PY3
  return PyLong_FromLong(value);
#else
  return PyInt_FromLong(value);
#endif
}
inline PyObject* NewIndex(Py_ssize_t value) {
#if PYOVATTR_PY3
  return PyLong_FromSsize_t(value);
#else
  return PyInt_FromSsize_t(value);
#endif
}
// 2.7: an int, or a long when the value does not fit one; 3: an int.
inline PyObject* NewUnsigned(size_t value) {
#if PYOVATTR_PY3
  return PyLong_FromSize_t(value);
#else
  return PyInt_FromSize_t(value);
#endif
}

// Number objects that an iterator can give the next value in place, when it holds their only
// reference again (the loop variable has moved on): nothing else can see them, as for the
// tuples that the interpreter's own iterators reuse. NewReusableInt makes an int with room
// for the digits of any 32-bit value (on interpreters whose layout the module knows, 3.8 to
// 3.13; elsewhere a plain int). ReuseNumberObject gives `obj`, made by NewReusableInt or a
// float, the value `value` when its only reference is the caller's and it is not one of the
// interpreter's shared small ints; false, with nothing changed, otherwise.
PyObject* NewReusableInt(int32_t value);  // a new reference

#if PYOVATTR_PY3 && PY_VERSION_HEX < 0x030E0000 && !defined(Py_GIL_DISABLED)
#define PYOVATTR_REUSE_INTS 1
namespace detail {

// Digits of the widest 32-bit value.
constexpr Py_ssize_t kWideDigits = (32 + PyLong_SHIFT - 1) / PyLong_SHIFT;

// Whether `value` is one of the interpreter's shared small ints, the only objects of their
// values.
inline bool IsSmallInt(int32_t value) noexcept { return value >= -5 && value <= 256; }

// Writes `value` (no small int, so not 0) into an int with room for kWideDigits digits;
// without branches on the value, which a loop over random numbers would mispredict.
inline void WriteInt(PyLongObject* number, int32_t value) noexcept {
  const int64_t wide = value;
  const auto magnitude = static_cast<uint64_t>(wide < 0 ? -wide : wide);
  Py_ssize_t count = 1;
  for (Py_ssize_t i = 1; i < kWideDigits; ++i) count += (magnitude >> (i * PyLong_SHIFT)) != 0;
#if PY_VERSION_HEX >= 0x030C0000
  // 3.12 and 3.13: lv_tag holds the digit count above the sign bits (0 positive, 2 negative).
  number->long_value.lv_tag = (static_cast<uintptr_t>(count) << _PyLong_NON_SIZE_BITS) |
                              (static_cast<uintptr_t>(value < 0) << 1);
  digit* digits = number->long_value.ob_digit;
#else
  // 3.8 to 3.11: the size is the digit count, negative for a negative number.
  reinterpret_cast<PyVarObject*>(number)->ob_size = value < 0 ? -count : count;
  digit* digits = number->ob_digit;
#endif
  for (Py_ssize_t i = 0; i < kWideDigits; ++i)
    digits[i] = static_cast<digit>((magnitude >> (i * PyLong_SHIFT)) & PyLong_MASK);
}

}  // namespace detail
#else
#define PYOVATTR_REUSE_INTS 0
#endif

// The value of an exact int of at most kWideDigits digits, read from its digits without a
// call; false for any other object (the caller then converts it the general way).
inline bool ReadSmallInt(PyObject* obj, int64_t* value) noexcept {
#if PYOVATTR_REUSE_INTS
  if (!PyLong_CheckExact(obj)) return false;
  const auto* number = reinterpret_cast<const PyLongObject*>(obj);
#if PY_VERSION_HEX >= 0x030C0000
  const uintptr_t tag = number->long_value.lv_tag;
  const auto count = static_cast<Py_ssize_t>(tag >> _PyLong_NON_SIZE_BITS);
  const bool negative = (tag & _PyLong_SIGN_MASK) == 2;
  const digit* digits = number->long_value.ob_digit;
#else
  const Py_ssize_t size = Py_SIZE(obj);
  const Py_ssize_t count = size < 0 ? -size : size;
  const bool negative = size < 0;
  const digit* digits = number->ob_digit;
#endif
  if (count > detail::kWideDigits) return false;
  uint64_t magnitude = 0;
  if (count == 0) {
    // Zero: no digit to read.
  } else if constexpr (detail::kWideDigits == 2) {
    // One or two digits, read without a branch on how many (a list of random numbers has both
    // at random): the second read is of digit 0 again when there is one digit.
    const uint64_t high = digits[count >> 1] & (0 - static_cast<uint64_t>(count >> 1));
    magnitude = digits[0] | (high << PyLong_SHIFT);
  } else {
    for (Py_ssize_t i = 0; i < count; ++i)
      magnitude |= static_cast<uint64_t>(digits[i]) << (i * PyLong_SHIFT);
  }
  const int64_t sign = -static_cast<int64_t>(negative);  // 0 or -1: the sign, branch-free too
  *value = (static_cast<int64_t>(magnitude) ^ sign) - sign;
  return true;
#else
  (void)obj;
  (void)value;
  return false;
#endif
}

inline bool ReuseNumberObject(PyObject* obj, int32_t value) noexcept {
#if PYOVATTR_REUSE_INTS
  if (Py_REFCNT(obj) != 1 || !PyLong_CheckExact(obj) || detail::IsSmallInt(value)) return false;
  detail::WriteInt(reinterpret_cast<PyLongObject*>(obj), value);
  return true;
#else
  (void)obj;
  (void)value;
  return false;
#endif
}

inline bool ReuseNumberObject(PyObject* obj, double value) noexcept {
#if PYOVATTR_PY3 && !defined(Py_GIL_DISABLED)
  if (Py_REFCNT(obj) != 1 || !PyFloat_CheckExact(obj)) return false;
  reinterpret_cast<PyFloatObject*>(obj)->ob_fval = value;
  return true;
#else
  (void)obj;
  (void)value;
  return false;
#endif
}

inline bool ReuseNumberObject(PyObject* obj, float value) noexcept {
  return ReuseNumberObject(obj, static_cast<double>(value));
}

// ---- Text and bytes ---------------------------------------------------------------------------
// Library strings are bytes. 2.7 hands them over as str. 3 takes str (as UTF-8; a lone
// surrogate from surrogateescape as the byte it stands for) or bytes (as they are), and gives
// str back, decoded as UTF-8 with surrogateescape, so that any bytes survive the round trip.

// Whether `obj` is text: 2.7 str; 3 str or bytes; subclasses included. Borrows obj.
inline bool IsText(PyObject* obj) noexcept {
#if PYOVATTR_PY3
  return PyUnicode_Check(obj) || PyBytes_Check(obj);
#else
  return PyString_Check(obj);
#endif
}

// The bytes of text `obj` (IsText holds), viewed where they lie, NUL-terminated (they may hold
// NUL bytes before the end). On 3 a str is read as its UTF-8 form, which the str keeps; one
// holding surrogates is encoded with surrogateescape into a new bytes object that `holder`
// keeps. False with the error set (a surrogate outside the escaped range: UnicodeEncodeError).
// Borrows obj: the view lives as long as obj and holder.
bool TextBytes(PyObject* obj, Platform::StringView* out, PyRef* holder);

// As TextBytes for the common case only, without a call or an error: exact 3 str of ASCII
// characters, exact bytes, exact 2.7 str. False for anything else. Borrows obj.
inline bool PlainTextBytes(PyObject* obj, Platform::StringView* out) noexcept {
#if PYOVATTR_PY3
  if (PyUnicode_CheckExact(obj) && PyUnicode_IS_COMPACT_ASCII(obj)) {
    *out = Platform::StringView(static_cast<const char*>(PyUnicode_DATA(obj)),
                                static_cast<size_t>(PyUnicode_GET_LENGTH(obj)));
    return true;
  }
  if (!PyBytes_CheckExact(obj)) return false;
  *out = Platform::StringView(PyBytes_AS_STRING(obj), static_cast<size_t>(PyBytes_GET_SIZE(obj)));
#else
  if (!PyString_CheckExact(obj)) return false;
  *out = Platform::StringView(PyString_AS_STRING(obj), static_cast<size_t>(PyString_GET_SIZE(obj)));
#endif
  return true;
}

// A name the interpreter hands to a slot (an attribute name), as a C string; null, without an
// error, when it is not text. Borrows name.
const char* NameText(PyObject* name) noexcept;

// A new text object holding `size` bytes (2.7 str; 3 str decoded as UTF-8 with
// surrogateescape), and the same up to a C string's NUL. Return a new reference.
PyObject* NewText(const char* data, size_t size);
PyObject* NewText(const char* cString);

// A new interned text object, for names the module looks up often. Returns a new reference.
inline PyObject* NewInternedText(const char* name) {
#if PYOVATTR_PY3
  return PyUnicode_InternFromString(name);
#else
  return PyString_InternFromString(name);
#endif
}

// Bytes, copied: 2.7 str; 3 bytes. A large copy runs without the interpreter lock (nobody else
// can see the new object yet). Returns a new reference.
PyObject* NewBytes(const char* data, size_t size);
// The binary form of an attribute, copied: 2.7 bytearray (the module's type for it); 3 bytes.
// Returns a new reference.
PyObject* NewBinary(const char* data, size_t size);

// One text argument for PyArg_ParseTuple, through PYOVATTR_TEXT in the format and
// PYOVATTR_TEXT_ARG(arg) among the pointers: 2.7 keeps the "s" format exactly as it was (str,
// or unicode through the default encoding, no NUL); 3 takes str or bytes without NUL bytes and
// refuses anything else with TypeError, as 2.7's "s" does.
struct TextArg {
#if PYOVATTR_PY3
  Platform::StringView view;
  PyRef holder;  // what TextBytes made, if anything
  Platform::StringView get() const noexcept { return view; }
#else
  const char* text = nullptr;
  Platform::StringView get() const noexcept { return Platform::StringView(text); }
#endif
};
#if PYOVATTR_PY3
// PyArg_ParseTuple's "O&" converter of a TextArg. Borrows obj.
int ConvertTextArg(PyObject* obj, void* arg);
#define PYOVATTR_TEXT "O&"
#define PYOVATTR_TEXT_ARG(arg) ConvertTextArg, &(arg)
#else
#define PYOVATTR_TEXT "s"
#define PYOVATTR_TEXT_ARG(arg) &(arg).text
#endif

// ---- Modules and code ------------------------------------------------------------------------

// A new module `name` of `methods` and `doc`, registered in sys.modules under its name (so
// that `import PyOvAttribute.Util` finds the submodule). Returns a new reference.
PyObject* NewSubmodule(const char* name, PyMethodDef* methods, const char* doc);

// The name of the module the copy registry lives in.
#if PYOVATTR_PY3
constexpr const char kCopyRegistry[] = "copyreg";
#else
constexpr const char kCopyRegistry[] = "copy_reg";
#endif

// Runs compiled code in `globals`. Returns a new reference.
inline PyObject* EvalCode(PyObject* code, PyObject* globals) {
#if PYOVATTR_PY3
  return PyEval_EvalCode(code, globals, globals);
#else
  return PyEval_EvalCode(reinterpret_cast<PyCodeObject*>(code), globals, globals);
#endif
}

// Raises `type` with `text`; on 3, with the library's own reason `cause` set as the exception's
// __cause__ (a ValueError), so that a traceback says what was wrong and where. 2.7 keeps the
// fixed text alone.
void RaiseWithCause(PyObject* type, const char* text, const char* cause);

#if PYOVATTR_PY3
// ---- Buffers (3 only) -------------------------------------------------------------------------

// A buffer view held for the life of the object: acquired with PyObject_GetBuffer, released
// (which may run Python code) by the destructor. It never moves, since exporters may point the
// view's own fields into it.
class HeldBuffer {
 public:
  HeldBuffer() noexcept = default;
  HeldBuffer(const HeldBuffer&) = delete;
  HeldBuffer& operator=(const HeldBuffer&) = delete;
  ~HeldBuffer() {
    if (m_held) PyBuffer_Release(&m_view);
  }
  // False with the exporter's error set. Borrows obj; the view holds its own reference.
  bool acquire(PyObject* obj, int flags) {
    m_held = PyObject_GetBuffer(obj, &m_view, flags) == 0;
    return m_held;
  }
  const Py_buffer& view() const noexcept { return m_view; }

 private:
  Py_buffer m_view{};
  bool m_held = false;
};
#endif

}  // namespace Tessark::PyOvAttribute::v1
