// Element converters: one Python object to one value of a typed data attribute. Used by the
// typed initialisers (every element, and the scalar form) and by getValue for its default.
#pragma once

#include <Python.h>

#include <cstdint>

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

// How a conversion ended. A converter answers kRefused, without a Python error and with the
// slot untouched, for an object of a kind it does not take, so that the caller can try its
// next form or report its own message. kFailed means the object was of an accepted kind but
// its own conversion raised (a complex to int, NaN to int, an __int__ that raises, a value
// outside 32 bits): the Python error is set and the caller reports that error unchanged, so
// nothing goes on with a missing value.
enum class Conversion {
  kDone,
  kRefused,
  kFailed,
};

// int and subclasses (bool included), long and subclasses, then anything PyNumber_Check
// accepts through PyNumber_Long (floats truncate toward zero); on 3, where int is the one
// integer type, anything else through PyNumber_Index, so that a float fails with TypeError as
// in the interpreter's own array.array. Values outside the signed 32-bit range fail with
// OverflowError: narrowing them silently would store another number. Borrows obj.
Conversion IntFromPyObject(PyObject* obj, int32_t* slot);

// float and subclasses, then anything PyNumber_Check accepts through PyNumber_Float; the
// double is rounded to the nearest 32-bit float (beyond its range: an infinity). Borrows obj.
Conversion FloatFromPyObject(PyObject* obj, float* slot);

// As FloatFromPyObject, keeping the double. Borrows obj.
Conversion DoubleFromPyObject(PyObject* obj, double* slot);

// Text (IsText: 2.7 str and subclasses, never unicode; 3 str or bytes). The slot receives the
// bytes where they lie (TextBytes), ending at their first NUL, which live only as long as the
// object and `holder` (which receives what had to be made): the caller keeps both alive while
// it uses the pointer. Borrows obj.
Conversion StringFromPyObject(PyObject* obj, const char** slot, PyRef* holder);

// A sample time from a dictionary key: float and subclasses directly, else anything
// PyNumber_Check accepts through PyNumber_Float, rounded to the nearest 32-bit float. NaN
// fails with ValueError, since it has no place among ascending times. Borrows key.
Conversion SampleTimeFromPyObject(PyObject* key, float* time);

}  // namespace Tessark::PyOvAttribute::v1
