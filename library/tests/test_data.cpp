// Data attributes: construction over the four kinds, what copies share, sample lookup, values,
// the content hash, and the time-sample utilities.

#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

#include "support.h"

namespace libtest {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// One value per sample, at the times given.
template <typename A = FloatAttribute>
A series(std::vector<float> times, std::vector<typename A::value_type> values) {
  std::vector<const typename A::value_type*> rows;
  for (const auto& v : values) rows.push_back(&v);
  return A(times.data(), static_cast<int64_t>(times.size()), rows.data(), 1, 1);
}

template <typename A>
class DataKinds : public ::testing::Test {};
TYPED_TEST_SUITE(DataKinds, Kinds);

TYPED_TEST(DataKinds, ConstructionKeepsWhatItIsGiven) {
  using T = typename TypeParam::value_type;
  const T values[] = {valueOf<T>(1), valueOf<T>(2), valueOf<T>(3)};
  for (int64_t tupleSize : {int64_t{2}, int64_t{0}, int64_t{-3}}) {
    TypeParam a(values, 3, tupleSize);
    EXPECT_EQ(std::make_tuple(a.getType(), a.getTupleSize(), a.getNumberOfValues(),
                              a.getNumberOfTuples(), a.getNumberOfTimeSamples()),
              std::make_tuple(TypeParam::kType, tupleSize, int64_t{3},
                              tupleSize > 0 ? 3 / tupleSize : 0, int64_t{1}));
    const ConstVector<T> sample = a.getSample(0);
    ASSERT_TRUE(sample.size() == 3 && a.getSampleTime(0) == 0.0f);
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(same(sample[i], values[i]));
  }
  EXPECT_EQ(TypeParam(values, -5, 1).getNumberOfValues(), 0);
  const TypeParam zeros(nullptr, 2, 1);  // null values: zeros, or empty strings
  if constexpr (detail::kIsString<T>) {
    EXPECT_STREQ(zeros.getSample(0)[1], "");
  } else {
    EXPECT_EQ(zeros.getSample(0)[1], T{});
  }
  const TypeParam one(valueOf<T>(4));
  EXPECT_EQ(one.getTupleSize() * 10 + one.getNumberOfValues(), 11);
  // The release callback runs once, after the copy, and the caller's values may then go.
  int released = 0;
  std::vector<T> owned(values, values + 3);
  TypeParam copied(owned.data(), 3, 1, &released, [](void* n) { ++*static_cast<int*>(n); });
  EXPECT_EQ(released, 1);
  owned.assign(3, valueOf<T>(9));
  EXPECT_TRUE(same(copied.getSample(0)[2], values[2]));
}

TYPED_TEST(DataKinds, SamplesAreSortedAndDistinct) {
  using T = typename TypeParam::value_type;
  const T r0[] = {valueOf<T>(0)}, r1[] = {valueOf<T>(1)}, r2[] = {valueOf<T>(2)};
  const T* rows[] = {r0, r1, r2};
  const float times[] = {2.0f, -1.0f, 0.5f};
  int released = 0;
  TypeParam a(times, 3, rows, 1, 1, &released, [](void* n) { ++*static_cast<int*>(n); });
  EXPECT_EQ(released, 1);
  ASSERT_EQ(a.getNumberOfTimeSamples(), 3);
  const int order[] = {1, 2, 0};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(a.getSampleTime(i), times[order[i]]);
    EXPECT_TRUE(same(a.getSample(i)[0], rows[order[i]][0]));
  }
  for (std::vector<float> bad : {std::vector<float>{0.0f, kNaN}, {1.0f, 0.0f, 1.0f}, {0.0f, -0.0f}})
    EXPECT_THROW(TypeParam(bad.data(), static_cast<int64_t>(bad.size()), rows, 1, 1),
                 std::invalid_argument);
  const TypeParam none(nullptr, 3, rows, 1, 1);
  EXPECT_EQ(none.getNumberOfTimeSamples(), 0);
  EXPECT_TRUE(none.getSample(0).empty() && none.getNearestSample(0.0f).empty());
  const TypeParam nullRows(times, 3, nullptr, 2, 1);
  EXPECT_EQ(nullRows.getSample(2).size(), 2u);
}

