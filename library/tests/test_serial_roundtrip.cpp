// Both serial forms carry every attribute back to an equal one, bit for bit.

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "Tessark/OvAttribute/Testing.h"
#include "test_serial_support.h"

namespace {

using namespace Tessark::internal::OvAttribute;
using serialtest::makeData;
using serialtest::plainSamples;
using serialtest::Samples;

Attribute viaXml(const Attribute& a) { return Attribute::parseXML(a.getXML()); }

Attribute viaBinary(const Attribute& a) {
  std::vector<char> blob;
  a.getBinary(blob);
  return Attribute::parseBinary(blob.data(), blob.size());
}

// Equal by operator== and by hash, same kind, and each form is canonical: writing the parsed
// attribute again gives the same text and the same bytes.
void expectRoundTrips(const Attribute& a, const std::string& label) {
  SCOPED_TRACE(label);
  const std::string xml = a.getXML();
  Attribute fromXml = Attribute::parseXML(xml);
  ASSERT_TRUE(fromXml.isValid());
  EXPECT_EQ(fromXml.getType(), a.getType());
  EXPECT_TRUE(fromXml == a);
  EXPECT_EQ(fromXml.getHash(), a.getHash());
  EXPECT_EQ(fromXml.getXML(), xml);

  std::vector<char> blob;
  a.getBinary(blob);
  Attribute fromBinary = Attribute::parseBinary(blob.data(), blob.size());
  ASSERT_TRUE(fromBinary.isValid());
  EXPECT_EQ(fromBinary.getType(), a.getType());
  EXPECT_TRUE(fromBinary == a);
  EXPECT_EQ(fromBinary.getHash(), a.getHash());
  std::vector<char> again;
  fromBinary.getBinary(again);
  EXPECT_EQ(again, blob);
}

// The values and times of two data attributes, compared as bytes rather than through the hash.
template <typename T>
void expectSameBits(const TypedDataAttribute<T>& a, const TypedDataAttribute<T>& b) {
  ASSERT_EQ(a.getNumberOfTimeSamples(), b.getNumberOfTimeSamples());
  ASSERT_EQ(a.getNumberOfValues(), b.getNumberOfValues());
  EXPECT_EQ(a.getTupleSize(), b.getTupleSize());
  for (int64_t i = 0; i < a.getNumberOfTimeSamples(); ++i) {
    float ta = a.getSampleTime(i);
    float tb = b.getSampleTime(i);
    EXPECT_EQ(std::memcmp(&ta, &tb, sizeof ta), 0) << "time " << i;
    ConstVector<T> va = a.getSample(i);
    ConstVector<T> vb = b.getSample(i);
    ASSERT_EQ(va.size(), vb.size());
    for (size_t k = 0; k < va.size(); ++k) {
      if constexpr (std::is_same_v<T, const char*>) {
        EXPECT_STREQ(va[k], vb[k]);
      } else {
        EXPECT_EQ(std::memcmp(&va[k], &vb[k], sizeof(T)), 0) << "sample " << i << " value " << k;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Every data kind, every shape

template <typename T>
class SerialRoundTripTyped : public ::testing::Test {};
using DataKinds = ::testing::Types<int32_t, float, double, const char*>;
TYPED_TEST_SUITE(SerialRoundTripTyped, DataKinds);

TYPED_TEST(SerialRoundTripTyped, SingleValue) {
  auto v = serialtest::plainValue<TypeParam>(3);
  if constexpr (std::is_same_v<TypeParam, const char*>) {
    expectRoundTrips(TypedDataAttribute<TypeParam>(v.c_str()), "single");
  } else {
    expectRoundTrips(TypedDataAttribute<TypeParam>(v), "single");
  }
}

TYPED_TEST(SerialRoundTripTyped, ShapesOfSamplesAndTuples) {
  expectRoundTrips(
      makeData<TypeParam>({0.0f, 0.5f, 1.0f, 7.25f}, plainSamples<TypeParam>(4, 7), 7, 3),
      "4 samples of 7 values in tuples of 3");
  expectRoundTrips(makeData<TypeParam>({-2.0f}, plainSamples<TypeParam>(1, 5), 5, 0),
                   "tuple size 0");
  expectRoundTrips(makeData<TypeParam>({1.0f, 2.0f}, plainSamples<TypeParam>(2, 3), 3, -4),
                   "negative tuple size");
  expectRoundTrips(makeData<TypeParam>({0.0f, 1.0f, 2.0f}, plainSamples<TypeParam>(3, 0), 0, 1),
                   "samples without values");
  expectRoundTrips(makeData<TypeParam>({}, {}, 0, 1), "no samples");
  expectRoundTrips(makeData<TypeParam>({}, {}, 9, 3), "no samples, nine values each");
  expectRoundTrips(makeData<TypeParam>({3.0f, -1.0f, 2.0f}, plainSamples<TypeParam>(3, 1), 1, 1),
                   "times given out of order");
}

TYPED_TEST(SerialRoundTripTyped, ManyValues) {
  expectRoundTrips(makeData<TypeParam>({0.0f, 1.0f}, plainSamples<TypeParam>(2, 10001), 10001, 1),
                   "two samples of 10001 values");
}

TYPED_TEST(SerialRoundTripTyped, SpecialSampleTimes) {
  const float inf = std::numeric_limits<float>::infinity();
  auto a = makeData<TypeParam>({-inf, -0.0f, 1e-45f, 3.4028235e38f, inf},
                               plainSamples<TypeParam>(5, 1), 1, 1);
  expectRoundTrips(a, "special times");
  expectSameBits(a, TypedDataAttribute<TypeParam>(viaXml(a)));
  expectSameBits(a, TypedDataAttribute<TypeParam>(viaBinary(a)));
}

// ---------------------------------------------------------------------------------------------
// Values that text forms usually lose

template <typename F>
class SerialRoundTripFloat : public ::testing::Test {};
using FloatKinds = ::testing::Types<float, double>;
TYPED_TEST_SUITE(SerialRoundTripFloat, FloatKinds);

template <typename F>
F withBits(typename std::conditional_t<sizeof(F) == 4, uint32_t, uint64_t> bits) {
  F f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

TYPED_TEST(SerialRoundTripFloat, EveryAwkwardValueKeepsItsBits) {
  using F = TypeParam;
  using L = std::numeric_limits<F>;
  std::vector<F> values = {0,
                           -F(0),
                           F(0.1),
                           F(1) / F(3),
                           L::max(),
                           L::lowest(),
                           L::min(),
                           L::denorm_min(),
                           -L::denorm_min(),
                           L::epsilon(),
                           L::infinity(),
                           -L::infinity(),
                           L::quiet_NaN(),
                           -L::quiet_NaN(),
                           L::signaling_NaN(),
                           F(123456789),
                           F(1e-7),
                           F(-9.875e20)};
  if constexpr (sizeof(F) == 4) {
    for (uint32_t bits : {0x7f800001u, 0x7fbfffffu, 0xffc00001u, 0x7fffffffu, 0xffffffffu})
      values.push_back(withBits<F>(bits));
  } else {
    for (uint64_t bits : {0x7ff0000000000001u, 0x7ff8000000000123u, 0xfff0000000000001u,
                          0x7fffffffffffffffu, 0xffffffffffffffffu})
      values.push_back(withBits<F>(bits));
  }
  Samples<F> samples = {values};
  auto a = makeData<F>({0.0f}, samples, static_cast<int64_t>(values.size()), 1);
  expectRoundTrips(a, "awkward floats");
  expectSameBits(a, TypedDataAttribute<F>(viaXml(a)));
  expectSameBits(a, TypedDataAttribute<F>(viaBinary(a)));
}

TEST(SerialRoundTripInt, Extremes) {
  const int32_t values[] = {std::numeric_limits<int32_t>::min(), -1, 0, 1,
                            std::numeric_limits<int32_t>::max()};
  expectRoundTrips(IntAttribute(values, 5, 5), "int extremes");
}

TEST(SerialRoundTripString, AwkwardBytes) {
  for (const std::string& s : serialtest::awkwardStrings())
    expectRoundTrips(StringAttribute(s), "string \"" + s + "\"");
  std::vector<std::string> all = serialtest::awkwardStrings();
  auto a = makeData<const char*>({0.0f, 1.0f}, {all, all}, static_cast<int64_t>(all.size()), 2);
  expectRoundTrips(a, "all awkward strings in two samples");
  expectSameBits(a, StringAttribute(viaXml(a)));
  expectSameBits(a, StringAttribute(viaBinary(a)));
}

// ---------------------------------------------------------------------------------------------
// Null, groups, depth, odd handles

TEST(SerialRoundTripOther, CatalogueOfEveryKind) {
  for (const auto& [label, attribute] : serialtest::catalogue()) expectRoundTrips(attribute, label);
}

TEST(SerialRoundTripOther, GroupNamesAndInheritFlags) {
  GroupBuilder b(GroupBuilder::BuilderModeStrict);
  int i = 0;
  for (const std::string& name : serialtest::awkwardNames()) {
    GroupBuilder inner(GroupBuilder::BuilderModeStrict);
    inner.setGroupInherit(i % 2 == 0);
    inner.set(name, IntAttribute(i));
    b.set(name, inner.build());
    ++i;
  }
  GroupAttribute g = b.build();
  expectRoundTrips(g, "awkward names");
  for (Attribute parsed : {viaXml(g), viaBinary(g)}) {
    GroupAttribute p(parsed);
    ASSERT_EQ(p.getNumberOfChildren(), g.getNumberOfChildren());
    for (int64_t k = 0; k < g.getNumberOfChildren(); ++k) {
      EXPECT_EQ(p.getChildName(k), g.getChildName(k));
      EXPECT_EQ(GroupAttribute(p.getChildByIndex(k)).getGroupInherit(),
                GroupAttribute(g.getChildByIndex(k)).getGroupInherit());
    }
  }
}

TEST(SerialRoundTripOther, NestedTenThousandLevels) {
  Attribute deep = serialtest::deepGroup(10000);
  expectRoundTrips(deep, "10000 levels");
}

TEST(SerialRoundTripOther, WideGroup) { expectRoundTrips(serialtest::wideGroup(10000), "10000"); }

TEST(SerialRoundTripOther, UnknownTagIsWrittenAsNull) {
  Attribute odd = Tessark::internal::OvAttribute::testing::MakeAttributeWithTypeTag(17);
  EXPECT_TRUE(viaXml(odd) == NullAttribute());
  EXPECT_TRUE(viaBinary(odd) == NullAttribute());
  EXPECT_EQ(viaXml(odd).getType(), kAttrTypeNull);
  EXPECT_EQ(viaBinary(odd).getType(), kAttrTypeNull);
}

TEST(SerialRoundTripOther, InvalidHandleHasNoForm) {
  Attribute invalid;
  EXPECT_EQ(invalid.getXML(), "");
  std::vector<char> blob = {'x', 'y'};
  invalid.getBinary(blob);
  EXPECT_TRUE(blob.empty());
}

TEST(SerialRoundTripOther, GetBinaryReplacesWhatTheVectorHeld) {
  std::vector<char> fresh;
  IntAttribute(5).getBinary(fresh);
  std::vector<char> used(1000, 'x');
  IntAttribute(5).getBinary(used);
  EXPECT_EQ(used, fresh);
}

}  // namespace
