// The code of IntAttribute, FloatAttribute, DoubleAttribute and StringAttribute, written once
// over the library class C: the initialiser with its collectors, the read methods and their
// method table. Each kind's source instantiates it by naming its class in its type object.
#pragma once

#include <Python.h>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "module/Internal.h"
#include "types/TypedConversions.h"

namespace Tessark::PyOvAttribute::v1 {

// The trait table: everything in which the four kinds differ.
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
  static int32_t builtInDefault() { return 0; }
  static Conversion convertDefault(PyObject* obj, int32_t* value) {
    return IntFromPyObject(obj, value);
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
  static T builtInDefault() { return 0; }
  static Conversion convertDefault(PyObject* obj, T* value) { return Convert(obj, value); }
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
  static std::string builtInDefault() { return std::string(); }
  // The default is copied up to its first NUL, so the object need not outlive the call.
  static Conversion convertDefault(PyObject* obj, std::string* value) {
    const char* text = nullptr;
    const Conversion result = StringFromPyObject(obj, &text);
    if (result == Conversion::kDone) *value = text;
    return result;
  }
  static PyObject* fromValue(const std::string& value) { return PyObjectFromString(value); }
};

// Allocator of the initialiser's large temporary arrays (the values it converts, which the
// library copies and the initialiser then frees). Arrays of kMapBytes or more get a mapping of
// their own, with huge pages where the kernel grants them, and small ones come from malloc.
//
// Why: a temporary of many megabytes freed on the heap leaves, together with the attribute's
// own block freed later, a free area at the heap top that glibc trims, so that the next
// construction faults every page of both back in; that was most of the cost of building a
// large attribute. A separate mapping is returned whole on free and leaves the heap alone, and
// a huge-page mapping faults once per 2 MiB instead of once per 4 KiB.
template <typename T>
class ScratchAllocator {
 public:
  using value_type = T;
  static constexpr size_t kMapBytes = size_t{1} << 20;

  ScratchAllocator() noexcept = default;
  template <typename U>
  ScratchAllocator(const ScratchAllocator<U>& /*other*/) noexcept {}

  T* allocate(size_t count) {
    if (count > std::numeric_limits<size_t>::max() / sizeof(T)) throw std::bad_alloc();
#if defined(__linux__)
    const size_t bytes = count * sizeof(T);
    if (bytes >= kMapBytes) {
      const size_t mapped = MappedBytes(bytes);
      void* memory =
          mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (memory == MAP_FAILED) throw std::bad_alloc();
      // Only advice: without huge pages the mapping still works, with small pages.
      if (mapped % (size_t{2} << 20) == 0) madvise(memory, mapped, MADV_HUGEPAGE);
      return static_cast<T*>(memory);
    }
#endif
    return std::allocator<T>().allocate(count);
  }

  // `count` is the one given to allocate, so the size says where the memory came from.
  void deallocate(T* memory, size_t count) noexcept {
#if defined(__linux__)
    const size_t bytes = count * sizeof(T);
    if (bytes >= kMapBytes) {
      munmap(memory, MappedBytes(bytes));
      return;
    }
#endif
    std::allocator<T>().deallocate(memory, count);
  }

  friend bool operator==(const ScratchAllocator&, const ScratchAllocator&) noexcept { return true; }
  friend bool operator!=(const ScratchAllocator&, const ScratchAllocator&) noexcept {
    return false;
  }

