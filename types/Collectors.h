// The typed initialiser's collectors: Python sequences and dictionaries read into arrays of
// the kind's elements, ready for the library's constructors.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "module/Internal.h"
#include "types/Buffers.h"
#include "types/ScratchVector.h"
#include "types/TypedKinds.h"

namespace Tessark::PyOvAttribute::v1 {

#if defined(__GNUC__) || defined(__clang__)
#define PYOVATTR_PREFETCH(address) __builtin_prefetch(address)
#else
#define PYOVATTR_PREFETCH(address) ((void)(address))
#endif

// Items ahead of the one converted whose objects are fetched early.
constexpr Py_ssize_t kPrefetchDistance = 64;

// Appends the converted items of `fast` (a list or tuple from PySequence_Fast) to `values`.
// What was appended before a failure stays; the caller discards it. kRefused for an item the
// kind does not take; kFailed with the error set when an item's own conversion raised, or
// when that conversion (Python code of the item) changed the size of the list being read.
// Bytes made for text items are kept in `borrowed`.
template <typename C>
Conversion AppendFastSequence(PyObject* fast, ScratchVector<Element<C>>& values,
                              Borrowed& borrowed) {
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
    const Conversion result = Kind::convert(item.get(), &out[i], borrowed);
    if (result != Conversion::kDone) return result;
    if (PySequence_Fast_GET_SIZE(fast) != count) {
      PyErr_SetString(PyExc_RuntimeError, "sequence changed size during conversion");
      return Conversion::kFailed;
    }
    items = PySequence_Fast_ITEMS(fast);
  }
  return Conversion::kDone;
}

// Appends the converted items of `sequence` to `values`. Text is refused (never read as
// characters), as is anything PySequence_Check refuses; a sequence whose items cannot be read
// fails with the error of reading it. The list or tuple read is kept in `borrowed`: for strings
// it can hold the only references to the text objects whose bytes `values` points into, so it
// must live until the library has copied them. Borrows sequence.
template <typename C>
Conversion VectorFromPySequence(PyObject* sequence, ScratchVector<Element<C>>& values,
                                Borrowed& borrowed) {
  if (IsText(sequence) || !PySequence_Check(sequence)) return Conversion::kRefused;
  PyObject* fast = borrowed.keep(PyRef::steal(PySequence_Fast(sequence, "not a sequence")));
  if (!fast) return Conversion::kFailed;
  return AppendFastSequence<C>(fast, values, borrowed);
}

// The samples of the dictionary form, ready for the library's time-sampled constructor: times
// ascending, and for each the pointer to its values (null when samples hold none). The rows
// point into `values`, which must outlive their use.
template <typename T>
struct Samples {
  ScratchVector<T> values;
  std::vector<float> times;
  std::vector<const T*> rows;
  int64_t valueCount = 0;
};

