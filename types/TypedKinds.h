// The table of the four typed kinds: everything in which IntAttribute, FloatAttribute,
// DoubleAttribute and StringAttribute differ on the Python side, so that their code is written
// once over the library class C.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>
#include <type_traits>

#include "module/Internal.h"
#include "types/TypedConversions.h"

namespace Tessark::PyOvAttribute::v1 {

template <typename C>
using Element = typename C::value_type;

template <typename C>
struct TypedKind;

template <>
struct TypedKind<OvAttr::IntAttribute> {
  static constexpr const char* kNoFormMessage = "Requires an int, dict or sequence";
  static Conversion convert(PyObject* obj, int32_t* slot) { return IntFromPyObject(obj, slot); }
  // The common case of a list of plain ints, without a call or any Python code; false leaves
  // the item to convert().
  static bool convertFast(PyObject* item, int32_t* slot) noexcept {
    if (!PyInt_CheckExact(item)) return false;
    const long value = PyInt_AS_LONG(item);
    if (value < INT32_MIN || value > INT32_MAX) return false;
    *slot = static_cast<int32_t>(value);
    return true;
  }
  static PyObject* fromValue(const int32_t& value) { return PyObjectFromInt(value); }
};

// Float and double differ only in the width of the slot.
template <typename T, Conversion (*Convert)(PyObject*, T*), PyObject* (*FromValue)(const T&)>
struct FloatingKind {
  static constexpr const char* kNoFormMessage = "Requires an float, dict or sequence";
  static Conversion convert(PyObject* obj, T* slot) { return Convert(obj, slot); }
  // Exact floats and ints convert without Python code; an int goes through double exactly as
  // PyNumber_Float would take it.
  static bool convertFast(PyObject* item, T* slot) noexcept {
    double value;
    if (PyFloat_CheckExact(item)) {
      value = PyFloat_AS_DOUBLE(item);
    } else if (PyInt_CheckExact(item)) {
      value = static_cast<double>(PyInt_AS_LONG(item));
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

template <>
struct TypedKind<OvAttr::FloatAttribute>
    : FloatingKind<float, FloatFromPyObject, PyObjectFromFloat> {};

template <>
struct TypedKind<OvAttr::DoubleAttribute>
    : FloatingKind<double, DoubleFromPyObject, PyObjectFromDouble> {};

template <>
struct TypedKind<OvAttr::StringAttribute> {
  static constexpr const char* kNoFormMessage = "Requires a string, dict or sequence";
  static Conversion convert(PyObject* obj, const char** slot) {
    return StringFromPyObject(obj, slot);
  }
  static bool convertFast(PyObject* item, const char** slot) noexcept {
    if (!PyString_CheckExact(item)) return false;
    *slot = PyString_AS_STRING(item);
    return true;
  }
  static PyObject* fromValue(const std::string& value) { return PyObjectFromString(value); }
};

}  // namespace Tessark::PyOvAttribute::v1
