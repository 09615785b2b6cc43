// Data attributes: construction of the blocks, sample lookup, typed access.

#include "Tessark/OvAttribute/DataAttribute.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "AttributeData.h"

namespace Tessark::internal::OvAttribute {

namespace detail {

namespace {

constexpr size_t alignUp8(size_t n) { return (n + 7) & ~size_t{7}; }

// Calls the caller's release function once when construction ends, whether it succeeds or
// throws: the caller handed its data over either way.
class ReleaseGuard {
 public:
  ReleaseGuard(void* context, FreeOwnedDataFunc func) : m_context(context), m_func(func) {}
  ~ReleaseGuard() {
    if (m_func) m_func(m_context);
  }
  ReleaseGuard(const ReleaseGuard&) = delete;
  ReleaseGuard& operator=(const ReleaseGuard&) = delete;

 private:
  void* m_context;
  FreeOwnedDataFunc m_func;
};

struct FreeMemory {
  void operator()(char* memory) const noexcept { std::free(memory); }
};

// A malloc'd block of `bytesOffset` bytes plus the strings of `rows` (samples x valueCount, a
// null row or string being ""), each copied NUL-terminated at bytesOffset on, with the table at
// valuesOffset pointing at them; `*stringBytes` gets their size. Each string is read once (one
// scan for its length, one copy), so the block grows while the strings are copied: the table
// holds offsets until the block stops moving.
char* newStringBlock(const char* const* const* rows, size_t samples, size_t valueCount,
                     size_t valuesOffset, size_t bytesOffset, size_t* stringBytes) {
  const size_t total = samples * valueCount;  // checked by the caller
  constexpr size_t kInlineCopy = 32;
  // A guess that fits short strings (and one of up to 63 bytes); longer ones grow the block by
  // doubling.
  size_t capacity = checkedAdd(
      bytesOffset, checkedAdd(std::min<size_t>(checkedMul(total, 8), size_t{1} << 26), 56));
  std::unique_ptr<char, FreeMemory> block(static_cast<char*>(std::malloc(capacity)));
  if (!block) throw std::bad_alloc();
  size_t used = bytesOffset;
  size_t k = 0;
  for (size_t i = 0; i < samples; ++i) {
    const char* const* row = rows ? rows[i] : nullptr;
    for (size_t j = 0; j < valueCount; ++j, ++k) {
      const char* s = row ? row[j] : nullptr;
      if (!s) s = "";
      // Short strings (the common case) are copied inline while they are scanned: two library
      // calls per string cost more than the bytes.
      if (capacity - used > kInlineCopy) {
        char* out = block.get() + used;
        size_t n = 0;
        while (n < kInlineCopy && (out[n] = s[n]) != '\0') ++n;
        if (n < kInlineCopy) {
          reinterpret_cast<size_t*>(block.get() + valuesOffset)[k] = used;
          used += n + 1;
          continue;
        }
      }
      const size_t n = std::strlen(s);
      const size_t end = checkedAdd(used, checkedAdd(n, 1));
      if (end > capacity) {
        size_t grown = capacity <= SIZE_MAX / 2 ? std::max(end, capacity * 2) : end;
        char* moved = static_cast<char*>(std::realloc(block.get(), grown));
        if (!moved) throw std::bad_alloc();
        block.release();
        block.reset(moved);
        capacity = grown;
      }
      char* out = block.get() + used;
      if (n) std::memcpy(out, s, n);
      out[n] = '\0';
      reinterpret_cast<size_t*>(block.get() + valuesOffset)[k] = used;
      used = end;
    }
  }
  // Give back the unused tail only when it is a real share of the block. A large block comes
  // from its own mapping, and the allocator serves the next request of the same size from the
  // heap only when the block it freed last was at least that large: shrinking every block would
  // make each construction map and fault in fresh pages.
  if (capacity - used > 64 && capacity - used > capacity / 8) {
    if (char* shrunk = static_cast<char*>(std::realloc(block.get(), used))) {
      block.release();
      block.reset(shrunk);
    }
  }
  char* memory = block.release();
  auto* slots = reinterpret_cast<size_t*>(memory + valuesOffset);
  auto* table = reinterpret_cast<const char**>(memory + valuesOffset);
  for (size_t t = 0; t < total; ++t) table[t] = memory + slots[t];
  *stringBytes = used - bytesOffset;
  return memory;
}

}  // namespace

// Where the parts of a data block of `sampleCount` samples of `valueCount` values of type T go
// (counts below 0 are 0): [header][times][pad to 8][values], string bytes from `end` on.
template <typename T>
struct DataLayout {
  DataLayout(int64_t sampleCount, int64_t valueCount)
      : samples(static_cast<size_t>(std::max<int64_t>(sampleCount, 0))),
        values(static_cast<size_t>(std::max<int64_t>(valueCount, 0))),
        valuesOffset(alignUp8(checkedAdd(kTimesOffset, checkedMul(samples, sizeof(float))))),
        end(checkedAdd(valuesOffset, checkedMul(checkedMul(samples, values), sizeof(T)))) {}

