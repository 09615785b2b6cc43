// PyOvAttribute.ConstVector: a read-only sequence over the values of one time sample, made
// only by this module (the typed read methods, PyConstVectorFromDataAttribute, slicing).
//
// A vector owns a DataAttribute handle and a library sample vector, so it outlives the
// attribute object it came from, and it never copies values: slices share the sample, and
// element objects are made on access. The kind is not stored; it is the type tag of `attr`
// (an invalid handle marks the empty vector, which has no sample).

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

// Calls visit(KindTag<T>{}) for the element type T of the vector's kind; `otherwise` for the
// empty vector, which has no kind.
template <typename Result, typename Visit>
Result VisitKind(OvAttr::AttributeType kind, Result otherwise, Visit&& visit) {
  return OvAttr::detail::visitDataKind(kind, otherwise, std::forward<Visit>(visit));
}

PyConstVector* AsVector(PyObject* self) noexcept { return reinterpret_cast<PyConstVector*>(self); }

OvAttr::AttributeType KindOf(const PyConstVector* vector) noexcept {
  return vector->attr ? vector->attr->getType() : OvAttr::kAttrTypeInvalid;
}

// The sample of a vector of element type T. Only for vectors of that kind, which always have
// one.
template <typename T>
const OvAttr::ConstVector<T>& SampleOf(const PyConstVector* vector) noexcept {
  return *static_cast<const OvAttr::ConstVector<T>*>(vector->sample);
}

// The first value of the view.
template <typename T>
const T* ViewValues(const PyConstVector* vector) noexcept {
  return SampleOf<T>(vector).data() + vector->start;
}

// A new Python object for one value. Returns a new reference.
PyObject* ElementObject(int32_t value) { return PyInt_FromLong(value); }
PyObject* ElementObject(float value) { return PyFloat_FromDouble(static_cast<double>(value)); }
PyObject* ElementObject(double value) { return PyFloat_FromDouble(value); }
PyObject* ElementObject(const char* value) { return PyString_FromString(value ? value : ""); }

// The element object at view position i, which must be inside the view. Returns a new
// reference.
PyObject* ElementAt(const PyConstVector* vector, Py_ssize_t i) {
  return VisitKind<PyObject*>(KindOf(vector), nullptr, [&](auto tag) {
    using T = typename decltype(tag)::type;
    return ElementObject(ViewValues<T>(vector)[i]);
  });
}

// A new vector owning `attr` and `sample` (null for the empty vector). Adopts both; returns
// a new reference, or null with MemoryError set (then both are freed).
template <typename T>
PyObject* NewVector(std::unique_ptr<OvAttr::DataAttribute> attr,
                    std::unique_ptr<OvAttr::ConstVector<T>> sample, Py_ssize_t start,
                    Py_ssize_t length) {
  auto* vector = reinterpret_cast<PyConstVector*>(_PyObject_New(&PyConstVector_Type));
  if (!vector) return nullptr;
  vector->attr = attr.release();
  vector->sample = sample.release();
  vector->start = start;
  vector->length = length;
  return reinterpret_cast<PyObject*>(vector);
}

// The kind builder of C: a vector over the sample of `source` nearest to `time`, holding its
// own handles. Returns a new reference. Throws std::bad_alloc.
template <typename C>
PyObject* MakeConstVector(const OvAttr::DataAttribute& source, float time) {
  using T = typename C::value_type;
  // The handle is kept as a DataAttribute (the type the field and the deallocator name), not
  // as a C: the library's handles have no virtual destructor.
  auto attr = std::make_unique<OvAttr::DataAttribute>(source);
  auto sample = std::make_unique<OvAttr::ConstVector<T>>(C(source).getNearestSample(time));
  const auto length = static_cast<Py_ssize_t>(sample->size());
  return NewVector<T>(std::move(attr), std::move(sample), 0, length);
}

// The verdict of two raw values: negative, 0 or positive. An unordered pair (a NaN) is 0, so
// vectors holding NaN at the same positions are equal.
template <typename T>
int CompareValues(T a, T b) noexcept {
  if constexpr (std::is_same_v<T, const char*>) {
    return std::strcmp(a, b);
  } else {
    return (a > b) - (a < b);
  }
}

