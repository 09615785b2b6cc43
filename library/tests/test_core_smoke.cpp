// First checks of the core: one of each kind made, read back, shared, grouped and hashed.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "Tessark/OvAttribute/OvAttribute.h"
#include "Tessark/OvAttribute/Testing.h"

namespace {

using namespace Tessark::internal::OvAttribute;

TEST(CoreSmoke, HandleIsOnePointer) { EXPECT_EQ(sizeof(Attribute), sizeof(void*)); }

TEST(CoreSmoke, TypedValuesReadBack) {
  const int32_t ints[] = {1, 2, 3, 4};
  IntAttribute a(ints, 4, 2);
  EXPECT_EQ(a.getType(), kAttrTypeInt);
  EXPECT_EQ(a.getNumberOfValues(), 4);
  EXPECT_EQ(a.getNumberOfTuples(), 2);
  EXPECT_EQ(a.getNumberOfTimeSamples(), 1);
  ConstVector<int32_t> v = a.getNearestSample(0.0f);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[3], 4);
  EXPECT_EQ(FloatAttribute(2.5f).getValue(0.0f, true), 2.5f);
  EXPECT_EQ(DoubleAttribute(0.25).getValue(0.0, true), 0.25);
  EXPECT_EQ(StringAttribute("abc").getValue("", true), "abc");
  EXPECT_EQ(StringAttribute(static_cast<const char*>(nullptr)).getValue("x", true), "");
}

TEST(CoreSmoke, CopiesShareAndCompareEqual) {
  IntAttribute a(7);
  Attribute b = a;
  EXPECT_EQ(a._data(), b._data());
  EXPECT_EQ(a, b);
  EXPECT_EQ(IntAttribute(7), a);
  EXPECT_NE(IntAttribute(8), a);
  EXPECT_NE(FloatAttribute(7.0f), Attribute(a));
  EXPECT_EQ(NullAttribute(), NullAttribute());
  EXPECT_EQ(a.getHash().str().size(), 32u);
}

TEST(CoreSmoke, BuilderMakesGroups) {
  GroupBuilder b;
  b.set("a.b", IntAttribute(1)).set("c", StringAttribute("x"));
  GroupAttribute g = b.build();
  ASSERT_TRUE(g.isValid());
  EXPECT_EQ(g.getNumberOfChildren(), 2);
  EXPECT_EQ(g.getChildName(0), "a");
  EXPECT_EQ(g.getChildByName("a.b"), IntAttribute(1));
  EXPECT_EQ(g.getChildIndex("c"), 1);
  GroupBuilder strict(GroupBuilder::BuilderModeStrict);
  GroupAttribute s = strict.set("a.b", IntAttribute(1)).build();
  EXPECT_EQ(s.getChildName(0), "a.b");
  EXPECT_EQ(b.build().getNumberOfChildren(), 0);
}

TEST(CoreSmoke, TypeTagHook) {
  Attribute odd = Tessark::internal::OvAttribute::testing::MakeAttributeWithTypeTag(42);
  EXPECT_TRUE(odd.isValid());
  EXPECT_EQ(static_cast<int>(odd.getType()), 42);
  EXPECT_EQ(odd.getHash(), NullAttribute().getHash());
}

TEST(CoreSmoke, Utilities) {
  EXPECT_EQ(DelimiterEncode("a.b/c%"), "a%2Eb%2Fc%25");
  EXPECT_EQ(DelimiterDecode("a%2eb%2Fc%25%41"), "a.b/c%%41");
}

}  // namespace