  // The header of such a block at `memory`.
  AttributeData* place(char* memory, int64_t tupleSize, size_t stringBytes) const {
    auto* data = new (memory) AttributeData(static_cast<Storage>(DataKindTraits<T>::kType));
    data->tupleSize = tupleSize;
    data->valueCount = static_cast<int64_t>(values);
    data->sampleCount = static_cast<int64_t>(samples);
    data->times = reinterpret_cast<float*>(memory + kTimesOffset);
    data->values = memory + valuesOffset;
    data->stringBytes = stringBytes;
    return data;
  }

  static constexpr size_t kTimesOffset = alignUp8(sizeof(AttributeData));
  size_t samples;
  size_t values;
  size_t valuesOffset;
  size_t end;
};

template <typename T>
AttributeData* newNumericData(int64_t sampleCount, int64_t valueCount, int64_t tupleSize) {
  static_assert(std::is_arithmetic_v<T>, "strings are laid out by newTypedData");
  const DataLayout<T> layout(sampleCount, valueCount);
  auto* memory = static_cast<char*>(std::malloc(layout.end));
  if (!memory) throw std::bad_alloc();
  return layout.place(memory, tupleSize, 0);
}

template <typename T>
AttributeData* newTypedData(const float* times, int64_t sampleCount, const T* const* rows,
                            int64_t valueCount, int64_t tupleSize) {
  AttributeData* data;
  if constexpr (kIsString<T>) {
    const DataLayout<T> layout(sampleCount, valueCount);
    size_t stringBytes = 0;
    char* memory = newStringBlock(rows, layout.samples, layout.values, layout.valuesOffset,
                                  layout.end, &stringBytes);
    data = layout.place(memory, tupleSize, stringBytes);
  } else {
    data = newNumericData<T>(sampleCount, valueCount, tupleSize);
    T* values = writableValues<T>(data);
    const size_t rowBytes = static_cast<size_t>(data->valueCount) * sizeof(T);
    for (int64_t i = 0; i < data->sampleCount && rowBytes != 0; ++i) {
      const T* row = rows ? rows[i] : nullptr;
      if (row)
        std::memcpy(values + i * data->valueCount, row, rowBytes);
      else
        std::memset(values + i * data->valueCount, 0, rowBytes);
    }
  }
  float* timesOut = writableTimes(data);
  if (times && data->sampleCount)
    std::memcpy(timesOut, times, static_cast<size_t>(data->sampleCount) * sizeof(float));
  else
    std::fill(timesOut, timesOut + data->sampleCount, 0.0f);
  return data;
}

int64_t nearestSampleIndex(const AttributeData* data, float time) noexcept {
  const float* times = data->times;
  const int64_t count = data->sampleCount;
  if (count <= 0) return -1;
  if (std::isnan(time)) return 0;
  const int64_t at = std::lower_bound(times, times + count, time) - times;
  if (at == count) return count - 1;
  if (at == 0 || times[at] == time) return at;
  // Distances in double: exact for ties that are exact, and no overflow to a NaN.
  const double before = static_cast<double>(time) - times[at - 1];
  const double after = static_cast<double>(times[at]) - time;
  return after < before ? at : at - 1;
}

size_t firstUnorderedTime(const float* times, size_t count) noexcept {
  for (size_t i = 0; i < count; ++i) {
    // Written so that a NaN, which compares false with everything, fails too.
    if (!(i == 0 ? times[i] == times[i] : times[i - 1] < times[i])) return i;
  }
  return count;
}

template AttributeData* newNumericData<int32_t>(int64_t, int64_t, int64_t);
template AttributeData* newNumericData<float>(int64_t, int64_t, int64_t);
template AttributeData* newNumericData<double>(int64_t, int64_t, int64_t);
template AttributeData* newTypedData<int32_t>(const float*, int64_t, const int32_t* const*, int64_t,
                                              int64_t);
template AttributeData* newTypedData<float>(const float*, int64_t, const float* const*, int64_t,
                                            int64_t);
template AttributeData* newTypedData<double>(const float*, int64_t, const double* const*, int64_t,
                                             int64_t);
template AttributeData* newTypedData<const char*>(const float*, int64_t, const char* const* const*,
                                                  int64_t, int64_t);

}  // namespace detail

namespace {

bool isDataType(int type) {
  return detail::visitDataKind(type, [](auto) {});
}

}  // namespace

// ---- DataAttribute ----

DataAttribute::DataAttribute(const Attribute& attribute) noexcept {
  m_data = detail::shareIf(attribute, isDataType(attribute.getType()));
}

DataAttribute::DataAttribute(Attribute&& attribute) noexcept {
  m_data = detail::takeIf(attribute, isDataType(attribute.getType()));
}

int64_t DataAttribute::getTupleSize() const noexcept { return m_data ? m_data->tupleSize : 0; }

int64_t DataAttribute::getNumberOfValues() const noexcept {
  return m_data ? m_data->valueCount : 0;
}

int64_t DataAttribute::getNumberOfTuples() const noexcept {
  if (!m_data || m_data->tupleSize <= 0) return 0;
  return m_data->valueCount / m_data->tupleSize;
}

int64_t DataAttribute::getNumberOfTimeSamples() const noexcept {
  return m_data ? m_data->sampleCount : 0;
}

float DataAttribute::getSampleTime(int64_t index) const noexcept {
  if (!m_data || index < 0 || index >= m_data->sampleCount) return 0.0f;
  return m_data->times[index];
}

bool DataAttribute::getBoundingSampleTimes(float* low, float* high, float time) const noexcept {
  if (!m_data || m_data->sampleCount <= 0 || std::isnan(time)) return false;
  const float* times = m_data->times;
  const int64_t count = m_data->sampleCount;
  float lo, hi;
  if (time <= times[0]) {
    lo = hi = times[0];
  } else if (time >= times[count - 1]) {
    lo = hi = times[count - 1];
  } else {
    const float* at = std::lower_bound(times, times + count, time);
    lo = *at == time ? *at : at[-1];
    hi = *at;
  }
  if (low) *low = lo;
  if (high) *high = hi;
  return true;
}

int64_t DataAttribute::getNearestSampleIndex(float time) const noexcept {
  return m_data ? detail::nearestSampleIndex(m_data, time) : -1;
}

// ---- TypedDataAttribute ----

template <typename T>
TypedDataAttribute<T>::TypedDataAttribute(T value) : TypedDataAttribute(&value, 1, 1) {}

template <typename T>
TypedDataAttribute<T>::TypedDataAttribute(const T* values, int64_t count, int64_t tupleSize,
                                          void* context, FreeOwnedDataFunc releaseContext) {
  detail::ReleaseGuard guard(context, releaseContext);
  const float time = 0.0f;
  m_data = detail::newTypedData<T>(&time, 1, &values, count < 0 ? 0 : count, tupleSize);
}

template <typename T>
TypedDataAttribute<T>::TypedDataAttribute(const float* times, int64_t timeCount,
                                          const T* const* sampleValues, int64_t valueCount,
                                          int64_t tupleSize, void* context,
                                          FreeOwnedDataFunc releaseContext) {
  detail::ReleaseGuard guard(context, releaseContext);
  if (!times || timeCount < 0) timeCount = 0;
  if (valueCount < 0) valueCount = 0;
  const auto count = static_cast<size_t>(timeCount);
  if (detail::firstUnorderedTime(times, count) == count) {
    m_data = detail::newTypedData<T>(times, timeCount, sampleValues, valueCount, tupleSize);
    return;
  }
  for (size_t i = 0; i < count; ++i)
    if (std::isnan(times[i])) throw std::invalid_argument("a sample time is NaN");
  std::vector<size_t> order(count);
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(),
            [times](size_t a, size_t b) { return times[a] < times[b]; });
  std::vector<float> sortedTimes(count);
  std::vector<const T*> sortedRows(count, nullptr);
  for (size_t i = 0; i < count; ++i) {
    sortedTimes[i] = times[order[i]];
    if (sampleValues) sortedRows[i] = sampleValues[order[i]];
    if (i > 0 && sortedTimes[i] == sortedTimes[i - 1])
      throw std::invalid_argument("two samples have the same time");
  }
  m_data = detail::newTypedData<T>(sortedTimes.data(), timeCount, sortedRows.data(), valueCount,
                                   tupleSize);
}

