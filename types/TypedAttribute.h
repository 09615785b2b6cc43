// The code of IntAttribute, FloatAttribute, DoubleAttribute and StringAttribute, written once
// over the library class C: the initialiser, the read methods and their method table, and the
// type object made of them. Each kind's source names its class and its texts.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "module/Internal.h"
#include "types/Collectors.h"
#include "types/TypedKinds.h"

namespace Tessark::PyOvAttribute::v1 {

// The one-sample constructor of the kind: numbers take a context and release function (none
// here, so the library copies before it returns), strings do not.
template <typename C>
C MakeFromValues(const Element<C>* values, int64_t count, int64_t tupleSize) {
  if constexpr (std::is_same_v<Element<C>, const char*>) {
    return C(values, count, tupleSize);
  } else {
    return C(values, count, tupleSize, nullptr, nullptr);
  }
}

#if PYOVATTR_PY3
// The buffer form (3): `numbers` of a view the caller holds, converted in one pass, or for a
// buffer of the kind's own element type handed to the library as it is, for one copy. Large
// values are converted and copied without the lock: the view keeps the memory. Returns the
// attribute, or an invalid one with OverflowError set. Throws std::bad_alloc.
template <typename C>
C MakeFromBuffer(const BufferNumbers& numbers, int64_t tupleSize) {
  using T = Element<C>;
  const auto count = static_cast<int64_t>(numbers.count);
  Py_ssize_t bad = -1;
  C built;
  {
    ReleasedGil released(static_cast<size_t>(numbers.count) * numbers.size >= kReleaseGilBytes);
    if (numbers.isStoredAs<T>()) {
      built = MakeFromValues<C>(static_cast<const T*>(numbers.data), count, tupleSize);
    } else {
      ScratchVector<T> values(static_cast<size_t>(numbers.count));
      bad = ConvertBufferNumbers(numbers, values.data());
      if (bad < 0) built = MakeFromValues<C>(values.data(), count, tupleSize);
    }
  }
  if (bad >= 0) RaiseBufferOverflow(numbers, bad);
  return built;
}
#endif

// tp_init of the four kinds: IntAttribute(attrdata, tupleSize=1) and the like. `attrdata` is
// one value, a dictionary of time: sequence, or a sequence; on 3, for numbers, a buffer too,
// also as a dictionary's value. On failure the object holds no handle, even if it held one
// before (2.7; on 3 an object that holds one refuses a second __init__).
template <typename C>
int InitTypedAttribute(PyObject* self, PyObject* args, PyObject* kwds) {
  using Kind = TypedKind<C>;
  using T = Element<C>;
  // A repeated __init__ gives the object a new value: the old handle goes now, not at exit.
  if (!StartInitialiser(self)) return -1;

  return GuardCpp(-1, [&]() -> int {
    static const char* keywords[] = {"attrdata", "tupleSize", nullptr};
    PyObject* attrdata = nullptr;
    PY_LONG_LONG tupleSize = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O|L", const_cast<char**>(keywords), &attrdata,
                                     &tupleSize)) {
      return -1;
    }

    // The library copies from the call's own arrays (strings from text objects that borrowed
    // holds), so other threads may run meanwhile.
    Borrowed borrowed;  // declared first: it must outlive the library call
    C built;
#if PYOVATTR_PY3
    // Before the scalar form, which would take a one-value array as its number.
    if constexpr (!OvAttr::detail::kIsString<T>) {
      if (IsNumberBuffer(attrdata)) {
        BufferNumbers numbers;
        if (!ReadBufferNumbers(attrdata, borrowed.buffers.emplace_back(), Kind::kName,
                               std::is_integral_v<T>, &numbers))
          return -1;
        built = MakeFromBuffer<C>(numbers, tupleSize);
        return built.isValid() && SetHeldAttribute(self, std::move(built)) ? 0 : -1;
      }
    }
#endif

    T scalar{};
    switch (Kind::convert(attrdata, &scalar, borrowed)) {
      case Conversion::kDone:
        return SetHeldAttribute(self, C(scalar)) ? 0 : -1;
      case Conversion::kRefused:
        break;
      case Conversion::kFailed: {
        // An object that is a number and a sequence at once (an old-style instance, an array
        // type) may fail as a number yet read fine as a sequence. The checks run with the
        // error put aside, since they may call Python code.
        PendingError error;
        if (PyDict_Check(attrdata) || PySequence_Check(attrdata)) break;
        error.restore();
        return -1;
      }
    }

    if (PyDict_Check(attrdata)) {
      Samples<T> samples;
      const Conversion result = SamplesFromPyDict<C>(attrdata, samples, borrowed);
      if (result == Conversion::kFailed) return -1;
      if (result == Conversion::kDone) {
        ReleasedGil released(samples.values.size() * sizeof(T) >= kReleaseGilBytes);
        built = C(samples.times.data(), static_cast<int64_t>(samples.times.size()),
                  samples.rows.data(), samples.valueCount, tupleSize, nullptr, nullptr);
      }
    } else if (PySequence_Check(attrdata)) {
      ScratchVector<T> values;
      const Conversion result = VectorFromPySequence<C>(attrdata, values, borrowed);
      if (result == Conversion::kFailed) return -1;
      if (result == Conversion::kDone) {
        ReleasedGil released(values.size() * sizeof(T) >= kReleaseGilBytes);
        built = MakeFromValues<C>(values.data(), static_cast<int64_t>(values.size()), tupleSize);
      }
    }
    if (!built.isValid()) {
      PyErr_SetString(PyExc_TypeError, Kind::kNoFormMessage);
      return -1;
    }
    return SetHeldAttribute(self, std::move(built)) ? 0 : -1;
  });
}

