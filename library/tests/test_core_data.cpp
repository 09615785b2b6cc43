// Data attributes: construction in every form, odd input, sharing and lifetime, sample lookup,
// getValue and sample vectors.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_core_helpers.h"

namespace {

using namespace Tessark::internal::OvAttribute;
using core_test::Kind;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

template <typename A>
class DataKinds : public ::testing::Test {};
using AllKinds = ::testing::Types<IntAttribute, FloatAttribute, DoubleAttribute, StringAttribute>;
TYPED_TEST_SUITE(DataKinds, AllKinds);

template <typename A>
std::vector<typename Kind<A>::T> values(int n, int offset = 0) {
  std::vector<typename Kind<A>::T> out;
  for (int i = 0; i < n; ++i) out.push_back(Kind<A>::value(i + offset));
  return out;
}

template <typename A, typename V>
void expectSample(const V& sample, const std::vector<typename Kind<A>::T>& expected) {
  ASSERT_EQ(sample.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_TRUE(Kind<A>::same(sample[i], expected[i])) << "at " << i;
}

// ---- construction ----

TYPED_TEST(DataKinds, ScalarIsOneValueAtTimeZero) {
  using T = typename Kind<TypeParam>::T;
  T v = Kind<TypeParam>::value(3);
  TypeParam a(v);
  EXPECT_EQ(a.getType(), TypeParam::kType);
  EXPECT_EQ(a.getTupleSize(), 1);
  EXPECT_EQ(a.getNumberOfValues(), 1);
  EXPECT_EQ(a.getNumberOfTuples(), 1);
  EXPECT_EQ(a.getNumberOfTimeSamples(), 1);
  EXPECT_EQ(a.getSampleTime(0), 0.0f);
  expectSample<TypeParam>(a.getNearestSample(0.0f), {v});
}

TYPED_TEST(DataKinds, ArrayIsCopiedBeforeReturn) {
  auto input = values<TypeParam>(6);
  auto expected = input;
  TypeParam a(input.data(), 6, 3);
  // Overwrite the caller's array: the attribute must not notice.
  for (auto& v : input) v = Kind<TypeParam>::value(99);
  EXPECT_EQ(a.getNumberOfValues(), 6);
  EXPECT_EQ(a.getNumberOfTuples(), 2);
  expectSample<TypeParam>(a.getNearestSample(5.0f), expected);
}

TEST(StringData, StringBytesAreCopiedAndEndAtFirstNul) {
  char buffer[] = "abc\0def";
  const char* items[] = {buffer, buffer + 4, nullptr};
  StringAttribute a(items, 3, 1);
  std::memset(buffer, 'z', sizeof buffer - 1);
  ConstVector<const char*> v = a.getNearestSample(0.0f);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_STREQ(v[0], "abc");
  EXPECT_STREQ(v[1], "def");
  EXPECT_STREQ(v[2], "");  // a null string pointer is ""
  EXPECT_EQ(StringAttribute(std::string("a\0b", 3)).getValue("", true), "a");
}

// Lengths around the short-string copy and far past the first size guess of the block, over
// several samples with a null row: every string comes back whole and in place, and the hash
// depends on the strings only, not on how the block grew.
TEST(StringData, MixedLengthsOverSamples) {
  std::vector<std::string> storage;
  for (size_t n : {0, 1, 7, 8, 30, 31, 32, 33, 63, 64, 65, 200, 5000, 100000})
    storage.push_back(std::string(n, static_cast<char>('a' + n % 26)));
  const size_t count = storage.size();
  std::vector<const char*> first, second;
  for (const std::string& s : storage) first.push_back(s.c_str());
  for (size_t i = count; i-- > 0;) second.push_back(storage[i].c_str());
  const float times[] = {0.0f, 1.0f, 2.0f};
  const char* const* rows[] = {first.data(), nullptr, second.data()};
  StringAttribute a(times, 3, rows, static_cast<int64_t>(count), 1);
  for (int64_t sample = 0; sample < 3; ++sample) {
    ConstVector<const char*> v = a.getSample(sample);
    ASSERT_EQ(v.size(), count);
    for (size_t i = 0; i < count; ++i) {
      const std::string& expected = sample == 0   ? storage[i]
                                    : sample == 2 ? storage[count - 1 - i]
                                                  : std::string();
      ASSERT_EQ(std::string(v[i]), expected) << sample << " " << i;
    }
  }
  std::vector<const char*> empty(count, "");
  const char* const* sameRows[] = {first.data(), empty.data(), second.data()};
  EXPECT_EQ(a.getHash(),
            StringAttribute(times, 3, sameRows, static_cast<int64_t>(count), 1).getHash());
  EXPECT_NE(a.getHash(),
            StringAttribute(times, 3, sameRows, static_cast<int64_t>(count) - 1, 1).getHash());
}

TYPED_TEST(DataKinds, TupleSizeIsKeptAsGiven) {
  auto input = values<TypeParam>(6);
  struct Case {
    int64_t tupleSize, tuples;
  } cases[] = {{1, 6}, {2, 3}, {4, 1}, {7, 0}, {0, 0}, {-2, 0}, {-6, 0}};
  for (const Case& c : cases) {
    TypeParam a(input.data(), 6, c.tupleSize);
    EXPECT_EQ(a.getTupleSize(), c.tupleSize);
    EXPECT_EQ(a.getNumberOfValues(), 6);
    EXPECT_EQ(a.getNumberOfTuples(), c.tuples) << c.tupleSize;
  }
}

TYPED_TEST(DataKinds, NegativeAndZeroCountsAreEmptySamples) {
  auto input = values<TypeParam>(2);
  for (int64_t count : {int64_t{0}, int64_t{-1}, std::numeric_limits<int64_t>::min()}) {
    TypeParam a(input.data(), count, 1);
    EXPECT_TRUE(a.isValid());
    EXPECT_EQ(a.getNumberOfValues(), 0);
    EXPECT_EQ(a.getNumberOfTimeSamples(), 1);
    EXPECT_TRUE(a.getNearestSample(0.0f).empty());
    EXPECT_THROW(a.getValue(Kind<TypeParam>::value(0), true), std::runtime_error);
  }
  TypeParam none(nullptr, 0, 1);
  EXPECT_EQ(none.getNumberOfValues(), 0);
}

TYPED_TEST(DataKinds, NullValuesGiveZeros) {
  TypeParam a(nullptr, 3, 1);
  auto v = a.getNearestSample(0.0f);
  ASSERT_EQ(v.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    if constexpr (std::is_same_v<typename Kind<TypeParam>::T, const char*>)
      EXPECT_STREQ(v[i], "");
    else
      EXPECT_EQ(v[i], 0);
  }
}

TYPED_TEST(DataKinds, TimeSamplesAreSortedAndDistinct) {
  using T = typename Kind<TypeParam>::T;
  const float times[] = {2.0f, -1.0f, 0.0f, 1.0f};
  std::vector<std::vector<T>> rows;
  for (int i = 0; i < 4; ++i) rows.push_back(values<TypeParam>(2, 10 * i));
  std::vector<const T*> rowPointers;
  for (auto& r : rows) rowPointers.push_back(r.data());
  TypeParam a(times, 4, rowPointers.data(), 2, 2);
  ASSERT_EQ(a.getNumberOfTimeSamples(), 4);
  const int expectedOrder[] = {1, 2, 3, 0};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(a.getSampleTime(i), times[expectedOrder[i]]) << i;
    expectSample<TypeParam>(a.getSample(i), rows[expectedOrder[i]]);
  }
  // Samples are at distinct times: NaN and a repeated time (-0.0 is 0.0) are refused.
  for (std::vector<float> bad :
       {std::vector<float>{0.0f, kNaN}, {kNaN, 0.0f}, {1.0f, 0.0f, 1.0f}, {0.0f, -0.0f}}) {
    EXPECT_THROW(TypeParam(bad.data(), static_cast<int64_t>(bad.size()), rowPointers.data(), 2, 2),
                 std::invalid_argument);
  }
}

TYPED_TEST(DataKinds, TimeSampledOddInput) {
  using T = typename Kind<TypeParam>::T;
  const float times[] = {0.0f, 1.0f};
  std::vector<T> row = values<TypeParam>(2);
  const T* rowsWithNull[] = {row.data(), nullptr};
  TypeParam withNullRow(times, 2, rowsWithNull, 2, 1);
  EXPECT_EQ(withNullRow.getNumberOfTimeSamples(), 2);
  EXPECT_EQ(withNullRow.getSample(1).size(), 2u);

  TypeParam noValues(times, 2, nullptr, 0, 1);
  EXPECT_EQ(noValues.getNumberOfTimeSamples(), 2);
  EXPECT_EQ(noValues.getNumberOfValues(), 0);
  EXPECT_TRUE(noValues.getNearestSample(1.0f).empty());

  TypeParam noTimes(nullptr, 5, rowsWithNull, 2, 1);
  EXPECT_TRUE(noTimes.isValid());
  EXPECT_EQ(noTimes.getNumberOfTimeSamples(), 0);
  EXPECT_EQ(noTimes.getNearestSampleIndex(0.0f), -1);
  EXPECT_TRUE(noTimes.getNearestSample(0.0f).empty());
  float lo = 7.0f, hi = 7.0f;
  EXPECT_FALSE(noTimes.getBoundingSampleTimes(&lo, &hi, 0.0f));
  EXPECT_EQ(lo, 7.0f);
  EXPECT_EQ(hi, 7.0f);
  EXPECT_EQ(noTimes.getValue(Kind<TypeParam>::value(1), false), Kind<TypeParam>::value(1));

  TypeParam negative(times, -3, rowsWithNull, -4, 1);
  EXPECT_EQ(negative.getNumberOfTimeSamples(), 0);
  EXPECT_EQ(negative.getNumberOfValues(), 0);
}

int gReleaseCalls = 0;
void* gReleaseContext = nullptr;
void countRelease(void* context) {
  ++gReleaseCalls;
  gReleaseContext = context;
}

// Scribbles over the caller's values, as a caller that frees them would.
template <typename T>
struct Scribble {
  std::vector<T>* values;
  T junk;
  static void release(void* context) {
    auto* s = static_cast<Scribble*>(context);
    for (auto& v : *s->values) v = s->junk;
    ++gReleaseCalls;
  }
};

TYPED_TEST(DataKinds, ReleaseIsCalledOnceAfterCopying) {
  using T = typename Kind<TypeParam>::T;
  auto input = values<TypeParam>(4);
  auto expected = input;
  int marker = 0;

  gReleaseCalls = 0;
  TypeParam a(input.data(), 4, 1, &marker, &countRelease);
  EXPECT_EQ(gReleaseCalls, 1);
  EXPECT_EQ(gReleaseContext, &marker);

  gReleaseCalls = 0;
  Scribble<T> scribble{&input, Kind<TypeParam>::value(50)};
  TypeParam b(input.data(), 4, 1, &scribble, &Scribble<T>::release);
  EXPECT_EQ(gReleaseCalls, 1);
  expectSample<TypeParam>(b.getNearestSample(0.0f), expected);

  input = expected;
  gReleaseCalls = 0;
  const float times[] = {1.0f, 0.0f};
  const T* rows[] = {input.data(), input.data() + 2};
  TypeParam c(times, 2, rows, 2, 1, &scribble, &Scribble<T>::release);
  EXPECT_EQ(gReleaseCalls, 1);
  expectSample<TypeParam>(c.getSample(0), {expected[2], expected[3]});
  expectSample<TypeParam>(c.getSample(1), {expected[0], expected[1]});

  gReleaseCalls = 0;
  TypeParam d(input.data(), 4, 1, &marker, nullptr);
  TypeParam e(input.data(), 4, 1, nullptr, &countRelease);
  EXPECT_EQ(gReleaseCalls, 1);
  EXPECT_EQ(gReleaseContext, nullptr);
}

TEST(DataConstruction, ReleaseIsCalledWhenConstructionFails) {
  gReleaseCalls = 0;
  const int32_t one = 1;
  const int32_t* rows[] = {&one};
  const float time = 0.0f;
  // More values than memory can hold: the constructor throws, but the caller's data was
  // handed over all the same.
  EXPECT_ANY_THROW(IntAttribute(&time, 1, rows, std::numeric_limits<int64_t>::max() / 2, 1, nullptr,
                                &countRelease));
  EXPECT_EQ(gReleaseCalls, 1);
}

TYPED_TEST(DataKinds, ConvertingConstructorsCheckTheKind) {
  TypeParam a(Kind<TypeParam>::value(1));
  Attribute base = a;
  EXPECT_TRUE(TypeParam(base).isValid());
  EXPECT_EQ(TypeParam(base)._data(), a._data());
  EXPECT_TRUE(DataAttribute(base).isValid());
  EXPECT_FALSE(GroupAttribute(base).isValid());

  Attribute others[] = {IntAttribute(1),      FloatAttribute(1.0f), DoubleAttribute(1.0),
                        StringAttribute("1"), NullAttribute(),      GroupBuilder().build(),
                        Attribute()};
  for (const Attribute& other : others) {
    EXPECT_EQ(TypeParam(other).isValid(), other.getType() == TypeParam::kType);
    Attribute moved = other;
    TypeParam taken(std::move(moved));
    // A move that does not take the value leaves the source as it was.
    EXPECT_EQ(taken.isValid(), !moved.isValid() && other.isValid());
    EXPECT_EQ(moved.isValid(), other.isValid() && !taken.isValid());
  }
  EXPECT_FALSE(DataAttribute(NullAttribute()).isValid());
  EXPECT_FALSE(DataAttribute(GroupBuilder().build()).isValid());
}

TEST(DataConstruction, InvalidHandlesAnswerZero) {
  DataAttribute d;
  EXPECT_EQ(d.getTupleSize(), 0);
  EXPECT_EQ(d.getNumberOfValues(), 0);
  EXPECT_EQ(d.getNumberOfTuples(), 0);
  EXPECT_EQ(d.getNumberOfTimeSamples(), 0);
  EXPECT_EQ(d.getSampleTime(0), 0.0f);
  EXPECT_EQ(d.getNearestSampleIndex(0.0f), -1);
  float lo, hi;
  EXPECT_FALSE(d.getBoundingSampleTimes(&lo, &hi, 0.0f));
  IntAttribute i;
  EXPECT_TRUE(i.getNearestSample(0.0f).empty());
  EXPECT_TRUE(i.getSample(0).empty());
  EXPECT_EQ(i.getValue(5, false), 5);
  EXPECT_THROW(i.getValue(5, true), std::runtime_error);
  EXPECT_EQ(Attribute().getType(), kAttrTypeInvalid);
}

// ---- sharing and lifetime ----

TEST(DataSharing, CopiesShareOneBlock) {
  const int32_t v[] = {1, 2, 3};
  IntAttribute a(v, 3, 1);
  const uint64_t before = core_test::refCount(a);
  {
    Attribute b = a;
    DataAttribute c(b);
    IntAttribute d(c);
    EXPECT_EQ(b._data(), a._data());
    EXPECT_EQ(c._data(), a._data());
    EXPECT_EQ(d._data(), a._data());
    EXPECT_EQ(core_test::refCount(a), before + 3);
    Attribute e = std::move(b);
    EXPECT_FALSE(b.isValid());
    EXPECT_EQ(core_test::refCount(a), before + 3);
    e = e;  // self-assignment keeps the value
    EXPECT_EQ(e._data(), a._data());
  }
  EXPECT_EQ(core_test::refCount(a), before);
}

TEST(DataSharing, OneSampleBlockIsValuesPlusSmallHeader) {
  std::vector<float> input(1000, 1.5f);
  FloatAttribute a(input.data(), 1000, 1);
  const char* block = reinterpret_cast<const char*>(a._data());
  const char* first = reinterpret_cast<const char*>(a.getNearestSample(0.0f).data());
  // The values follow the header and the one time in the same allocation.
  EXPECT_GE(first, block);
  EXPECT_LE(first - block, 128);
  const char* time = reinterpret_cast<const char*>(a._data()->times);
  EXPECT_GT(time, block);
  EXPECT_LE(time + sizeof(float), first);
}

TEST(DataSharing, SampleVectorOutlivesEveryHandle) {
  ConstVector<const char*> kept;
  ConstVector<double> copy;
  {
    const char* items[] = {"alpha", "beta"};
    StringAttribute a(items, 2, 1);
    ConstVector<const char*> v = a.getNearestSample(0.0f);
    EXPECT_EQ(v.getAttribute()._data(), a._data());
    kept = v;
    const double d[] = {1.0, 2.0, 3.0};
    copy = DoubleAttribute(d, 3, 1).getSample(0);
  }
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_STREQ(kept[0], "alpha");
  EXPECT_STREQ(kept[1], "beta");
  ConstVector<const char*> again(kept);  // copying needs no attribute handle of ours either
  kept = ConstVector<const char*>();
  EXPECT_STREQ(again[1], "beta");
  EXPECT_EQ(copy[2], 3.0);
  EXPECT_EQ(core_test::refCount(again.getAttribute()), 1u);
}

TEST(DataSharing, SharedSampleBuffers) {
  const OvAttributeHostSuite* suite = Attribute::_attrSuite;
  ASSERT_NE(suite, nullptr);
  EXPECT_EQ(suite->structSize, sizeof(OvAttributeHostSuite));
  EXPECT_EQ(suite->version, 1u);
  ASSERT_NE(suite->retainSampleBuffer, nullptr);
  ASSERT_NE(suite->releaseSampleBuffer, nullptr);

  const double d[] = {0.5, -0.0, 7.0};
  ConstVector<double> owned = ConstVector<double>::copyOf(d, 3);
  EXPECT_FALSE(owned.getAttribute().isValid());
  ConstVector<double> copy = owned;
  EXPECT_EQ(copy.data(), owned.data());  // shared, not copied
  owned = ConstVector<double>();
  ConstVector<double> moved = std::move(copy);
  copy = ConstVector<double>();
  ASSERT_EQ(moved.size(), 3u);
  EXPECT_EQ(moved[0], 0.5);
  EXPECT_TRUE(std::signbit(moved[1]));
  EXPECT_EQ(ConstVector<int32_t>::copyOf(nullptr, 0).size(), 0u);
  EXPECT_EQ(ConstVector<int32_t>::copyOf(nullptr, -3).size(), 0u);
}

// ---- sample lookup ----

FloatAttribute sampled(std::vector<float> times) {
  std::vector<float> values(times.size());
  std::vector<const float*> rows;
  for (size_t i = 0; i < times.size(); ++i) {
    values[i] = static_cast<float>(i);
    rows.push_back(&values[i]);
  }
  return FloatAttribute(times.data(), static_cast<int64_t>(times.size()), rows.data(), 1, 1);
}

TEST(DataSamples, NearestSample) {
  FloatAttribute a = sampled({-1.0f, 0.0f, 2.0f, 5.0f});
  struct Case {
    float time;
    int64_t index;
  } cases[] = {{-100.0f, 0}, {-1.0f, 0}, {-0.5f, 0},  // tie: the earlier
               {-0.25f, 1},  {0.0f, 1},  {1.0f, 1},   // tie between 0 and 2
               {1.5f, 2},    {2.0f, 2},  {3.5f, 2},   // tie between 2 and 5
               {3.6f, 3},    {5.0f, 3},  {1e30f, 3}, {kInf, 3}, {-kInf, 0}, {kNaN, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(a.getNearestSampleIndex(c.time), c.index) << c.time;
    ConstVector<float> v = a.getNearestSample(c.time);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0], static_cast<float>(c.index)) << c.time;
  }
}