 private:
  static size_t MappedBytes(size_t bytes) noexcept {
    constexpr size_t kHugePage = size_t{2} << 20;
    constexpr size_t kPage = size_t{4} << 10;
    const size_t unit = bytes >= kHugePage ? kHugePage : kPage;
    return (bytes + unit - 1) / unit * unit;
  }
};

template <typename C>
using Element = typename C::value_type;

#if defined(__GNUC__) || defined(__clang__)
#define PYOVATTR_PREFETCH(address) __builtin_prefetch(address)
#else
#define PYOVATTR_PREFETCH(address) ((void)(address))
#endif

// Items ahead of the one converted whose objects are fetched early.
constexpr Py_ssize_t kPrefetchDistance = 64;

// The initialiser's arrays of values.
template <typename T>
using ScratchVector = std::vector<T, ScratchAllocator<T>>;

// A sample of the dictionary form: `count` values from `offset` of SampleMap::values.
struct SampleRun {
  size_t offset = 0;
  size_t count = 0;
};

// The samples of the dictionary form: every value in one array (one large allocation rather
// than one per sample), and for each 32-bit time, ascending, the run of it that is its sample.
template <typename T>
struct SampleMap {
  ScratchVector<T> values;
  std::map<float, SampleRun> samples;
};

// Appends the converted items of `fast` (a list or tuple from PySequence_Fast) to `values`.
// What was appended before a failure stays; the caller discards it. kRefused for an item the
// kind does not take; kFailed with the error set when an item's own conversion raised, or
// when that conversion (Python code of the item) changed the size of the list being read.
template <typename C>
Conversion AppendFastSequence(PyObject* fast, ScratchVector<Element<C>>& values) {
  using Kind = TypedKind<C>;
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(fast);
  const size_t first = values.size();
  values.resize(first + static_cast<size_t>(count));
  Element<C>* out = values.data() + first;
  PyObject** items = PySequence_Fast_ITEMS(fast);
  for (Py_ssize_t i = 0; i < count; ++i) {
    // The items are objects all over the heap; asking for them ahead hides most of the wait.
    if (i + kPrefetchDistance < count) PYOVATTR_PREFETCH(items[i + kPrefetchDistance]);
    if (Kind::convertFast(items[i], &out[i])) continue;
    // The slow conversion can run the item's own Python code, which may drop the item from
    // the list or resize it: hold the item, and re-read the list afterwards.
    PyRef item = PyRef::newRef(items[i]);
    const Conversion result = Kind::convert(item.get(), &out[i]);
    if (result != Conversion::kDone) return result;
    if (PySequence_Fast_GET_SIZE(fast) != count) {
      PyErr_SetString(PyExc_RuntimeError, "sequence changed size during conversion");
      return Conversion::kFailed;
    }
    items = PySequence_Fast_ITEMS(fast);
  }
  return Conversion::kDone;
}

// Appends the converted items of `sequence` to `values`. A str is refused (never read as
// characters), as is anything PySequence_Check refuses; a sequence whose items cannot be read
// fails with the error of reading it. The list or tuple read is appended to `keepAlive`: for
// strings it can hold the only references to the str objects whose buffers `values` points
// into, so it must live until the library has copied them. Borrows sequence.
template <typename C>
Conversion VectorFromPySequence(PyObject* sequence, ScratchVector<Element<C>>& values,
                                std::vector<PyRef>& keepAlive) {
  if (PyString_Check(sequence) || !PySequence_Check(sequence)) return Conversion::kRefused;
  PyRef fast = PyRef::steal(PySequence_Fast(sequence, "not a sequence"));
  if (!fast) return Conversion::kFailed;
  keepAlive.push_back(std::move(fast));
  return AppendFastSequence<C>(keepAlive.back().get(), values);
}

// Fills `samples` from a dictionary of time: sequence. Keys are numbers rounded to 32-bit
// times; keys that round to one time share its sample, their values joined in iteration
// order. kRefused (the kind's TypeError) for an empty dictionary, a key that is not a number,
// a value that is a str or no sequence, an item the kind refuses, or samples of unequal
// length; kFailed with the error set when a conversion raised or the dictionary changed size.
//
// All Python code runs first (a key's __float__, the iteration of a value that is not a list
// or tuple), then the values are read: string items are then borrowed only once nothing can
// run any more that could free them. The sequences read are appended to `keepAlive`, as for
// VectorFromPySequence. Borrows dictionary.
template <typename C>
Conversion SampleMapFromPyDict(PyObject* dictionary, SampleMap<Element<C>>& samples,
                               std::vector<PyRef>& keepAlive) {
  if (!PyDict_Check(dictionary)) return Conversion::kRefused;
  const Py_ssize_t size = PyDict_Size(dictionary);
  std::vector<std::pair<float, PyObject*>> entries;  // the sequences are owned by keepAlive
  entries.reserve(static_cast<size_t>(size));
  keepAlive.reserve(keepAlive.size() + static_cast<size_t>(size));
  Py_ssize_t position = 0;
  PyObject* borrowedKey = nullptr;
  PyObject* borrowedValue = nullptr;
  while (PyDict_Next(dictionary, &position, &borrowedKey, &borrowedValue)) {
    // Held, since the conversions below may run code that removes them from the dictionary.
    PyRef key = PyRef::newRef(borrowedKey);
    PyRef value = PyRef::newRef(borrowedValue);
    float time = 0.0f;
    const Conversion result = SampleTimeFromPyObject(key.get(), &time);
    if (result != Conversion::kDone) return result;
    if (PyString_Check(value.get()) || !PySequence_Check(value.get())) {
      return Conversion::kRefused;
    }
    PyRef fast = PyRef::steal(PySequence_Fast(value.get(), "not a sequence"));
    if (!fast) return Conversion::kFailed;
    if (PyDict_Size(dictionary) != size) {
      PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
      return Conversion::kFailed;
    }
    entries.emplace_back(time, fast.get());
    keepAlive.push_back(std::move(fast));
  }
  if (entries.empty()) return Conversion::kRefused;

  size_t total = 0;
  for (const auto& entry : entries)
    total += static_cast<size_t>(PySequence_Fast_GET_SIZE(entry.second));
  samples.values.reserve(total);
  // Runs per time in dictionary order; keys that round to one time have several.
  std::map<float, std::vector<SampleRun>> pieces;
  for (const auto& [time, fast] : entries) {
    const size_t offset = samples.values.size();
    const Conversion result = AppendFastSequence<C>(fast, samples.values);
    if (result != Conversion::kDone) return result;
    pieces[time].push_back(SampleRun{offset, samples.values.size() - offset});
  }

  const size_t valueCount = [&pieces] {
    size_t count = 0;
    for (const SampleRun& run : pieces.begin()->second) count += run.count;
    return count;
  }();
  for (const auto& [time, runs] : pieces) {
    if (runs.size() == 1) {
      if (runs.front().count != valueCount) return Conversion::kRefused;
      samples.samples.emplace(time, runs.front());
      continue;
    }
    // Several keys, one time: their values joined at the end of the array, in dictionary
    // order. Copied by index, since the array may move as it grows.
    size_t count = 0;
    for (const SampleRun& run : runs) count += run.count;
    if (count != valueCount) return Conversion::kRefused;
    const size_t offset = samples.values.size();
    samples.values.resize(offset + count);
    size_t to = offset;
    for (const SampleRun& run : runs) {
      for (size_t i = 0; i < run.count; ++i) samples.values[to++] = samples.values[run.offset + i];
    }
    samples.samples.emplace(time, SampleRun{offset, count});
  }
  return Conversion::kDone;
}

// The arrays of the library's time-sampled constructor, in ascending time order. The pointers
// point into `samples`, which must outlive their use; a sample without values gives null.
template <typename T>
void FlattenSampleMap(const SampleMap<T>& samples, std::vector<float>& times,
                      std::vector<const T*>& samplePointers, int64_t& valueCount) {
  times.reserve(samples.samples.size());
  samplePointers.reserve(samples.samples.size());
  for (const auto& [time, run] : samples.samples) {
    times.push_back(time);
    samplePointers.push_back(run.count == 0 ? nullptr : samples.values.data() + run.offset);
    valueCount = static_cast<int64_t>(run.count);
  }
}

// Stores `built` as the object's handle. Only called once every conversion has succeeded.
inline int StoreBuiltAttribute(PyAttribute* object, OvAttr::Attribute&& built) {
  auto handle = std::make_unique<OvAttr::Attribute>();
  *handle = std::move(built);
  // Python code run by a conversion may have called __init__ on this object again; its
  // result is replaced, not leaked.
  std::unique_ptr<OvAttr::Attribute> replaced(object->attr);
  object->attr = handle.release();
  return 0;
}

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

// tp_init of the four kinds: IntAttribute(attrdata, tupleSize=1) and the like. `attrdata` is
// one value, a dictionary of time: sequence, or a sequence. On failure the object holds no
// handle, even if it held one before.
template <typename C>
int InitTypedAttribute(PyObject* self, PyObject* args, PyObject* kwds) {
  using Kind = TypedKind<C>;
  using T = Element<C>;
  auto* object = reinterpret_cast<PyAttribute*>(self);
  // A repeated __init__ gives the object a new value: the old handle goes now, not at exit.
  std::unique_ptr<OvAttr::Attribute> previous(object->attr);
  object->attr = nullptr;
  previous.reset();

  return GuardCppOrNoMemory(-1, [&]() -> int {
    static const char* keywords[] = {"attrdata", "tupleSize", nullptr};
    PyObject* attrdata = nullptr;
    PY_LONG_LONG tupleSize = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O|L", const_cast<char**>(keywords), &attrdata,
                                     &tupleSize)) {
      return -1;
    }

    T scalar{};
    switch (Kind::convert(attrdata, &scalar)) {
      case Conversion::kDone:
        return StoreBuiltAttribute(object, C(scalar));
      case Conversion::kRefused:
        break;
      case Conversion::kFailed: {
        // An object that is a number and a sequence at once (an old-style instance, an array
        // type) may fail as a number yet read fine as a sequence. The checks run with the
        // error put aside, since they may call Python code.
        PyObject* type = nullptr;
        PyObject* value = nullptr;
        PyObject* traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);
        PyRef heldType = PyRef::steal(type);
        PyRef heldValue = PyRef::steal(value);
        PyRef heldTraceback = PyRef::steal(traceback);
        if (PyDict_Check(attrdata) || PySequence_Check(attrdata)) break;
        PyErr_Restore(heldType.release(), heldValue.release(), heldTraceback.release());
        return -1;
      }
    }