template <typename T>
TypedDataAttribute<T>::TypedDataAttribute(const Attribute& attribute) noexcept {
  m_data = detail::shareIf(attribute, attribute.getType() == kType);
}

template <typename T>
TypedDataAttribute<T>::TypedDataAttribute(Attribute&& attribute) noexcept {
  m_data = detail::takeIf(attribute, attribute.getType() == kType);
}

template <typename T>
ConstVector<T> TypedDataAttribute<T>::getSample(int64_t index) const noexcept {
  if (!m_data || index < 0 || index >= m_data->sampleCount || !m_data->values)
    return ConstVector<T>();
  const T* values = static_cast<const T*>(m_data->values) + index * m_data->valueCount;
  return ConstVector<T>(*this, values, m_data->valueCount);
}

template <typename T>
ConstVector<T> TypedDataAttribute<T>::getNearestSample(float time) const noexcept {
  return getSample(getNearestSampleIndex(time));
}

template <typename T>
typename TypedDataAttribute<T>::ValueType TypedDataAttribute<T>::getValue(ValueType defaultValue,
                                                                          bool throwOnError) const {
  int64_t index = getNearestSampleIndex(0.0f);
  if (index < 0 || m_data->valueCount <= 0 || !m_data->values) {
    if (throwOnError)
      throw std::runtime_error(m_data ? "getValue: the attribute has no value"
                                      : "getValue: the attribute is invalid");
    return defaultValue;
  }
  return ValueType(static_cast<const T*>(m_data->values)[index * m_data->valueCount]);
}

template class TypedDataAttribute<int32_t>;
template class TypedDataAttribute<float>;
template class TypedDataAttribute<double>;
template class TypedDataAttribute<const char*>;

}  // namespace Tessark::internal::OvAttribute
