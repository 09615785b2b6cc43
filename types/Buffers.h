// Python 3: numbers read from buffers (array.array, memoryview, numpy arrays, anything with the
// buffer protocol) into the typed kinds' elements, in one pass and without Python objects.
#pragma once

#include <Python.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "module/Internal.h"

#if PYOVATTR_PY3

namespace Tessark::PyOvAttribute::v1 {

// The numbers of a C-contiguous buffer of one dimension (or none: one value).
struct BufferNumbers {
  enum class Kind { kSigned, kUnsigned, kFloat };
  const void* data = nullptr;
  Py_ssize_t count = 0;
  Kind kind = Kind::kSigned;
  size_t size = 0;  // bytes a number

  // Whether the numbers are stored exactly as elements of type T are.
  template <typename T>
  bool isStoredAs() const noexcept {
    if constexpr (std::is_floating_point_v<T>) {
      return kind == Kind::kFloat && size == sizeof(T);
    } else {
      return kind == Kind::kSigned && size == sizeof(T);
    }
  }
};

// Whether `obj` is read as a buffer of numbers: anything with the buffer protocol but text
// (bytes are taken as text, as 2.7 takes a str, never as a sequence of numbers). Borrows obj.
inline bool IsNumberBuffer(PyObject* obj) noexcept {
  return PyObject_CheckBuffer(obj) && !IsText(obj);
}

// Takes a view of `obj` into `held` and describes its numbers for the attribute type `type`;
// `integersOnly` refuses floats. False with the exporter's error, or with TypeError (a format
// that is not one native number an item, floats for an integer type) or ValueError (an item
// size that is not the format's, more than one dimension, not C-contiguous). Borrows obj.
bool ReadBufferNumbers(PyObject* obj, HeldBuffer& held, const char* type, bool integersOnly,
                       BufferNumbers* numbers);

// OverflowError for number `index` of `numbers`, outside the 32-bit integer range. Returns
// false.
bool RaiseBufferOverflow(const BufferNumbers& numbers, Py_ssize_t index);

namespace detail {

template <typename T, typename S>
Py_ssize_t ConvertNumbers(const S* in, Py_ssize_t count, T* out) noexcept {
  if constexpr (std::is_same_v<T, int32_t>) {
    static_assert(std::is_integral_v<S>, "floats are refused for integers");
    for (Py_ssize_t i = 0; i < count; ++i) {
      const S value = in[i];
      if constexpr (std::is_signed_v<S>) {
        if (value < std::numeric_limits<int32_t>::min() ||
            value > std::numeric_limits<int32_t>::max())
          return i;
      } else if (value > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
        return i;
      }
      out[i] = static_cast<int32_t>(value);
    }
  } else {
    // Through double, as the interpreter takes an int or a float for a float attribute.
    for (Py_ssize_t i = 0; i < count; ++i) {
      const double value = static_cast<double>(in[i]);
      if constexpr (std::is_same_v<T, float>) {
        out[i] = NarrowToFloat(value);
      } else {
        out[i] = value;
      }
    }
  }
  return -1;
}

template <typename T, typename S>
Py_ssize_t ConvertAs(const BufferNumbers& numbers, T* out) noexcept {
  return ConvertNumbers<T>(static_cast<const S*>(numbers.data), numbers.count, out);
}

}  // namespace detail

// Converts `numbers` into out[0, count): the index of the first one outside the 32-bit integer
// range (for int32_t), or -1. Reads nothing but the numbers: no Python object, no lock needed
// (the caller's view keeps the memory). T is int32_t, float or double.
template <typename T>
Py_ssize_t ConvertBufferNumbers(const BufferNumbers& numbers, T* out) noexcept {
  if (numbers.isStoredAs<T>()) {
    if (numbers.count > 0)
      std::memcpy(out, numbers.data, static_cast<size_t>(numbers.count) * sizeof(T));
    return -1;
  }
  using Kind = BufferNumbers::Kind;
  if (numbers.kind == Kind::kFloat) {
    if constexpr (std::is_same_v<T, int32_t>) {
      return -1;  // refused by ReadBufferNumbers
    } else {
      return numbers.size == 4 ? detail::ConvertAs<T, float>(numbers, out)
                               : detail::ConvertAs<T, double>(numbers, out);
    }
  }
  const bool isSigned = numbers.kind == Kind::kSigned;
  switch (numbers.size) {
    case 1:
      return isSigned ? detail::ConvertAs<T, int8_t>(numbers, out)
                      : detail::ConvertAs<T, uint8_t>(numbers, out);
    case 2:
      return isSigned ? detail::ConvertAs<T, int16_t>(numbers, out)
                      : detail::ConvertAs<T, uint16_t>(numbers, out);
    case 4:
      return isSigned ? detail::ConvertAs<T, int32_t>(numbers, out)
                      : detail::ConvertAs<T, uint32_t>(numbers, out);
    default:
      return isSigned ? detail::ConvertAs<T, int64_t>(numbers, out)
                      : detail::ConvertAs<T, uint64_t>(numbers, out);
  }
}

}  // namespace Tessark::PyOvAttribute::v1

#endif  // PYOVATTR_PY3