TEST(DataSamples, NearestWithInfiniteTimes) {
  FloatAttribute a = sampled({-kInf, 0.0f, kInf});
  EXPECT_EQ(a.getNearestSampleIndex(kInf), 2);
  EXPECT_EQ(a.getNearestSampleIndex(-kInf), 0);
  EXPECT_EQ(a.getNearestSampleIndex(1e38f), 1);
  EXPECT_EQ(a.getNearestSampleIndex(kNaN), 0);
}

TEST(DataSamples, BoundingSampleTimes) {
  FloatAttribute a = sampled({-1.0f, 0.0f, 2.0f, 5.0f});
  struct Case {
    float time, lo, hi;
  } cases[] = {{-3.0f, -1.0f, -1.0f}, {-1.0f, -1.0f, -1.0f}, {-0.5f, -1.0f, 0.0f},
               {0.0f, 0.0f, 0.0f},    {1.0f, 0.0f, 2.0f},    {2.0f, 2.0f, 2.0f},
               {4.9f, 2.0f, 5.0f},    {5.0f, 5.0f, 5.0f},    {kInf, 5.0f, 5.0f},
               {-kInf, -1.0f, -1.0f}};
  for (const Case& c : cases) {
    float lo = 99.0f, hi = 99.0f;
    ASSERT_TRUE(a.getBoundingSampleTimes(&lo, &hi, c.time)) << c.time;
    EXPECT_EQ(lo, c.lo) << c.time;
    EXPECT_EQ(hi, c.hi) << c.time;
  }
  float lo = 99.0f, hi = 99.0f;
  EXPECT_FALSE(a.getBoundingSampleTimes(&lo, &hi, kNaN));
  EXPECT_EQ(lo, 99.0f);
  EXPECT_TRUE(a.getBoundingSampleTimes(nullptr, nullptr, 1.0f));
}

