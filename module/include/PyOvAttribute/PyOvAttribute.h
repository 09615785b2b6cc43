// The functions through which other compiled extension modules hand attributes to Python and
// take them back. Link against PyOvAttribute.so and hold the interpreter lock when calling.
#pragma once

#include <Python.h>

#include "Tessark/OvAttribute/OvAttribute.h"

#if defined(__GNUC__) || defined(__clang__)
#define PYOVATTR_API __attribute__((visibility("default")))
#else
#define PYOVATTR_API
#endif

namespace Tessark::PyOvAttribute::v1 {

// The handle that `obj` holds when it is an instance of PyOvAttribute.Attribute or of any
// subclass (a copy sharing the value); otherwise an invalid handle. Borrows `obj`, which must
// not be null; never sets a Python error.
PYOVATTR_API Tessark::internal::OvAttribute::Attribute AttributeFromPyObject(PyObject* obj);

// A new object of the module's own type for the attribute's kind (never a subclass), sharing
// its value; None for an invalid handle or an unknown kind. Returns a new reference, or null
// with MemoryError set.
PYOVATTR_API PyObject* PyAttributeFromAttribute(
    const Tessark::internal::OvAttribute::Attribute& attribute);

// A new PyOvAttribute.ConstVector over the sample of `attribute` nearest to `time`; the empty
// vector for an attribute that is not integer, float, double or string data. Returns a new
// reference, or null with MemoryError set.
PYOVATTR_API PyObject* PyConstVectorFromDataAttribute(
    const Tessark::internal::OvAttribute::DataAttribute& attribute, float time);

// Marks the module's shared object as one that exports this interface. Always 0.
extern PYOVATTR_API int _tessark_dummy_dll_export;

}  // namespace Tessark::PyOvAttribute::v1