// Verdict of the element objects a and b, as their own comparisons give it; when none of <, >
// and == holds (NaN, or a comparison that raised, whose error is dropped) the objects' memory
// order decides, so that the answer is at least consistent within one call.
int CompareObjects(PyObject* a, PyObject* b) {
  const int ops[] = {Py_LT, Py_GT, Py_EQ};
  const int verdicts[] = {-1, 1, 0};
  for (int k = 0; k < 3; ++k) {
    const int holds = PyObject_RichCompareBool(a, b, ops[k]);
    if (holds == 1) return verdicts[k];
    if (holds < 0) PyErr_Clear();
  }
  return a < b ? -1 : 1;
}

PyObject* ResultOfVerdict(int op, Py_ssize_t verdict) {
  bool result = false;
  switch (op) {
    case Py_LT:
      result = verdict < 0;
      break;
    case Py_LE:
      result = verdict <= 0;
      break;
    case Py_EQ:
      result = verdict == 0;
      break;
    case Py_NE:
      result = verdict != 0;
      break;
    case Py_GT:
      result = verdict > 0;
      break;
    case Py_GE:
      result = verdict >= 0;
      break;
  }
  return PyBool_FromLong(result);
}

// Appends the repr text of one element.
void AppendElementText(std::string& text, int32_t value) {
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text.append(digits, end);
}

bool AppendElementText(std::string& text, double value) {
  // The interpreter's own float repr, so that a vector prints like a list of its floats.
  const PyMemText digits(PyOS_double_to_string(value, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr));
  if (!digits) return false;
  text.append(digits.get());
  return true;
}

void AppendElementText(std::string& text, const char* value) {
  // Quoted, not escaped: the text shows the bytes as they are.
  text.push_back('\'');
  text.append(value ? value : "");
  text.push_back('\'');
}

// Appends the repr texts of the view's values, joined by ", ". False (MemoryError set) when a
// float could not be formatted.
template <typename T>
bool AppendElementTexts(std::string& text, const PyConstVector* vector) {
  const T* values = ViewValues<T>(vector);
  for (Py_ssize_t i = 0; i < vector->length; ++i) {
    if (i != 0) text.append(", ", 2);
    if constexpr (std::is_floating_point_v<T>) {
      if (!AppendElementText(text, static_cast<double>(values[i]))) {
        PyErr_NoMemory();
        return false;
      }
    } else {
      AppendElementText(text, values[i]);
    }
  }
  return true;
}

// The first view position at or after `from` whose element equals x, or -1. An element that
// cannot be made (an exhausted interpreter) is skipped, and so is one whose comparison raises:
// both count as unequal and the scan goes on.
Py_ssize_t FindEqual(const PyConstVector* vector, PyObject* x, Py_ssize_t from) {
  for (Py_ssize_t i = from; i < vector->length; ++i) {
    PyRef element = PyRef::steal(ElementAt(vector, i));
    const int equal = element ? PyObject_RichCompareBool(element.get(), x, Py_EQ) : -1;
    if (equal == 1) return i;
    if (equal < 0) PyErr_Clear();
  }
  return -1;
}

// --- Slots -----------------------------------------------------------------------------------

void ConstVector_dealloc(PyObject* self) {
  PyConstVector* vector = AsVector(self);
  OvAttr::DataAttribute* attr = vector->attr;
  void* sample = vector->sample;
  // The sample's type is the attribute's kind, so it is read before the attribute goes.
  const OvAttr::AttributeType kind = attr ? attr->getType() : OvAttr::kAttrTypeInvalid;
  vector->attr = nullptr;
  vector->sample = nullptr;
  if (sample) {
    VisitKind<int>(kind, 0, [&](auto tag) {
      using T = typename decltype(tag)::type;
      delete static_cast<OvAttr::ConstVector<T>*>(sample);
      return 0;
    });
  }
  delete attr;
  Py_TYPE(self)->tp_free(self);
}

// repr and str. Returns a new reference.
PyObject* ConstVector_repr(PyObject* self) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const PyConstVector* vector = AsVector(self);
    std::string text;
    // Enough for short numbers, so that most vectors print without regrowing the buffer.
    text.reserve(static_cast<size_t>(2 + vector->length * 8));
    text.push_back('[');
    const bool done = VisitKind<bool>(KindOf(vector), true, [&](auto tag) {
      return AppendElementTexts<typename decltype(tag)::type>(text, vector);
    });
    if (!done) return nullptr;
    text.push_back(']');
    return PyString_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

Py_ssize_t ConstVector_length(PyObject* self) { return AsVector(self)->length; }