// The error of every typed read method on an object that does not hold an attribute of its
// kind.
inline constexpr char kInvalidTypedAttribute[] = "Underyling Attribute is invalid.";

// getData(): the sample nearest to time 0. Returns a new reference.
template <typename C>
PyObject* TypedAttribute_getData(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto view = ViewOf<C>(self);
    if (!Require(view, kInvalidTypedAttribute)) return nullptr;
    return PyConstVectorFromDataAttribute(view, 0.0f);
  });
}

// getSamples(): {time: ConstVector} over every sample, the keys the 32-bit times widened.
// Returns a new reference.
template <typename C>
PyObject* TypedAttribute_getSamples(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto view = ViewOf<C>(self);
    if (!Require(view, kInvalidTypedAttribute)) return nullptr;
    PyRef samples = PyRef::steal(PyDict_New());
    if (!samples) return nullptr;
    const int64_t count = view.getNumberOfTimeSamples();
    for (int64_t i = 0; i < count; ++i) {
      const float time = view.getSampleTime(i);
      PyRef key = PyRef::steal(PyFloat_FromDouble(time));
      if (!key) return nullptr;
      PyRef vector = PyRef::steal(PyConstVectorFromDataAttribute(view, time));
      if (!vector) return nullptr;
      if (PyDict_SetItem(samples.get(), key.get(), vector.get()) < 0) return nullptr;
    }
    return samples.release();
  });
}

// getNearestSample(time): the sample nearest to a 32-bit time. Returns a new reference.
template <typename C>
PyObject* TypedAttribute_getNearestSample(PyObject* self, PyObject* args) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto view = ViewOf<C>(self);
    if (!Require(view, kInvalidTypedAttribute)) return nullptr;
    float time = 0.0f;
    if (!PyArg_ParseTuple(args, "f", &time)) return nullptr;
    return PyConstVectorFromDataAttribute(view, time);
  });
}

// getValue(defaultValue=<kind's zero>, throwOnError=1): the library's single value, with the
// default converted like an element. Returns a new reference.
template <typename C>
PyObject* GetTypedValue(PyObject* self, PyObject* args, PyObject* kwds) {
  using Kind = TypedKind<C>;
  // The library's exceptions reach the caller as RuntimeError with their message.
  return GuardCpp<PyObject*>(
      nullptr,
      [&]() -> PyObject* {
        const auto view = ViewOf<C>(self);
        if (!Require(view, kInvalidTypedAttribute)) return nullptr;
        static const char* keywords[] = {"defaultValue", "throwOnError", nullptr};
        PyObject* defaultObject = nullptr;
        int throwOnError = 1;
        if (!PyArg_ParseTupleAndKeywords(args, kwds, "|Oi", const_cast<char**>(keywords),
                                         &defaultObject, &throwOnError)) {
          return nullptr;
        }
        typename C::ValueType fallback{};
        if (defaultObject != nullptr) {
          Element<C> converted{};
          Borrowed borrowed;
          switch (Kind::convert(defaultObject, &converted, borrowed)) {
            case Conversion::kDone:
              // A string default is copied up to its first NUL, so the object need not outlive
              // the call.
              fallback = converted;
              break;
            case Conversion::kRefused:
              PyErr_SetString(PyExc_TypeError, "Invalid type provided for default value.");
              return nullptr;
            case Conversion::kFailed:
              return nullptr;
          }
        }
        return Kind::fromValue(view.getValue(fallback, throwOnError != 0));
      },
      Failures::kTranslated);
}

// The method table of each of the four kinds.
template <typename C>
PyMethodDef kTypedAttributeMethods[] = {
    {"getData", TypedAttribute_getData<C>, METH_NOARGS,
     PYOVATTR_METHOD_DOC("getData($self, /)\n--\n\n"
                         "The values of the sample nearest to time 0, as a ConstVector.")},
    {"getSamples", TypedAttribute_getSamples<C>, METH_NOARGS,
     PYOVATTR_METHOD_DOC("getSamples($self, /)\n--\n\n"
                         "Every sample as a dict of time: ConstVector, in ascending time order.")},
    {"getNearestSample", TypedAttribute_getNearestSample<C>, METH_VARARGS,
     PYOVATTR_METHOD_DOC("getNearestSample($self, time, /)\n--\n\n"
                         "The values of the sample nearest to time (the earlier one on a tie), "
                         "as a ConstVector.")},
    {"getValue", reinterpret_cast<PyCFunction>(GetTypedValue<C>), METH_VARARGS | METH_KEYWORDS,
     TypedKind<C>::kGetValueDoc},
    {nullptr, nullptr, 0, nullptr},
};

// The type object of kind C.
template <typename C>
PyTypeObject DefineTypedAttributeType(const char* name, const char* doc) {
  return DefineAttributeType(name, doc, &PyDataAttribute_Type, kTypedAttributeMethods<C>,
                             InitTypedAttribute<C>);
}

}  // namespace Tessark::PyOvAttribute::v1
