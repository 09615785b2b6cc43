// Utilities: time-sample clean-up, shutter trimming, resampling, and the delimiter codec.

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "test_core_helpers.h"

namespace {

using namespace Tessark::internal::OvAttribute;

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// One value per sample: times[i] holds values[i].
template <typename A, typename T>
A series(const std::vector<float>& times, const std::vector<T>& values, int64_t tupleSize = 1) {
  std::vector<const T*> rows;
  for (const T& v : values) rows.push_back(&v);
  return A(times.data(), static_cast<int64_t>(times.size()), rows.data(), 1, tupleSize);
}

std::vector<float> timesOf(const DataAttribute& a) {
  std::vector<float> out;
  for (int64_t i = 0; i < a.getNumberOfTimeSamples(); ++i) out.push_back(a.getSampleTime(i));
  return out;
}

// ---- RemoveTimeSamplesIfAllSame ----

TEST(CoreUtil, AllSameSamplesBecomeOneAtTimeZero) {
  const char* s = "same";
  StringAttribute strings =
      series<StringAttribute, const char*>({1.0f, 2.0f, 3.0f}, {s, "same", s}, 3);
  Attribute out = RemoveTimeSamplesIfAllSame(strings);
  EXPECT_EQ(out, StringAttribute(&s, 1, 3));  // tuple size kept
  EXPECT_EQ(DataAttribute(out).getSampleTime(0), 0.0f);

  DoubleAttribute nans = series<DoubleAttribute, double>({1.0f, 2.0f}, {NAN, NAN});
  EXPECT_EQ(DataAttribute(RemoveTimeSamplesIfAllSame(nans)).getNumberOfTimeSamples(), 1);
}

TEST(CoreUtil, AnyDifferenceKeepsEverySample) {
  FloatAttribute signedZero = series<FloatAttribute, float>({0.0f, 1.0f}, {0.0f, -0.0f});
  EXPECT_EQ(RemoveTimeSamplesIfAllSame(signedZero)._data(), signedZero._data());
  IntAttribute different = series<IntAttribute, int32_t>({0.0f, 1.0f}, {1, 2});
  EXPECT_EQ(RemoveTimeSamplesIfAllSame(different)._data(), different._data());
  IntAttribute single = series<IntAttribute, int32_t>({5.0f}, {1});
  EXPECT_EQ(RemoveTimeSamplesIfAllSame(single)._data(), single._data());  // one sample stays
  EXPECT_EQ(RemoveTimeSamplesIfAllSame(NullAttribute()), NullAttribute());
  EXPECT_FALSE(RemoveTimeSamplesIfAllSame(Attribute()).isValid());
}

TEST(CoreUtil, AllSameRecursesThroughGroupsSharingWhatItKeeps) {
  IntAttribute same = series<IntAttribute, int32_t>({0.0f, 1.0f}, {7, 7});
  IntAttribute differs = series<IntAttribute, int32_t>({0.0f, 1.0f}, {7, 8});
  GroupAttribute untouched = GroupBuilder().set("d", differs).build();
  GroupAttribute g = GroupBuilder()
                         .set("a.b", same)
                         .set("keep", untouched)
                         .set("n", NullAttribute())
                         .setGroupInherit(false)
                         .build();
  GroupAttribute out(RemoveTimeSamplesIfAllSame(g));
  ASSERT_TRUE(out.isValid());
  EXPECT_FALSE(out.getGroupInherit());
  EXPECT_EQ(out.getChildByName("a.b"), IntAttribute(7));
  EXPECT_EQ(out.getChildByName("keep")._data(), untouched._data());
  EXPECT_EQ(out.getChildName(2), "n");
  GroupAttribute nothingToDo = GroupBuilder().set("x", untouched).build();
  EXPECT_EQ(RemoveTimeSamplesIfAllSame(nothingToDo)._data(), nothingToDo._data());
}

// ---- RemoveTimeSamplesUnneededForShutter ----

TEST(CoreUtil, ShutterKeepsInsideAndNearestOutside) {
  FloatAttribute a = series<FloatAttribute, float>({-2.0f, -1.0f, 0.0f, 0.5f, 1.0f, 2.0f, 3.0f},
                                                   {0, 1, 2, 3, 4, 5, 6});
  struct Case {
    float open, close;
    std::vector<float> times;
  } cases[] = {
      {0.0f, 1.0f, {-1.0f, 0.0f, 0.5f, 1.0f, 2.0f}},
      {1.0f, 0.0f, {-1.0f, 0.0f, 0.5f, 1.0f, 2.0f}},  // reversed shutter
      {0.2f, 0.4f, {0.0f, 0.5f}},                     // nothing inside
      {-10.0f, -5.0f, {-2.0f}},                       // all after
      {5.0f, 6.0f, {3.0f}},                           // all before
      {0.5f, 0.5f, {0.0f, 0.5f, 1.0f}},
      {-2.0f, 3.0f, {-2.0f, -1.0f, 0.0f, 0.5f, 1.0f, 2.0f, 3.0f}},
  };
  for (const Case& c : cases) {
    DataAttribute out(RemoveTimeSamplesUnneededForShutter(a, c.open, c.close));
    EXPECT_EQ(timesOf(out), c.times) << c.open << " " << c.close;
    // Each kept sample keeps its values.
    for (int64_t i = 0; i < out.getNumberOfTimeSamples(); ++i) {
      FloatAttribute f(out);
      int64_t original = a.getNearestSampleIndex(out.getSampleTime(i));
      EXPECT_EQ(f.getSample(i)[0], a.getSample(original)[0]);
    }
  }
  EXPECT_EQ(RemoveTimeSamplesUnneededForShutter(a, -2.0f, 3.0f)._data(), a._data());
  EXPECT_EQ(RemoveTimeSamplesUnneededForShutter(a, kNaN, 1.0f)._data(), a._data());
}

TEST(CoreUtil, ShutterRecurses) {
  StringAttribute s =
      series<StringAttribute, const char*>({-3.0f, -2.0f, 0.5f, 5.0f}, {"n", "a", "b", "c"});
  DataAttribute out(RemoveTimeSamplesUnneededForShutter(s, 0.0f, 1.0f));
  EXPECT_EQ(timesOf(out), (std::vector<float>{-2.0f, 0.5f, 5.0f}));
  GroupAttribute g = GroupBuilder().set("x.s", s).build();
  GroupAttribute gout(RemoveTimeSamplesUnneededForShutter(g, 0.0f, 1.0f));
  EXPECT_EQ(gout.getChildByName("x.s"), Attribute(out));
}

// ---- ResampleAttrWithInterp ----

TEST(CoreUtil, ResampleInterpolatesFloatsAndDoubles) {
  const float t[] = {0.0f, 1.0f};
  const float f0[] = {0.0f, 10.0f}, f1[] = {1.0f, 30.0f};
  const float* frows[] = {f0, f1};
  FloatAttribute f(t, 2, frows, 2, 2);
  const float targets[] = {-1.0f, 0.0f, 0.25f, 1.0f, 2.0f};
  FloatAttribute times(targets, 5, nullptr, 0, 1);
  FloatAttribute out(ResampleAttrWithInterp(f, times));
  ASSERT_TRUE(out.isValid());
  EXPECT_EQ(out.getTupleSize(), 2);
  EXPECT_EQ(timesOf(out), (std::vector<float>{-1.0f, 0.0f, 0.25f, 1.0f, 2.0f}));
  const float expected[5][2] = {{0, 10}, {0, 10}, {0.25f, 15}, {1, 30}, {1, 30}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_FLOAT_EQ(out.getSample(i)[0], expected[i][0]) << i;
    EXPECT_FLOAT_EQ(out.getSample(i)[1], expected[i][1]) << i;
  }

  const double d0 = -1.0, d1 = 3.0;
  const double* drows[] = {&d0, &d1};
  const float dt[] = {2.0f, 4.0f};
  DoubleAttribute d(dt, 2, drows, 1, 1);
  const float mid = 3.0f;
  DoubleAttribute dout(ResampleAttrWithInterp(d, FloatAttribute(&mid, 1, nullptr, 0, 1)));
  EXPECT_EQ(dout.getValue(0, true), 1.0);
  EXPECT_EQ(dout.getSampleTime(0), 3.0f);
}

TEST(CoreUtil, ResampleKeepsExactValuesAtSampleTimes) {
  // -0.0 and infinities at the sample times come back as they are.
  const float t[] = {0.0f, 1.0f, 2.0f};
  const double inf = std::numeric_limits<double>::infinity();
  const double v0 = -0.0, v1 = inf, v2 = inf;
  const double* rows[] = {&v0, &v1, &v2};
  DoubleAttribute d(t, 3, rows, 1, 1);
  DoubleAttribute out(ResampleAttrWithInterp(d, d));
  EXPECT_EQ(out, d);
  const float between = 1.5f;
  EXPECT_EQ(DoubleAttribute(ResampleAttrWithInterp(d, FloatAttribute(&between, 1, nullptr, 0, 1)))
                .getValue(0, true),
            inf);
}

TEST(CoreUtil, ResampleTakesNearestForIntsAndStrings) {
  IntAttribute i = series<IntAttribute, int32_t>({0.0f, 1.0f}, {10, 20});
  StringAttribute s = series<StringAttribute, const char*>({0.0f, 1.0f}, {"lo", "hi"});
  const float targets[] = {0.4f, 0.5f, 0.6f, 9.0f};
  FloatAttribute times(targets, 4, nullptr, 0, 1);
  IntAttribute iout(ResampleAttrWithInterp(i, times));
  StringAttribute sout(ResampleAttrWithInterp(s, times));
  const int32_t want[] = {10, 10, 20, 20};  // a tie takes the earlier sample
  const char* swant[] = {"lo", "lo", "hi", "hi"};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(iout.getSample(k)[0], want[k]) << k;
    EXPECT_STREQ(sout.getSample(k)[0], swant[k]) << k;
  }
}