// Receives i with the length already added once to a negative index. Returns a new
// reference.
PyObject* ConstVector_item(PyObject* self, Py_ssize_t i) {
  const PyConstVector* vector = AsVector(self);
  if (i < 0 || i >= vector->length || vector->sample == nullptr) {
    PyErr_SetString(PyExc_IndexError, "index out of range");
    return nullptr;
  }
  return ElementAt(vector, i);
}

// Receives the bounds with the length already added once to negative ones; clamps them and
// never fails on them. The new vector shares the attribute and the sample. Returns a new
// reference.
PyObject* ConstVector_slice(PyObject* self, Py_ssize_t low, Py_ssize_t high) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const PyConstVector* source = AsVector(self);
    const Py_ssize_t lo = std::max<Py_ssize_t>(std::min(low, source->length), 0);
    const Py_ssize_t hi = std::max<Py_ssize_t>(std::min(high, source->length), 0);
    const Py_ssize_t start = lo < hi ? source->start + lo : 0;
    const Py_ssize_t length = lo < hi ? hi - lo : 0;
    auto attr = source->attr ? std::make_unique<OvAttr::DataAttribute>(*source->attr)
                             : std::make_unique<OvAttr::DataAttribute>();
    const OvAttr::AttributeType kind = attr->getType();
    if (source->sample == nullptr) {
      return NewVector<int32_t>(std::move(attr), nullptr, start, length);
    }
    return VisitKind<PyObject*>(kind, nullptr, [&](auto tag) {
      using T = typename decltype(tag)::type;
      auto sample = std::make_unique<OvAttr::ConstVector<T>>(SampleOf<T>(source));
      return NewVector<T>(std::move(attr), std::move(sample), start, length);
    });
  });
}

// Returns a new reference (True, False or NotImplemented), or null when an element of the
// other sequence cannot be fetched.
PyObject* ConstVector_richcompare(PyObject* self, PyObject* other, int op) {
  const PyConstVector* vector = AsVector(self);
  Py_ssize_t verdict = 0;
  // Raw values for two vectors of one kind. The exact type is tested rather than
  // PyObject_IsInstance, which an object could satisfy through a forged __class__ without
  // having a vector's layout; the type cannot be subclassed, so nothing else is lost.
  if (Py_TYPE(other) == &PyConstVector_Type && KindOf(AsVector(other)) == KindOf(vector)) {
    const PyConstVector* that = AsVector(other);
    verdict = VisitKind<Py_ssize_t>(KindOf(vector), 0, [&](auto tag) -> Py_ssize_t {
      using T = typename decltype(tag)::type;
      const T* a = ViewValues<T>(vector);
      const T* b = ViewValues<T>(that);
      const Py_ssize_t common = std::min(vector->length, that->length);
      for (Py_ssize_t i = 0; i < common; ++i) {
        const int pair = CompareValues<T>(a[i], b[i]);
        if (pair != 0) return pair;
      }
      return vector->length - that->length;
    });
    return ResultOfVerdict(op, verdict);
  }
  if (!PySequence_Check(other)) {
    Py_INCREF(Py_NotImplemented);
    return Py_NotImplemented;
  }
  const Py_ssize_t otherLength = PySequence_Size(other);
  if (otherLength < 0) return nullptr;
  const Py_ssize_t common = std::min(otherLength, vector->length);
  for (Py_ssize_t i = 0; i < common && verdict == 0; ++i) {
    PyRef a = PyRef::steal(ConstVector_item(self, i));
    if (!a) return nullptr;
    PyRef b = PyRef::steal(PySequence_GetItem(other, i));
    if (!b) return nullptr;
    verdict = CompareObjects(a.get(), b.get());
  }
  if (verdict == 0) verdict = vector->length - otherLength;
  return ResultOfVerdict(op, verdict);
}

int ConstVector_init(PyObject* /*self*/, PyObject* /*args*/, PyObject* /*kwds*/) {
  PyErr_SetString(PyExc_TypeError, "Cannot construct ConstVector directly.");
  return -1;
}

// --- Methods ---------------------------------------------------------------------------------

// count(x): the number of positions whose element equals x. Returns a new reference.
PyObject* ConstVector_count(PyObject* self, PyObject* args) {
  PyObject* x = nullptr;
  if (!PyArg_ParseTuple(args, "O", &x)) return nullptr;
  const PyConstVector* vector = AsVector(self);
  long count = 0;
  for (Py_ssize_t i = FindEqual(vector, x, 0); i >= 0; i = FindEqual(vector, x, i + 1)) ++count;
  return PyInt_FromLong(count);
}

