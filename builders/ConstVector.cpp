// PyOvAttribute.ConstVector: a read-only sequence over the values of one time sample, made
// only by this module (the typed read methods, PyConstVectorFromDataAttribute, slicing).
//
// A vector owns a DataAttribute handle and a library sample vector, so it outlives the
// attribute object it came from, and it never copies values: slices share the sample, and
// element objects are made on access. The kind is not stored; it is the type tag of `attr`
// (an invalid handle marks the empty vector, which has no sample).

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

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

// The interpreter's float repr, so that a vector prints like a list of its floats: the shortest
// digits that read back, positional from 1e-4 up to 1e16 (".0" on whole numbers), else with an
// exponent of at least two digits. Formatted here rather than by PyOS_double_to_string, which
// allocates a string per value and cost a third more than repr of a list of the same floats.
void AppendElementText(std::string& text, double value) {
  if (std::isnan(value)) {
    text += "nan";
    return;
  }
  if (std::isinf(value)) {
    text += value < 0 ? "-inf" : "inf";
    return;
  }
  char scientific[32];  // [-]d[.ddd]e(+|-)dd[d]
  const char* end = std::to_chars(scientific, scientific + sizeof scientific, value,
                                  std::chars_format::scientific)
                        .ptr;
  const char* p = scientific;
  if (*p == '-') text += *p++;
  const char* mark = std::find(p, end, 'e');
  char digits[24];
  int count = 0;
  for (const char* q = p; q < mark; ++q)
    if (*q != '.') digits[count++] = *q;
  int exponent = 0;
  std::from_chars(mark + 1 + (mark[1] == '+'), end, exponent);
  const int point = exponent + 1;  // digits before the decimal point
  if (point > -4 && point <= 16) {
    if (point <= 0) {
      text += "0.";
      text.append(static_cast<size_t>(-point), '0');
      text.append(digits, static_cast<size_t>(count));
    } else if (point >= count) {
      text.append(digits, static_cast<size_t>(count));
      text.append(static_cast<size_t>(point - count), '0');
      text += ".0";
    } else {
      text.append(digits, static_cast<size_t>(point));
      text += '.';
      text.append(digits + point, static_cast<size_t>(count - point));
    }
    return;
  }
  text += digits[0];
  if (count > 1) {
    text += '.';
    text.append(digits + 1, static_cast<size_t>(count - 1));
  }
  text += exponent < 0 ? "e-" : "e+";
  if (exponent > -10 && exponent < 10) text += '0';
  char exponentDigits[8];
  const int magnitude = exponent < 0 ? -exponent : exponent;
  text.append(exponentDigits, std::to_chars(exponentDigits, exponentDigits + 8, magnitude).ptr);
}

// 2.7: quoted, not escaped: the text shows the bytes as they are. 3: the str's own repr, as
// a list of the values shows it. False with the error set.
bool AppendElementText(std::string& text, const char* value) {
#if PYOVATTR_PY3
  const PyRef element = PyRef::steal(ElementObject(value));
  const PyRef shown = PyRef::steal(element ? PyObject_Repr(element.get()) : nullptr);
  Py_ssize_t size = 0;
  const char* data = shown ? PyUnicode_AsUTF8AndSize(shown.get(), &size) : nullptr;
  if (!data) return false;
  text.append(data, static_cast<size_t>(size));
#else
  text.push_back('\'');
  text.append(value ? value : "");
  text.push_back('\'');
#endif
  return true;
}