TEST(CoreUtil, ResampleEdgeCases) {
  FloatAttribute f = series<FloatAttribute, float>({0.0f, 1.0f}, {0.0f, 1.0f});
  FloatAttribute noTimes(nullptr, 0, nullptr, 0, 1);
  EXPECT_EQ(ResampleAttrWithInterp(f, noTimes)._data(), f._data());
  EXPECT_EQ(ResampleAttrWithInterp(f, DataAttribute())._data(), f._data());
  EXPECT_EQ(ResampleAttrWithInterp(NullAttribute(), FloatAttribute(1.0f)), NullAttribute());
  EXPECT_FALSE(ResampleAttrWithInterp(Attribute(), FloatAttribute(1.0f)).isValid());
  // An attribute without samples stays as it is.
  EXPECT_EQ(ResampleAttrWithInterp(noTimes, FloatAttribute(1.0f))._data(), noTimes._data());
  // Target times taken from any kind of data.
  const float targets[] = {0.5f, 2.0f};
  const char* dummy[] = {"x", "y"};
  const char* const* rows[] = {dummy, dummy};
  StringAttribute stringTimes(targets, 2, rows, 1, 1);
  FloatAttribute out(ResampleAttrWithInterp(f, stringTimes));
  ASSERT_EQ(out.getNumberOfTimeSamples(), 2);
  EXPECT_FLOAT_EQ(out.getSample(0)[0], 0.5f);
  EXPECT_EQ(out.getSample(1)[0], 1.0f);  // past the end: the last sample
  // Groups: recursively, keeping names and the inherit flag.
  GroupAttribute g =
      GroupBuilder().set("a.f", f).set("n", NullAttribute()).setGroupInherit(false).build();
  const float half = 0.5f;
  GroupAttribute gout(ResampleAttrWithInterp(g, FloatAttribute(&half, 1, nullptr, 0, 1)));
  EXPECT_FALSE(gout.getGroupInherit());
  EXPECT_FLOAT_EQ(FloatAttribute(gout.getChildByName("a.f")).getValue(0, true), 0.5f);
  EXPECT_EQ(gout.getChildByName("n"), NullAttribute());
}