// Fills `samples` from a dictionary of time: sequence (on 3, for numbers, also time: buffer).
// Keys are numbers rounded to 32-bit times; keys that round to one time share its sample,
// their values joined in iteration order. kRefused (the kind's TypeError) for an empty
// dictionary, a key that is not a number, a value that is text or no sequence, an item the
// kind refuses, or samples of unequal length; kFailed with the error set when a conversion
// raised, a buffer was refused, or the dictionary changed size.
//
// All Python code runs first (a key's __float__, the iteration of a value that is not a list
// or tuple, a buffer's export), then the values are read: string items are then borrowed only
// once nothing can run any more that could free them. The sequences and views read are kept in
// `borrowed`, as for VectorFromPySequence. Borrows dictionary.
template <typename C>
Conversion SamplesFromPyDict(PyObject* dictionary, Samples<Element<C>>& samples,
                             Borrowed& borrowed) {
  using T [[maybe_unused]] = Element<C>;  // read only by the buffer form (3)
  if (!PyDict_Check(dictionary)) return Conversion::kRefused;
  const Py_ssize_t size = PyDict_Size(dictionary);
  // Each key's time and its values as a run of samples.values, in dictionary order.
  struct Run {
    float time;
    PyObject* fast;  // kept by borrowed; null for a buffer
#if PYOVATTR_PY3
    BufferNumbers numbers;
#endif
    size_t offset;
    size_t count;
  };
  std::vector<Run> runs;
  runs.reserve(static_cast<size_t>(size));
  borrowed.objects.reserve(borrowed.objects.size() + static_cast<size_t>(size));
  Py_ssize_t position = 0;
  PyObject* borrowedKey = nullptr;
  PyObject* borrowedValue = nullptr;
  while (PyDict_Next(dictionary, &position, &borrowedKey, &borrowedValue)) {
    // Held, since the conversions below may run code that removes them from the dictionary.
    PyRef key = PyRef::newRef(borrowedKey);
    PyRef value = PyRef::newRef(borrowedValue);
    Run run{};
    const Conversion result = SampleTimeFromPyObject(key.get(), &run.time);
    if (result != Conversion::kDone) return result;
#if PYOVATTR_PY3
    if constexpr (!OvAttr::detail::kIsString<T>) {
      if (IsNumberBuffer(value.get())) {
        if (!ReadBufferNumbers(value.get(), borrowed.buffers.emplace_back(), TypedKind<C>::kName,
                               std::is_integral_v<T>, &run.numbers))
          return Conversion::kFailed;
      }
    }
    if (!run.numbers.data) {
#endif
      if (IsText(value.get()) || !PySequence_Check(value.get())) return Conversion::kRefused;
      run.fast = borrowed.keep(PyRef::steal(PySequence_Fast(value.get(), "not a sequence")));
      if (!run.fast) return Conversion::kFailed;
#if PYOVATTR_PY3
    }
#endif
    if (PyDict_Size(dictionary) != size) {
      PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
      return Conversion::kFailed;
    }
    runs.push_back(run);
  }
  if (runs.empty()) return Conversion::kRefused;

  size_t total = 0;
  for (const Run& run : runs)
    total += run.fast ? static_cast<size_t>(PySequence_Fast_GET_SIZE(run.fast)) : 0;
#if PYOVATTR_PY3
  for (const Run& run : runs) total += static_cast<size_t>(run.numbers.count);
#endif
  samples.values.reserve(total);
  for (Run& run : runs) {
    run.offset = samples.values.size();
#if PYOVATTR_PY3
    if (!run.fast) {
      samples.values.resize(run.offset + static_cast<size_t>(run.numbers.count));
      if constexpr (!OvAttr::detail::kIsString<T>) {
        const Py_ssize_t bad =
            ConvertBufferNumbers(run.numbers, samples.values.data() + run.offset);
        if (bad >= 0) {
          RaiseBufferOverflow(run.numbers, bad);
          return Conversion::kFailed;
        }
      }
    } else
#endif
    {
      const Conversion result = AppendFastSequence<C>(run.fast, samples.values, borrowed);
      if (result != Conversion::kDone) return result;
    }
    run.count = samples.values.size() - run.offset;
  }

  // Ascending times; runs of one time keep dictionary order, and more than one is joined at
  // the end of the array (copied by index: the array may move as it grows).
  std::stable_sort(runs.begin(), runs.end(),
                   [](const Run& a, const Run& b) { return a.time < b.time; });
  std::vector<std::pair<size_t, size_t>> sampleRuns;  // (offset, count) per time
  for (size_t first = 0; first < runs.size();) {
    size_t last = first + 1;
    while (last < runs.size() && runs[last].time == runs[first].time) ++last;
    size_t offset = runs[first].offset;
    size_t count = runs[first].count;
    if (last - first > 1) {
      offset = samples.values.size();
      for (size_t r = first; r < last; ++r) {
        for (size_t i = 0; i < runs[r].count; ++i)
          samples.values.push_back(samples.values[runs[r].offset + i]);
      }
      count = samples.values.size() - offset;
    }
    if (!sampleRuns.empty() && count != sampleRuns.front().second) return Conversion::kRefused;
    samples.times.push_back(runs[first].time);
    sampleRuns.emplace_back(offset, count);
    first = last;
  }
  for (const auto& [offset, count] : sampleRuns)
    samples.rows.push_back(count == 0 ? nullptr : samples.values.data() + offset);
  samples.valueCount = static_cast<int64_t>(sampleRuns.front().second);
  return Conversion::kDone;
}

}  // namespace Tessark::PyOvAttribute::v1
