// The table of the four typed kinds: everything in which IntAttribute, FloatAttribute,
// DoubleAttribute and StringAttribute differ on the Python side, so that their code is written
// once over the library class C.
#pragma once

#include <Python.h>

#include <cstdint>
#include <deque>
#include <string>
#include <type_traits>
#include <vector>

#include "module/Internal.h"
#include "types/TypedConversions.h"

namespace Tessark::PyOvAttribute::v1 {

template <typename C>
using Element = typename C::value_type;

// What converted values point into, kept until the library has copied them: the lists and
// tuples read (for strings, the only references to the text objects whose bytes are borrowed),
// the bytes made for strings, and on 3 the buffer views read.
struct Borrowed {
  std::vector<PyRef> objects;
#if PYOVATTR_PY3
  std::deque<HeldBuffer> buffers;  // a deque: a held view never moves
#endif

  // Keeps `object` (none: nothing); returns it. Borrows nothing.
  PyObject* keep(PyRef object) {
    if (!object) return nullptr;
    objects.push_back(std::move(object));
    return objects.back().get();
  }
};

template <typename C>
struct TypedKind;

// The docstring of getValue (3), given the text of the kind's zero.
#define PYOVATTR_GET_VALUE_DOC(zero)                                                   \
  PYOVATTR_METHOD_DOC("getValue($self, /, defaultValue=" zero                          \
                      ", throwOnError=1)\n--\n\n"                                      \
                      "The first value of the sample nearest to time 0. Without one: " \
                      "RuntimeError, or defaultValue when throwOnError is 0.")

template <>
struct TypedKind<OvAttr::IntAttribute> {
  static constexpr const char* kName = "IntAttribute";
  static constexpr const char* kGetValueDoc = PYOVATTR_GET_VALUE_DOC("0");
  static constexpr const char* kNoFormMessage = "Requires an int, dict or sequence";
  static Conversion convert(PyObject* obj, int32_t* slot, Borrowed& /*borrowed*/) {
    return IntFromPyObject(obj, slot);
  }
  // The common case of a list of plain ints, without a call or any Python code; false leaves
  // the item to convert().
  static bool convertFast(PyObject* item, int32_t* slot) noexcept {
    int64_t value;
#if PYOVATTR_PY3
    if (!ReadSmallInt(item, &value)) {
      if (!PyLong_CheckExact(item)) return false;
      int overflow = 0;
      value = PyLong_AsLongAndOverflow(item, &overflow);
      if (overflow != 0) return false;
    }
#else
    if (!PyInt_CheckExact(item)) return false;
    value = PyInt_AS_LONG(item);
#endif
    if (value < INT32_MIN || value > INT32_MAX) return false;
    *slot = static_cast<int32_t>(value);
    return true;
  }
  static PyObject* fromValue(const int32_t& value) { return PyObjectFromInt(value); }
};

// Float and double differ only in the width of the slot.
template <typename T, Conversion (*Convert)(PyObject*, T*), PyObject* (*FromValue)(const T&),
          const char* Name>
struct FloatingKind {
  static constexpr const char* kName = Name;
  static constexpr const char* kGetValueDoc = PYOVATTR_GET_VALUE_DOC("0.0");
  static constexpr const char* kNoFormMessage = "Requires an float, dict or sequence";
  static Conversion convert(PyObject* obj, T* slot, Borrowed& /*borrowed*/) {
    return Convert(obj, slot);
  }
  // Exact floats and ints convert without Python code; an int goes through double exactly as
  // PyNumber_Float would take it.
  static bool convertFast(PyObject* item, T* slot) noexcept {
    double value;
    if (PyFloat_CheckExact(item)) {
      value = PyFloat_AS_DOUBLE(item);
#if PYOVATTR_PY3
    } else if (PyLong_CheckExact(item)) {
      int overflow = 0;
      const long number = PyLong_AsLongAndOverflow(item, &overflow);
      if (overflow != 0) return false;
      value = static_cast<double>(number);
#else
    } else if (PyInt_CheckExact(item)) {
      value = static_cast<double>(PyInt_AS_LONG(item));
#endif
    } else {
      return false;
    }
    if constexpr (std::is_same_v<T, float>) {
      *slot = NarrowToFloat(value);
    } else {
      *slot = value;
    }
    return true;
  }
  static PyObject* fromValue(const T& value) { return FromValue(value); }
};

inline constexpr char kFloatAttributeName[] = "FloatAttribute";
inline constexpr char kDoubleAttributeName[] = "DoubleAttribute";

template <>
struct TypedKind<OvAttr::FloatAttribute>
    : FloatingKind<float, FloatFromPyObject, PyObjectFromFloat, kFloatAttributeName> {};

template <>
struct TypedKind<OvAttr::DoubleAttribute>
    : FloatingKind<double, DoubleFromPyObject, PyObjectFromDouble, kDoubleAttributeName> {};

template <>
struct TypedKind<OvAttr::StringAttribute> {
  static constexpr const char* kName = "StringAttribute";
  static constexpr const char* kGetValueDoc = PYOVATTR_GET_VALUE_DOC("''");
  static constexpr const char* kNoFormMessage = "Requires a string, dict or sequence";
  // Bytes that had to be made for the text are kept in `borrowed`.
  static Conversion convert(PyObject* obj, const char** slot, Borrowed& borrowed) {
    PyRef holder;
    const Conversion result = StringFromPyObject(obj, slot, &holder);
    borrowed.keep(std::move(holder));
    return result;
  }
  static bool convertFast(PyObject* item, const char** slot) noexcept {
    Platform::StringView text;
    if (!PlainTextBytes(item, &text)) return false;
    *slot = text.data();
    return true;
  }
  static PyObject* fromValue(const std::string& value) { return PyObjectFromString(value); }
};

}  // namespace Tessark::PyOvAttribute::v1