// Appends the repr texts of the view's values, joined by ", ". False with the error set.
template <typename T>
bool AppendElementTexts(std::string& text, const PyConstVector* vector) {
  const T* values = ViewValues<T>(vector);
  for (Py_ssize_t i = 0; i < vector->length; ++i) {
    if (i != 0) text.append(", ", 2);
    if constexpr (std::is_floating_point_v<T>) {
      AppendElementText(text, static_cast<double>(values[i]));
    } else if constexpr (std::is_same_v<T, const char*>) {
      if (!AppendElementText(text, values[i])) return false;
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
    return NewText(text.data(), text.size());
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

#if PYOVATTR_PY3
// A new vector over a new attribute holding the values at start, start + step, ... (count of
// them; step is not 1). Returns a new reference.
PyObject* PickedValues(const PyConstVector* source, Py_ssize_t start, Py_ssize_t step,
                       Py_ssize_t count) {
  return VisitKind<PyObject*>(KindOf(source), nullptr, [&](auto tag) -> PyObject* {
    using T = typename decltype(tag)::type;
    using C = OvAttr::TypedDataAttribute<T>;
    std::vector<T> picked(static_cast<size_t>(count));
    const T* values = ViewValues<T>(source);
    for (Py_ssize_t i = 0; i < count; ++i)
      picked[static_cast<size_t>(i)] = values[start + i * step];
    if constexpr (OvAttr::detail::kIsString<T>) {
      return MakeConstVector<C>(C(picked.data(), count, 1), 0.0f);
    } else {
      return MakeConstVector<C>(C(picked.data(), count, 1, nullptr, nullptr), 0.0f);
    }
  });
}

// v[i] and v[start:stop:step]: step 1 is a view of the same sample (ConstVector_slice), any
// other step a vector of the picked values. Returns a new reference.
PyObject* ConstVector_subscript(PyObject* self, PyObject* key) {
  const PyConstVector* vector = AsVector(self);
  if (PyIndex_Check(key)) {
    Py_ssize_t i = PyNumber_AsSsize_t(key, PyExc_IndexError);
    if (i == -1 && PyErr_Occurred()) return nullptr;
    return ConstVector_item(self, i < 0 ? i + vector->length : i);
  }
  if (!PySlice_Check(key)) {
    PyErr_Format(PyExc_TypeError, "ConstVector indices must be integers or slices, not %.200s",
                 Py_TYPE(key)->tp_name);
    return nullptr;
  }
  Py_ssize_t start = 0;
  Py_ssize_t stop = 0;
  Py_ssize_t step = 0;
  if (PySlice_Unpack(key, &start, &stop, &step) < 0) return nullptr;
  const Py_ssize_t count = PySlice_AdjustIndices(vector->length, &start, &stop, step);
  if (step == 1 || count == 0 || vector->sample == nullptr) {
    return ConstVector_slice(self, start, step == 1 ? stop : start);
  }
  return GuardCpp<PyObject*>(nullptr, [&] { return PickedValues(vector, start, step, count); });
}

// ---- Iteration (3): an iterator of its own over the values, one kind function a step -------
//
// A loop over a vector of a million numbers would spend most of its time making a number
// object per value and freeing the one before. So the iterator keeps the last two number
// objects it made, and gives one of them the next value in place when the iterator holds its
// only reference again (the loop variable has moved on to the next): nothing else can see that
// object, as for the tuples that the interpreter's own dict and zip iterators reuse. An object
// that anything else holds (list(v) keeps every one) is left alone, and a new one is made.

struct PyConstVectorIterator {
  PyObject_HEAD PyObject* vector;  // a strong reference; null once exhausted
  const void* values;              // the view's first value, kept alive by vector
  OvAttr::AttributeType kind;      // of the values
  Py_ssize_t next;
  Py_ssize_t length;
  PyObject* made[2];  // strong references (or null): number objects made before
};

// The element of `value` as a new object, kept in `kept` (a number) for reuse. Out of line: the
// loop's common step, a reuse, needs no stack frame. Returns a new reference.
template <typename T>
[[gnu::noinline]] PyObject* MakeElement(PyObject*& kept, T value) {
  PyRef element;
  if constexpr (std::is_same_v<T, int32_t>) {
    element = PyRef::steal(NewReusableInt(value));
  } else {
    element = PyRef::steal(ElementObject(value));
  }
  if constexpr (!OvAttr::detail::kIsString<T>) {
    PyRef previous = PyRef::steal(kept);
    kept = PyRef::newRef(element.get()).release();
  }
  return element.release();
}

// The next element. Returns a new reference.
template <typename T>
inline PyObject* NextElement(PyConstVectorIterator* iterator) {
  const T value = static_cast<const T*>(iterator->values)[iterator->next];
  PyObject*& kept = iterator->made[iterator->next++ & 1];
  if constexpr (!OvAttr::detail::kIsString<T>) {
    if (kept && ReuseNumberObject(kept, value)) return PyRef::newRef(kept).release();
  }
  return MakeElement(kept, value);
}

void ConstVectorIterator_dealloc(PyObject* self) {
  auto* iterator = reinterpret_cast<PyConstVectorIterator*>(self);
  PyRef owned[] = {PyRef::steal(iterator->vector), PyRef::steal(iterator->made[0]),
                   PyRef::steal(iterator->made[1])};
  iterator->vector = iterator->made[0] = iterator->made[1] = nullptr;
  for (PyRef& reference : owned) reference.reset();
  Py_TYPE(self)->tp_free(self);
}

// Returns a new reference, or null (without an error) at the end.
PyObject* ConstVectorIterator_next(PyObject* self) {
  auto* iterator = reinterpret_cast<PyConstVectorIterator*>(self);
  // The kind's code inline, behind a branch that every step takes the same way.
  if (iterator->next < iterator->length) {
    return VisitKind<PyObject*>(iterator->kind, nullptr, [&](auto tag) {
      return NextElement<typename decltype(tag)::type>(iterator);
    });
  }
  PyRef vector = PyRef::steal(iterator->vector);  // the values are not needed any more
  iterator->vector = nullptr;
  iterator->length = 0;
  return nullptr;
}

// Returns a new reference.
PyObject* ConstVector_iter(PyObject* self) {
  const PyConstVector* vector = AsVector(self);
  auto* iterator =
      reinterpret_cast<PyConstVectorIterator*>(_PyObject_New(&PyConstVectorIterator_Type));
  if (!iterator) return nullptr;
  iterator->vector = PyRef::newRef(self).release();
  iterator->values = nullptr;
  iterator->kind = OvAttr::kAttrTypeInvalid;
  iterator->next = 0;
  iterator->length = 0;
  iterator->made[0] = iterator->made[1] = nullptr;
  VisitKind<int>(KindOf(vector), 0, [&](auto tag) {
    using T = typename decltype(tag)::type;
    if (!vector->sample) return 0;
    iterator->values = ViewValues<T>(vector);
    iterator->kind = KindOf(vector);
    iterator->length = vector->length;
    return 0;
  });
  return reinterpret_cast<PyObject*>(iterator);
}

// ---- The buffer protocol (3): integer, float and double vectors -----------------------------

// A read-only, one-dimensional view of the values where they lie in the library's block,
// holding the vector (and through it the attribute) while it exists; as the interpreter's own
// array.array describes itself.
int ConstVector_getbuffer(PyObject* self, Py_buffer* view, int flags) {
  PyConstVector* vector = AsVector(self);
  struct Layout {
    const void* data;
    Py_ssize_t itemSize;
    const char* format;
  };
  const Layout layout = VisitKind<Layout>(KindOf(vector), Layout{}, [&](auto tag) -> Layout {
    using T = typename decltype(tag)::type;
    if constexpr (OvAttr::detail::kIsString<T>) {
      return Layout{};
    } else {
      const char* format =
          std::is_same_v<T, int32_t> ? "i" : (std::is_same_v<T, float> ? "f" : "d");
      return Layout{vector->sample ? ViewValues<T>(vector) : nullptr, sizeof(T), format};
    }
  });
  if (layout.format == nullptr) {
    PyErr_SetString(PyExc_BufferError,
                    "only integer, float and double ConstVectors export a buffer");
    view->obj = nullptr;
    return -1;
  }
  if (flags & PyBUF_WRITABLE) {
    PyErr_SetString(PyExc_BufferError, "ConstVector is read-only");
    view->obj = nullptr;
    return -1;
  }
  static char empty[1];  // where an empty vector's no values lie
  view->buf = const_cast<void*>(layout.data ? layout.data : empty);
  view->obj = PyRef::newRef(self).release();
  view->len = vector->length * layout.itemSize;
  view->readonly = 1;
  view->itemsize = layout.itemSize;
  view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>(layout.format) : nullptr;
  view->ndim = 1;
  view->shape = (flags & PyBUF_ND) ? &vector->length : nullptr;
  view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? &view->itemsize : nullptr;
  view->suboffsets = nullptr;
  view->internal = nullptr;
  return 0;
}

PyBufferProcs kConstVectorAsBuffer = {
    ConstVector_getbuffer, /* bf_getbuffer */
    nullptr,               /* bf_releasebuffer */
};

PyMappingMethods kConstVectorAsMapping = {
    ConstVector_length,    /* mp_length */
    ConstVector_subscript, /* mp_subscript */
    nullptr,               /* mp_ass_subscript */
};
#endif

// --- Methods ---------------------------------------------------------------------------------

// count(x): the number of positions whose element equals x. Returns a new reference.
PyObject* ConstVector_count(PyObject* self, PyObject* args) {
  PyObject* x = nullptr;
  if (!PyArg_ParseTuple(args, "O", &x)) return nullptr;
  const PyConstVector* vector = AsVector(self);
  long count = 0;
  for (Py_ssize_t i = FindEqual(vector, x, 0); i >= 0; i = FindEqual(vector, x, i + 1)) ++count;
  return NewInt(count);
}

// index(x): the first position whose element equals x. Returns a new reference.
PyObject* ConstVector_index(PyObject* self, PyObject* args) {
  PyObject* x = nullptr;
  if (!PyArg_ParseTuple(args, "O", &x)) return nullptr;
  const Py_ssize_t position = FindEqual(AsVector(self), x, 0);
  if (position >= 0) return NewIndex(position);
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
    {"count", ConstVector_count, METH_VARARGS,
     PYOVATTR_METHOD_DOC("count($self, x, /)\n--\n\nThe number of values equal to x.")},
    {"index", ConstVector_index, METH_VARARGS,
     PYOVATTR_METHOD_DOC("index($self, x, /)\n--\n\n"
                         "The position of the first value equal to x; ValueError when none is.")},
    {"toOvAttr", ConstVector_toOvAttr, METH_NOARGS,
     PYOVATTR_METHOD_DOC("toOvAttr($self, /)\n--\n\n"
                         "The values as an attribute of tuple size 1 and one sample at time 0; "
                         "None for the empty vector of no kind.")},
    {nullptr, nullptr, 0, nullptr},
};

// 2.7 slices through sq_slice; 3 through the mapping slot.
PySequenceMethods kConstVectorAsSequence = {
    ConstVector_length, /* sq_length */
    nullptr,            /* sq_concat */
    nullptr,            /* sq_repeat */
    ConstVector_item,   /* sq_item */
#if PYOVATTR_PY3
    nullptr, /* was_sq_slice */
#else
    ConstVector_slice, /* sq_slice */
#endif
    nullptr, /* sq_ass_item */
    nullptr, /* sq_ass_slice */
    nullptr, /* sq_contains */
    nullptr, /* sq_inplace_concat */
    nullptr, /* sq_inplace_repeat */
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
  PyTypeObject type = DefineType(
      "PyOvAttribute.ConstVector", sizeof(PyConstVector),
      PYOVATTR_DOC("TESSARK ConstVector ",
                   "A read-only sequence over the values of one time sample, made by the "
                   "attributes' read methods. Slices of step 1 are views of the same values; "
                   "integer, float and double vectors export them as a read-only buffer."),
      false);
  type.tp_dealloc = ConstVector_dealloc;
  type.tp_repr = ConstVector_repr;
  type.tp_as_sequence = &kConstVectorAsSequence;
#if PYOVATTR_PY3
  type.tp_as_mapping = &kConstVectorAsMapping;
  type.tp_as_buffer = &kConstVectorAsBuffer;
#endif
  type.tp_str = ConstVector_repr;
  type.tp_richcompare = ConstVector_richcompare;
#if PYOVATTR_PY3
  type.tp_iter = ConstVector_iter;
#endif
  type.tp_methods = kConstVectorMethods;
  type.tp_init = ConstVector_init;
  return type;
}();

#if PYOVATTR_PY3
PyTypeObject PyConstVectorIterator_Type = [] {
  PyTypeObject type = DefineType("PyOvAttribute.ConstVectorIterator", sizeof(PyConstVectorIterator),
                                 "Iterator over the values of a ConstVector.", false);
  type.tp_dealloc = ConstVectorIterator_dealloc;
  type.tp_iter = PyObject_SelfIter;
  type.tp_iternext = ConstVectorIterator_next;
  return type;
}();
#endif

}  // namespace Tessark::PyOvAttribute::v1