TEST(DataSamples, SampleTimesOutOfRange) {
  FloatAttribute a = sampled({1.0f, 2.0f});
  EXPECT_EQ(a.getSampleTime(1), 2.0f);
  for (int64_t i : {int64_t{-1}, int64_t{2}, std::numeric_limits<int64_t>::max(),
                    std::numeric_limits<int64_t>::min()}) {
    EXPECT_EQ(a.getSampleTime(i), 0.0f);
    EXPECT_TRUE(a.getSample(i).empty());
  }
}

TEST(DataSamples, GetValueTakesTheSampleNearestZero) {
  const float times[] = {-2.0f, 1.0f, 3.0f};
  const int32_t r0[] = {10, 11}, r1[] = {20, 21}, r2[] = {30, 31};
  const int32_t* rows[] = {r0, r1, r2};
  IntAttribute a(times, 3, rows, 2, 2);
  EXPECT_EQ(a.getValue(0, true), 20);
  const char* words[] = {"first", "second"};
  EXPECT_EQ(StringAttribute(words, 2, 1).getValue("d", true), "first");
  EXPECT_EQ(StringAttribute(words, 0, 1).getValue("d", false), "d");
  try {
    StringAttribute(words, 0, 1).getValue("d", true);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("no value"), std::string::npos);
  }
  const double dv[] = {-0.0};
  EXPECT_TRUE(std::signbit(DoubleAttribute(dv, 1, 1).getValue(1.0, true)));
}

TEST(DataSamples, TypeTagHookIsSafeEverywhere) {
  for (int tag : {-7, 0, 1, 2, 3, 4, 5, 6, 1000}) {
    Attribute odd = Tessark::internal::OvAttribute::testing::MakeAttributeWithTypeTag(tag);
    EXPECT_EQ(static_cast<int>(odd.getType()), tag);
    EXPECT_EQ(odd, NullAttribute());
    FloatAttribute f(odd);
    EXPECT_TRUE(f.getNearestSample(0.0f).empty());
    EXPECT_EQ(f.getValue(2.0f, false), 2.0f);
    GroupAttribute g(odd);
    EXPECT_EQ(g.getNumberOfChildren(), 0);
    EXPECT_FALSE(g.getChildByName("a").isValid());
  }
}

}  // namespace