TYPED_TEST(DataKinds, HandlesShareOneBlock) {
  using T = typename TypeParam::value_type;
  static_assert(sizeof(TypeParam) == sizeof(void*), "a handle is one pointer");
  const T values[] = {valueOf<T>(5), valueOf<T>(6)};
  TypeParam a(values, 2, 1);
  EXPECT_EQ(refCount(a), 1u);
  {
    Attribute b = a;  // copies share; views share
    const DataAttribute view(b);
    ConstVector<T> sample = a.getSample(0), copy = sample;
    EXPECT_EQ(refCount(a), 5u);
    EXPECT_EQ(copy.data(), sample.data());
    EXPECT_EQ(copy.getAttribute()._data(), a._data());
    EXPECT_TRUE(view.sharesValueWith(a) && !b.sharesValueWith(TypeParam(values, 2, 1)));
  }
  EXPECT_EQ(refCount(a), 1u);
  ConstVector<T> kept = a.getNearestSample(3.0f);
  a = TypeParam();  // the vector keeps the values alive
  EXPECT_TRUE(same(kept[1], values[1]));
  // Converting views: invalid for another kind; from an rvalue they take the reference over.
  EXPECT_FALSE(TypeParam(static_cast<const Attribute&>(NullAttribute())).isValid());
  EXPECT_FALSE(GroupAttribute(TypeParam(values, 2, 1)).isValid());
  Attribute moved = TypeParam(values, 2, 1);
  TypeParam taken(std::move(moved));
  EXPECT_FALSE(moved.isValid());  // NOLINT(bugprone-use-after-move): the move is the subject
  EXPECT_EQ(refCount(taken), 1u);
  if constexpr (std::is_arithmetic_v<T>) {
    const ConstVector<T> own = ConstVector<T>::copyOf(values, 2);
    ConstVector<T> shared = own;
    EXPECT_FALSE(own.getAttribute().isValid());
    EXPECT_TRUE(same(shared[1], values[1]));
  }
}

TEST(DataLookups, NearestAndBounding) {
  const FloatAttribute a = series({-1.0f, 0.0f, 2.0f, 5.0f, kInf}, {0, 1, 2, 3, 4});
  const struct {
    float time;
    int64_t nearest;
    float low, high;
  } cases[] = {{-kInf, 0, -1, -1}, {-1, 0, -1, -1},     {-0.5f, 0, -1, 0},    {-0.25f, 1, -1, 0},
               {1, 1, 0, 2},       {1.5f, 2, 0, 2},     {2, 2, 2, 2},         {3.5f, 2, 2, 5},
               {3.6f, 3, 2, 5},    {1e38f, 3, 5, kInf}, {kInf, 4, kInf, kInf}};
  for (const auto& c : cases) {
    EXPECT_EQ(a.getNearestSampleIndex(c.time), c.nearest) << c.time;
    EXPECT_EQ(a.getNearestSample(c.time)[0], static_cast<float>(c.nearest)) << c.time;
    float low = 99, high = 99;
    EXPECT_TRUE(a.getBoundingSampleTimes(&low, &high, c.time));
    EXPECT_TRUE(low == c.low && high == c.high) << c.time;
  }
  float low = 99, high = 99;
  EXPECT_EQ(a.getNearestSampleIndex(kNaN), 0);
  EXPECT_FALSE(a.getBoundingSampleTimes(&low, &high, kNaN));
  EXPECT_FALSE(FloatAttribute(nullptr, 0, nullptr, 1, 1).getBoundingSampleTimes(&low, &high, 0));
  EXPECT_EQ(low, 99.0f);
  EXPECT_TRUE(a.getBoundingSampleTimes(nullptr, nullptr, 1.0f));
  for (int64_t i : {int64_t{-1}, int64_t{5}, std::numeric_limits<int64_t>::min()}) {
    EXPECT_TRUE(a.getSampleTime(i) == 0.0f && a.getSample(i).empty()) << i;
  }
}

TEST(DataLookups, Values) {
  const float times[] = {-2.0f, 1.5f};
  const int32_t r0[] = {7, 8}, r1[] = {9, 10};
  const int32_t* rows[] = {r0, r1};
  EXPECT_EQ(IntAttribute(times, 2, rows, 2, 1).getValue(0, true), 9);
  EXPECT_EQ(StringAttribute(std::string("a\0b", 3)).getValue("", true), "a");
  for (const IntAttribute& empty :
       {IntAttribute(), IntAttribute(nullptr, 0, 1), IntAttribute(nullptr, 0, nullptr, 1, 1)}) {
    EXPECT_EQ(empty.getValue(42, false), 42);
    EXPECT_THROW(empty.getValue(42, true), std::runtime_error);
  }
  const DataAttribute invalid;  // zeros everywhere; no serial form
  EXPECT_EQ(invalid.getTupleSize() + invalid.getNumberOfValues() + invalid.getNumberOfTuples() +
                invalid.getNumberOfTimeSamples() + invalid.getNearestSampleIndex(0) + 1,
            0);
  EXPECT_EQ(Attribute().getType(), kAttrTypeInvalid);
  EXPECT_EQ(Attribute().getXML() + binaryOf(Attribute()), "");
}