// ---- delimiter codec ----

TEST(CoreCodec, EncodesExactlyThreeBytes) {
  EXPECT_EQ(DelimiterEncode(""), "");
  EXPECT_EQ(DelimiterEncode("a.b/c%d"), "a%2Eb%2Fc%25d");
  EXPECT_EQ(DelimiterEncode("%2E"), "%252E");
  EXPECT_EQ(DelimiterEncode(std::string("\0.\xff", 3)), std::string("\0%2E\xff", 5));
  EXPECT_EQ(DelimiterEncode("a b#?&+"), "a b#?&+");
  EXPECT_EQ(DelimiterEncode("a.b").find('.'), std::string::npos);
}

TEST(CoreCodec, DecodesEitherCaseAndLeavesOtherEscapes) {
  EXPECT_EQ(DelimiterDecode("%2e%2E%2f%2F%25"), "..//%");
  EXPECT_EQ(DelimiterDecode("%41%2g%2%%"), "%41%2g%2%%");
  EXPECT_EQ(DelimiterDecode("%252E"), "%2E");  // one level only
  EXPECT_EQ(DelimiterDecode("abc%2"), "abc%2");
  EXPECT_EQ(DelimiterDecode("%"), "%");
  EXPECT_EQ(DelimiterDecode(std::string("%2E\0", 4)), std::string(".\0", 2));
}

TEST(CoreCodec, RoundTripsArbitraryBytes) {
  std::mt19937 rng(11);
  const char alphabet[] = {'%', '.', '/', '2', 'e', 'E', 'f', 'F', '5', 'a', '\0', '\xff'};
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    size_t n = rng() % 24;
    for (size_t i = 0; i < n; ++i)
      text += (rng() % 4) ? alphabet[rng() % sizeof alphabet] : static_cast<char>(rng() & 0xff);
    std::string encoded = DelimiterEncode(text);
    ASSERT_EQ(encoded.find('.'), std::string::npos);
    ASSERT_EQ(encoded.find('/'), std::string::npos);
    ASSERT_EQ(DelimiterDecode(encoded), text);
    // Lower-casing the escapes' hex digits changes nothing either.
    std::string lower = encoded;
    for (size_t i = 0; i + 2 < lower.size(); ++i)
      if (lower[i] == '%' && lower[i + 1] == '2')
        lower[i + 2] = static_cast<char>(std::tolower(lower[i + 2]));
    ASSERT_EQ(DelimiterDecode(lower), text);
  }
}

TEST(CoreCodec, EncodedNameIsOneChildInNormalMode) {
  const std::string name = "weird.name/with%dots.";
  GroupBuilder b;
  b.set(DelimiterEncode(name), IntAttribute(1));
  GroupAttribute g = b.build();
  ASSERT_EQ(g.getNumberOfChildren(), 1);
  EXPECT_EQ(DelimiterDecode(g.getChildName(0)), name);
}

}  // namespace