    std::vector<PyRef> keepAlive;  // declared first: it must outlive the library call
    if (PyDict_Check(attrdata)) {
      SampleMap<T> samples;
      const Conversion result = SampleMapFromPyDict<C>(attrdata, samples, keepAlive);
      if (result == Conversion::kFailed) return -1;
      if (result == Conversion::kDone) {
        std::vector<float> times;
        std::vector<const T*> samplePointers;
        int64_t valueCount = 0;
        FlattenSampleMap(samples, times, samplePointers, valueCount);
        // The library copies from the call's own arrays (strings from str objects that
        // keepAlive holds), so other threads may run meanwhile.
        C built;
        {
          ReleasedGil released(samples.values.size() * sizeof(T) >= kReleaseGilBytes);
          built = C(times.data(), static_cast<int64_t>(times.size()), samplePointers.data(),
                    valueCount, tupleSize, nullptr, nullptr);
        }
        return StoreBuiltAttribute(object, std::move(built));
      }
    } else if (PySequence_Check(attrdata)) {
      ScratchVector<T> values;
      const Conversion result = VectorFromPySequence<C>(attrdata, values, keepAlive);
      if (result == Conversion::kFailed) return -1;
      if (result == Conversion::kDone) {
        C built;
        {
          ReleasedGil released(values.size() * sizeof(T) >= kReleaseGilBytes);  // as above
          built = MakeFromValues<C>(values.data(), static_cast<int64_t>(values.size()), tupleSize);
        }
        return StoreBuiltAttribute(object, std::move(built));
      }
    }
    PyErr_SetString(PyExc_TypeError, Kind::kNoFormMessage);
    return -1;
  });
}