TEST(DataHash, EveryPartOfTheValueCounts) {
  const float one = 1.0f;
  const Attribute base = FloatAttribute(&one, 1, 1);
  std::vector<Attribute> different = {FloatAttribute(&one, 1, 2), FloatAttribute(&one, 0, 1),
                                      series({1}, {1}),           series({0, 1}, {1, 1}),
                                      DoubleAttribute(1.0),       IntAttribute(1),
                                      StringAttribute("1"),       NullAttribute(),
                                      GroupBuilder().build()};
  for (uint32_t flip = 1; flip; flip <<= 1) {
    const uint32_t changed = 0x3f800000u ^ flip;  // 1.0f with one bit flipped
    float value;
    std::memcpy(&value, &changed, 4);
    different.push_back(FloatAttribute(&value, 1, 1));
  }
  for (const Attribute& other : different) {
    EXPECT_NE(other.getHash(), base.getHash());
    EXPECT_FALSE(other == base);
  }
  const char* split[] = {"ab", "c"};
  const char* joined[] = {"a", "bc"};
  EXPECT_NE(StringAttribute(split, 2, 1).getHash(), StringAttribute(joined, 2, 1).getHash());
  EXPECT_EQ((Hash{0x0123456789abcdefULL, 0xfedcba9876543210ULL}.str()),
            "0123456789abcdeffedcba9876543210");
  Hash cached;
  const DoubleAttribute fresh(2.5);
  EXPECT_FALSE(fresh.getCachedHash(&cached));
  const Hash computed = fresh.getHash();
  EXPECT_TRUE(fresh.getCachedHash(&cached) && cached == computed);
  EXPECT_TRUE(Attribute() == Attribute() && !(Attribute() == NullAttribute()) &&
              NullAttribute() == NullAttribute());
}

TEST(DataUtil, TimeSamples) {
  const FloatAttribute constant = series({1, 2, 3}, {4, 4, 4});
  EXPECT_EQ(RemoveTimeSamplesIfAllSame(constant), series({0}, {4}));
  const FloatAttribute differs = series({1, 2}, {0.0f, -0.0f});
  EXPECT_EQ(RemoveTimeSamplesIfAllSame(differs)._data(), differs._data());
  const FloatAttribute sampled = series({-3, -2, 0.5f, 5, 7}, {1, 2, 3, 4, 5});
  EXPECT_EQ(RemoveTimeSamplesUnneededForShutter(sampled, 1, 0), series({-2, 0.5f, 5}, {2, 3, 4}));
  EXPECT_EQ(RemoveTimeSamplesUnneededForShutter(sampled, -9, 9)._data(), sampled._data());
  EXPECT_EQ(RemoveTimeSamplesUnneededForShutter(sampled, kNaN, 1)._data(), sampled._data());
  EXPECT_EQ(ResampleAttrWithInterp(sampled, series({-5, -2.5f, 6, 9}, {0, 0, 0, 0})),
            series({-5, -2.5f, 6, 9}, {1, 1.5f, 4.5f, 5}));
  // Integers are not interpolated: each new time takes the nearest sample.
  EXPECT_EQ(
      ResampleAttrWithInterp(series<IntAttribute>({0, 1}, {1, 2}), series({0.4f, 0.6f}, {0, 0})),
      series<IntAttribute>({0.4f, 0.6f}, {1, 2}));
  EXPECT_EQ(ResampleAttrWithInterp(sampled, FloatAttribute(nullptr, 0, nullptr, 0, 1))._data(),
            sampled._data());
  // Groups: every child, recursively, sharing what does not change.
  const GroupAttribute group = GroupBuilder().set("a.s", constant).set("d", differs).build();
  const GroupAttribute cleaned(RemoveTimeSamplesIfAllSame(group));
  EXPECT_EQ(cleaned.getChildByName("a.s"), series({0}, {4}));
  EXPECT_EQ(cleaned.getChildByName("d")._data(), differs._data());
  const GroupAttribute unchanged = GroupBuilder().set("d", differs).build();
  EXPECT_EQ(RemoveTimeSamplesIfAllSame(unchanged)._data(), unchanged._data());
  EXPECT_EQ(DelimiterEncode("a.b/c%"), "a%2Eb%2Fc%25");
  EXPECT_EQ(DelimiterDecode("a%2eb%2F%25%41%"), "a.b/%%41%");
}

}  // namespace
}  // namespace libtest
