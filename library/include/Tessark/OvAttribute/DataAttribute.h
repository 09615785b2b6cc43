// Data attributes: integer, float, double and string values in time samples.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "Tessark/OvAttribute/Attribute.h"
#include "Tessark/OvAttribute/ConstVector.h"
#include "Tessark/OvAttribute/DataKinds.h"

namespace Tessark::internal::OvAttribute {

// Called with the caller's context once the library has copied what it was given; may be null.
using FreeOwnedDataFunc = void (*)(void* context);

// What every data attribute has: a tuple size, a number of values per sample, and samples at
// strictly ascending 32-bit float times (never NaN). Data made without times is one sample at
// time 0.
//
// The tuple size groups the values of a sample into tuples; it is kept as given, even when it
// is 0 or below or does not divide the value count (getNumberOfTuples is then the whole part of
// values / tupleSize, or 0).
class OVATTR_API DataAttribute : public Attribute {
 public:
  DataAttribute() noexcept = default;  // invalid
  // Shares `attribute` when it is integer, float, double or string data; otherwise invalid.
  explicit DataAttribute(const Attribute& attribute) noexcept;
  explicit DataAttribute(Attribute&& attribute) noexcept;

  // Each is 0 for an invalid handle.
  int64_t getTupleSize() const noexcept;
  int64_t getNumberOfValues() const noexcept;  // per sample
  int64_t getNumberOfTuples() const noexcept;  // per sample
  int64_t getNumberOfTimeSamples() const noexcept;
  // 0.0 for an index outside the samples.
  float getSampleTime(int64_t index) const noexcept;

  // The sample times that bound `time`: (first, first) at or before the first sample, (last,
  // last) at or after the last, (t, t) on a sample time t, else the two neighbours. False, with
  // `low` and `high` untouched, when there are no samples or `time` is NaN.
  bool getBoundingSampleTimes(float* low, float* high, float time) const noexcept;

  // Index of the sample nearest to `time`: the earlier one on a tie, the first for NaN; -1 when
  // there are no samples. O(log samples).
  int64_t getNearestSampleIndex(float time) const noexcept;
};

// The typed data attributes, written once over the element type T. Every constructor copies
// what it is given before it returns (strings included); when a release function is passed it
// is then called once with `context`.
template <typename T>
class OVATTR_API TypedDataAttribute : public DataAttribute {
 public:
  using value_type = T;
  using ValueType = typename detail::DataKindTraits<T>::ValueType;
  static constexpr AttributeType kType = detail::DataKindTraits<T>::kType;

  TypedDataAttribute() noexcept = default;  // invalid

  // One value in one sample at time 0; tuple size 1. A null string is taken as "".
  explicit TypedDataAttribute(T value);

  // One sample at time 0 holding `count` values (a negative count is taken as 0). Null
  // `values` gives `count` zeros (empty strings); a null string is "".
  TypedDataAttribute(const T* values, int64_t count, int64_t tupleSize, void* context = nullptr,
                     FreeOwnedDataFunc releaseContext = nullptr);

  // `timeCount` samples; sample i is at times[i] and holds `valueCount` values starting at
  // sampleValues[i] (which may be null when valueCount is 0). Samples are stored in ascending
  // time order. Throws std::invalid_argument for a NaN time or two equal times (0.0 and -0.0
  // are equal): samples are at distinct times. Null `times` gives no samples; a null
  // `sampleValues` or a null row gives zeros (empty strings).
  TypedDataAttribute(const float* times, int64_t timeCount, const T* const* sampleValues,
                     int64_t valueCount, int64_t tupleSize, void* context = nullptr,
                     FreeOwnedDataFunc releaseContext = nullptr);

  // Shares `attribute` when it holds this kind; otherwise invalid.
  explicit TypedDataAttribute(const Attribute& attribute) noexcept;
  explicit TypedDataAttribute(Attribute&& attribute) noexcept;

  // The sample nearest to `time` (see getNearestSampleIndex); empty when there is none.
  ConstVector<T> getNearestSample(float time) const noexcept;
  // Sample `index` in time order; empty outside the samples.
  ConstVector<T> getSample(int64_t index) const noexcept;

  // The first value of the sample nearest to time 0. With none (invalid handle, no samples or
  // no values): throws std::runtime_error if `throwOnError`, else returns `defaultValue`.
  ValueType getValue(ValueType defaultValue, bool throwOnError) const;
};

extern template class TypedDataAttribute<int32_t>;
extern template class TypedDataAttribute<float>;
extern template class TypedDataAttribute<double>;
extern template class TypedDataAttribute<const char*>;

class OVATTR_API IntAttribute : public TypedDataAttribute<int32_t> {
 public:
  using TypedDataAttribute::TypedDataAttribute;
};

class OVATTR_API FloatAttribute : public TypedDataAttribute<float> {
 public:
  using TypedDataAttribute::TypedDataAttribute;
};

class OVATTR_API DoubleAttribute : public TypedDataAttribute<double> {
 public:
  using TypedDataAttribute::TypedDataAttribute;
};

class OVATTR_API StringAttribute : public TypedDataAttribute<const char*> {
 public:
  using TypedDataAttribute::TypedDataAttribute;
  // The value ends at its first NUL byte, as every string value does.
  explicit StringAttribute(const std::string& value) : TypedDataAttribute(value.c_str()) {}
};

// The attribute of no value. Every null attribute is equal to every other.
class OVATTR_API NullAttribute : public Attribute {
 public:
  NullAttribute();
};

}  // namespace Tessark::internal::OvAttribute