// The error of every typed read method on an object that does not hold an attribute of its
// kind. Returns null.
inline PyObject* SetInvalidTypedAttribute() {
  PyErr_SetString(PyExc_TypeError, "Underyling Attribute is invalid.");
  return nullptr;
}

// getData(): the sample nearest to time 0. Returns a new reference.
template <typename C>
PyObject* TypedAttribute_getData(PyObject* self, PyObject* /*unused*/) {
  return GuardCppOrNoMemory<PyObject*>(nullptr, [&]() -> PyObject* {
    const C view(HeldAttribute(self));
    if (!view.isValid()) return SetInvalidTypedAttribute();
    return PyConstVectorFromDataAttribute(view, 0.0f);
  });
}

// getSamples(): {time: ConstVector} over every sample, the keys the 32-bit times widened.
// Returns a new reference.
template <typename C>
PyObject* TypedAttribute_getSamples(PyObject* self, PyObject* /*unused*/) {
  return GuardCppOrNoMemory<PyObject*>(nullptr, [&]() -> PyObject* {
    const C view(HeldAttribute(self));
    if (!view.isValid()) return SetInvalidTypedAttribute();
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
  return GuardCppOrNoMemory<PyObject*>(nullptr, [&]() -> PyObject* {
    const C view(HeldAttribute(self));
    if (!view.isValid()) return SetInvalidTypedAttribute();
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
  return GuardCppOrNoMemory<PyObject*>(nullptr, [&]() -> PyObject* {
    const C view(HeldAttribute(self));
    if (!view.isValid()) return SetInvalidTypedAttribute();
    static const char* keywords[] = {"defaultValue", "throwOnError", nullptr};
    PyObject* defaultObject = nullptr;
    int throwOnError = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|Oi", const_cast<char**>(keywords),
                                     &defaultObject, &throwOnError)) {
      return nullptr;
    }
    typename C::ValueType fallback = Kind::builtInDefault();
    if (defaultObject != nullptr) {
      switch (Kind::convertDefault(defaultObject, &fallback)) {
        case Conversion::kDone:
          break;
        case Conversion::kRefused:
          PyErr_SetString(PyExc_TypeError, "Invalid type provided for default value.");
          return nullptr;
        case Conversion::kFailed:
          return nullptr;
      }
    }
    try {
      return Kind::fromValue(view.getValue(fallback, throwOnError != 0));
    } catch (const std::exception& error) {
      PyErr_SetString(PyExc_RuntimeError, error.what());
      return nullptr;
    }
  });
}

// The method table of each of the four kinds.
template <typename C>
inline PyMethodDef kTypedAttributeMethods[] = {
    {"getData", TypedAttribute_getData<C>, METH_NOARGS, ""},
    {"getSamples", TypedAttribute_getSamples<C>, METH_NOARGS, ""},
    {"getNearestSample", TypedAttribute_getNearestSample<C>, METH_VARARGS, ""},
    {"getValue", reinterpret_cast<PyCFunction>(GetTypedValue<C>), METH_VARARGS | METH_KEYWORDS, ""},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace Tessark::PyOvAttribute::v1
