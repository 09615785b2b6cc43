// Python 3: the buffers the typed constructors read (types/Buffers.h).

#include "types/Buffers.h"

#include <cstring>

#if PYOVATTR_PY3

namespace Tessark::PyOvAttribute::v1 {

namespace {

using Kind = BufferNumbers::Kind;

// The struct module's codes of one number: what each is, and its size in the native ('@')
// and in the standard ('=', '<', '>', '!') layout (0: none).
struct FormatCode {
  char code;
  Kind kind;
  size_t native;
  size_t standard;
};
constexpr FormatCode kFormatCodes[] = {
    {'b', Kind::kSigned, 1, 1},
    {'B', Kind::kUnsigned, 1, 1},
    {'?', Kind::kUnsigned, sizeof(bool), 1},
    {'h', Kind::kSigned, sizeof(short), 2},
    {'H', Kind::kUnsigned, sizeof(short), 2},
    {'i', Kind::kSigned, sizeof(int), 4},
    {'I', Kind::kUnsigned, sizeof(int), 4},
    {'l', Kind::kSigned, sizeof(long), 4},
    {'L', Kind::kUnsigned, sizeof(long), 4},
    {'q', Kind::kSigned, sizeof(long long), 8},
    {'Q', Kind::kUnsigned, sizeof(long long), 8},
    {'n', Kind::kSigned, sizeof(Py_ssize_t), 0},
    {'N', Kind::kUnsigned, sizeof(size_t), 0},
    {'f', Kind::kFloat, sizeof(float), 4},
    {'d', Kind::kFloat, sizeof(double), 8},
};

constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Whether a byte order prefix names the other order than this machine's.
bool ForeignOrder(char prefix) { return prefix == '!' || prefix == (kLittleEndian ? '>' : '<'); }

}  // namespace

bool ReadBufferNumbers(PyObject* obj, HeldBuffer& held, const char* type, bool integersOnly,
                       BufferNumbers* numbers) {
  if (!held.acquire(obj, PyBUF_RECORDS_RO)) return false;
  const Py_buffer& view = held.view();
  const char* format = view.format ? view.format : "B";
  const char prefix = format[0] && std::strchr("@=<>!", format[0]) ? format[0] : '@';
  const char* code = prefix == format[0] ? format + 1 : format;
  const FormatCode* found = nullptr;
  for (const FormatCode& candidate : kFormatCodes)
    if (code[0] == candidate.code && code[1] == '\0') found = &candidate;
  const size_t size = found ? (prefix == '@' ? found->native : found->standard) : 0;
  if (size == 0 || ForeignOrder(prefix)) {
    PyErr_Format(PyExc_TypeError,
                 "%s takes a buffer of numbers in this machine's byte order (struct formats "
                 "b B h H i I l L q Q n N ? f d), not one of format '%s'",
                 type, format);
    return false;
  }
  if (found->kind == Kind::kFloat && integersOnly) {
    PyErr_Format(PyExc_TypeError, "%s takes integers: a buffer of format '%s' holds floats", type,
                 format);
    return false;
  }
  if (static_cast<size_t>(view.itemsize) != size) {
    PyErr_Format(PyExc_ValueError, "a buffer of format '%s' has items of %zu bytes, not %zd",
                 format, size, view.itemsize);
    return false;
  }
  if (view.ndim > 1) {
    PyErr_Format(PyExc_ValueError, "%s takes a one-dimensional buffer, not one of %d dimensions",
                 type, view.ndim);
    return false;
  }
  if (!PyBuffer_IsContiguous(&view, 'C')) {
    PyErr_Format(PyExc_ValueError, "%s takes a C-contiguous buffer", type);
    return false;
  }
  numbers->data = view.buf;
  numbers->count = view.len / view.itemsize;
  numbers->kind = found->kind;
  numbers->size = size;
  return true;
}

bool RaiseBufferOverflow(const BufferNumbers& numbers, Py_ssize_t index) {
  const auto* at = static_cast<const unsigned char*>(numbers.data) + index * numbers.size;
  if (numbers.kind == Kind::kSigned) {
    int64_t value = 0;  // only 8-byte signed numbers reach past 32 bits
    std::memcpy(&value, at, sizeof value);
    PyErr_Format(PyExc_OverflowError, "value %lld is outside the 32-bit integer range",
                 static_cast<long long>(value));
  } else {
    uint64_t value = 0;
    std::memcpy(&value, at, numbers.size);  // little-endian: the low bytes come first
    if (!kLittleEndian) value >>= 8 * (sizeof value - numbers.size);
    PyErr_Format(PyExc_OverflowError, "value %llu is outside the 32-bit integer range",
                 static_cast<unsigned long long>(value));
  }
  return false;
}

}  // namespace Tessark::PyOvAttribute::v1

#endif  // PYOVATTR_PY3