// index(x): the first position whose element equals x. Returns a new reference.
PyObject* ConstVector_index(PyObject* self, PyObject* args) {
  PyObject* x = nullptr;
  if (!PyArg_ParseTuple(args, "O", &x)) return nullptr;
  const Py_ssize_t position = FindEqual(AsVector(self), x, 0);
  if (position >= 0) return PyInt_FromSsize_t(position);
  PyRef message = PyRef::steal(PyUnicode_FromFormat("%R is not in list", x));
  if (!message) return nullptr;
  PyErr_SetObject(PyExc_ValueError, message.get());
  return nullptr;
}

// toOvAttr(): the view as an attribute of tuple size 1: the vector's own attribute when the
// view is all of it already, else a new one holding the view's values. None for the empty
// vector. Returns a new reference.
PyObject* ConstVector_toOvAttr(PyObject* self, PyObject* /*unused*/) {
  const PyConstVector* vector = AsVector(self);
  // Only vectors of the four kinds have a sample.
  if (vector->sample == nullptr) Py_RETURN_NONE;
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    return VisitKind<PyObject*>(KindOf(vector), nullptr, [&](auto tag) -> PyObject* {
      using T = typename decltype(tag)::type;
      const OvAttr::DataAttribute& attr = *vector->attr;
      if (vector->start == 0 && static_cast<size_t>(vector->length) == SampleOf<T>(vector).size() &&
          attr.getTupleSize() == 1 && attr.getNumberOfTimeSamples() == 1 &&
          attr.getSampleTime(0) == 0.0f) {
        return PyAttributeFromAttribute(attr);
      }
      using C = OvAttr::TypedDataAttribute<T>;
      const T* values = ViewValues<T>(vector);
      const auto count = static_cast<int64_t>(vector->length);
      if constexpr (std::is_same_v<T, const char*>) {
        return PyAttributeFromAttribute(C(values, count, 1));
      } else {
        return PyAttributeFromAttribute(C(values, count, 1, nullptr, nullptr));
      }
    });
  });
}

PyMethodDef kConstVectorMethods[] = {
    {"count", ConstVector_count, METH_VARARGS, ""},
    {"index", ConstVector_index, METH_VARARGS, ""},
    {"toOvAttr", ConstVector_toOvAttr, METH_NOARGS, ""},
    {nullptr, nullptr, 0, nullptr},
};

PySequenceMethods kConstVectorAsSequence = {
    ConstVector_length, /* sq_length */
    nullptr,            /* sq_concat */
    nullptr,            /* sq_repeat */
    ConstVector_item,   /* sq_item */
    ConstVector_slice,  /* sq_slice */
    nullptr,            /* sq_ass_item */
    nullptr,            /* sq_ass_slice */
    nullptr,            /* sq_contains */
    nullptr,            /* sq_inplace_concat */
    nullptr,            /* sq_inplace_repeat */
};

}  // namespace

// --- Exported --------------------------------------------------------------------------------

// Does not adopt `attribute`: the vector holds handles of its own. Returns a new reference.
PyObject* PyConstVectorFromDataAttribute(const OvAttr::DataAttribute& attribute, float time) {
  // Another compiled module may call in before any script has imported PyOvAttribute.
  if (!EnsureTypesReady(&PyConstVector_Type)) return nullptr;
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* vector = nullptr;
    const bool isData = VisitKind<bool>(attribute.getType(), false, [&](auto tag) {
      vector = MakeConstVector<OvAttr::TypedDataAttribute<typename decltype(tag)::type>>(attribute,
                                                                                         time);
      return true;
    });
    if (isData) return vector;
    return NewVector<int32_t>(std::make_unique<OvAttr::DataAttribute>(), nullptr, 0, 0);
  });
}

PyTypeObject PyConstVector_Type = [] {
  PyTypeObject type =
      DefineType("PyOvAttribute.ConstVector", sizeof(PyConstVector), "TESSARK ConstVector ", false);
  type.tp_dealloc = ConstVector_dealloc;
  type.tp_repr = ConstVector_repr;
  type.tp_str = ConstVector_repr;
  type.tp_as_sequence = &kConstVectorAsSequence;
  type.tp_richcompare = ConstVector_richcompare;
  type.tp_methods = kConstVectorMethods;
  type.tp_init = ConstVector_init;
  return type;
}();

}  // namespace Tessark::PyOvAttribute::v1
