// Hashing and equality: same values by any route hash alike, any changed bit shows, the text
// form, caching and stability.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "test_core_helpers.h"

namespace {

using namespace Tessark::internal::OvAttribute;

float floatFromBits(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

double doubleFromBits(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

TEST(CoreHash, TextIsFirstThenSecondInLowerCaseHex) {
  EXPECT_EQ((Hash{0x0123456789abcdefULL, 0xfedcba9876543210ULL}.str()),
            "0123456789abcdeffedcba9876543210");
  EXPECT_EQ((Hash{0, 1}.str()), "00000000000000000000000000000001");
  EXPECT_EQ(Hash{}.str(), std::string(32, '0'));
}

TEST(CoreHash, InvalidHandles) {
  EXPECT_EQ(Attribute().getHash(), Hash{});
  EXPECT_EQ(Attribute(), Attribute());
  EXPECT_NE(Attribute(), Attribute(NullAttribute()));
  EXPECT_NE(Attribute(NullAttribute()), Attribute());
}

// Pinned: the hash is stable across runs and builds, so a change here is a format change that
// every stored hash would notice.
TEST(CoreHash, KnownValuesAreStable) {
  EXPECT_EQ(NullAttribute().getHash().str(), "45c3b49d035665b22c0a8a99dc147d54");
  EXPECT_EQ(IntAttribute(1).getHash().str(), "0b204dadef29eb3cbd7ba7397c87da1f");
  const char* s[] = {"a", "bc"};
  EXPECT_EQ(StringAttribute(s, 2, 2).getHash().str(), "0ea07b7173b9e9efb402dd50f7ea56e7");
  GroupAttribute g = GroupBuilder().set("x", FloatAttribute(0.5f)).setGroupInherit(false).build();
  EXPECT_EQ(g.getHash().str(), "36c370b5bcf8667b43eb5e6a13a77812");
}

TEST(CoreHash, SameValueByEveryRouteHashesAlike) {
  const int32_t v[] = {4, 5, 6};
  const float zero = 0.0f;
  const int32_t* rows[] = {v};
  IntAttribute byArray(v, 3, 3);
  IntAttribute byTimes(&zero, 1, rows, 3, 3);
  EXPECT_EQ(byArray.getHash(), byTimes.getHash());
  EXPECT_EQ(byArray, byTimes);
  EXPECT_EQ(IntAttribute(4), IntAttribute(v, 1, 1));

  // Time order given differently, same samples.
  const float t1[] = {0.0f, 1.0f}, t2[] = {1.0f, 0.0f};
  const int32_t a[] = {1}, b[] = {2};
  const int32_t* r1[] = {a, b};
  const int32_t* r2[] = {b, a};
  EXPECT_EQ(IntAttribute(t1, 2, r1, 1, 1), IntAttribute(t2, 2, r2, 1, 1));

  // Strings from different buffers.
  std::string x = "same", y = "same";
  EXPECT_EQ(StringAttribute(x), StringAttribute(y.c_str()));
}

TEST(CoreHash, GroupsByEveryRouteHashAlike) {
  IntAttribute one(1);
  StringAttribute two("two");
  GroupAttribute inner = GroupBuilder().set("b", one).set("c", two).build();
  GroupAttribute direct = GroupBuilder().set("a", inner).set("d", one).build();

  GroupAttribute byPath = GroupBuilder().set("a.b", one).set("a.c", two).set("d", one).build();
  EXPECT_EQ(byPath, direct);

  GroupBuilder updated;
  updated.update(direct);
  EXPECT_EQ(updated.build(), direct);

  GroupBuilder deep;
  deep.set("a.b", one).deepUpdate(GroupBuilder().set("a.c", two).set("d", one).build());
  EXPECT_EQ(deep.build(), direct);

  GroupBuilder sorted;
  sorted.set("d", one).set("a", inner).sort();
  EXPECT_EQ(sorted.build(), direct);

  GroupBuilder replaced;
  replaced.set("a", one).set("d", one).set("a", inner);
  EXPECT_EQ(replaced.build(), direct);
}

TEST(CoreHash, ParsedFormsHashAlike) {
  const float times[] = {0.5f, -1.0f};
  const double r0[] = {-0.0, 1e300}, r1[] = {std::numeric_limits<double>::quiet_NaN(), 2.0};
  const double* rows[] = {r0, r1};
  const char* words[] = {"a b", "\x01<&>\xff", ""};
  std::vector<Attribute> values = {
      NullAttribute(),
      IntAttribute(-5),
      FloatAttribute(-0.0f),
      DoubleAttribute(times, 2, rows, 2, 3),
      StringAttribute(words, 3, 2),
      GroupBuilder()
          .set("a.b", IntAttribute(1), false)
          .set("s", StringAttribute("x"))
          .setGroupInherit(false)
          .build(),
      GroupBuilder().build(),
  };
  for (const Attribute& a : values) {
    std::vector<char> bytes;
    a.getBinary(bytes);
    Attribute fromBinary = Attribute::parseBinary(bytes.data(), bytes.size());
    EXPECT_EQ(fromBinary.getHash(), a.getHash()) << a.getType();
    Attribute fromXml = Attribute::parseXML(a.getXML());
    EXPECT_EQ(fromXml.getHash(), a.getHash()) << a.getXML();
  }
}

TEST(CoreHash, EveryValueBitCounts) {
  const float base = 1.0f;
  uint32_t bits;
  std::memcpy(&bits, &base, sizeof bits);
  const Hash h = FloatAttribute(base).getHash();
  for (int bit = 0; bit < 32; ++bit)
    EXPECT_NE(FloatAttribute(floatFromBits(bits ^ (1u << bit))).getHash(), h) << bit;
  const Hash hd = DoubleAttribute(1.0).getHash();
  for (int bit = 0; bit < 64; ++bit)
    EXPECT_NE(DoubleAttribute(doubleFromBits(0x3ff0000000000000ULL ^ (1ULL << bit))).getHash(), hd)
        << bit;
  for (int bit = 0; bit < 32; ++bit)
    EXPECT_NE(IntAttribute(static_cast<int32_t>(1u << bit)), IntAttribute(0)) << bit;
}

TEST(CoreHash, EveryTimeBitCounts) {
  const float value = 3.0f;
  const float* rows[] = {&value};
  const float t0 = 0.25f;
  uint32_t bits;
  std::memcpy(&bits, &t0, sizeof bits);
  const Hash h = FloatAttribute(&t0, 1, rows, 1, 1).getHash();
  for (int bit = 0; bit < 32; ++bit) {
    const float t = floatFromBits(bits ^ (1u << bit));
    EXPECT_NE(FloatAttribute(&t, 1, rows, 1, 1).getHash(), h) << bit;
  }
}

TEST(CoreHash, NaNAndSignedZeroAreBitwise) {
  const float nan1 = floatFromBits(0x7fc00000u), nan2 = floatFromBits(0x7fc00001u);
  EXPECT_EQ(FloatAttribute(nan1), FloatAttribute(nan1));
  EXPECT_NE(FloatAttribute(nan1), FloatAttribute(nan2));
  EXPECT_NE(FloatAttribute(-0.0f), FloatAttribute(0.0f));
  EXPECT_NE(DoubleAttribute(-0.0), DoubleAttribute(0.0));
  const float v = 1.0f;
  const float* rows[] = {&v};
  const float negZero = -0.0f;
  EXPECT_NE(FloatAttribute(&negZero, 1, rows, 1, 1), FloatAttribute(v));
}

TEST(CoreHash, ShapeKindAndSplitCount) {
  const int32_t v[] = {1, 2, 3, 4};
  EXPECT_NE(IntAttribute(v, 4, 1), IntAttribute(v, 4, 2));
  EXPECT_NE(IntAttribute(v, 4, 0), IntAttribute(v, 4, -1));
  EXPECT_NE(IntAttribute(v, 4, 1), IntAttribute(v, 3, 1));
  // Same value bits, different kinds.
  EXPECT_NE(IntAttribute(0), FloatAttribute(0.0f));
  EXPECT_NE(Attribute(IntAttribute(nullptr, 0, 1)), Attribute(FloatAttribute(nullptr, 0, 1)));
  EXPECT_NE(Attribute(IntAttribute(nullptr, 0, 1)), Attribute(NullAttribute()));
  EXPECT_NE(Attribute(GroupBuilder().build()), Attribute(NullAttribute()));
  // The same bytes as two samples of two or one sample of four.
  const float times[] = {0.0f, 1.0f};
  const int32_t* rows[] = {v, v + 2};
  EXPECT_NE(IntAttribute(times, 2, rows, 2, 1), IntAttribute(v, 4, 1));
  // Strings split differently.
  const char* ab_c[] = {"ab", "c"};
  const char* a_bc[] = {"a", "bc"};
  EXPECT_NE(StringAttribute(ab_c, 2, 1), StringAttribute(a_bc, 2, 1));
  const char* empty2[] = {"", ""};
  const char* empty1[] = {""};
  EXPECT_NE(StringAttribute(empty2, 2, 1), StringAttribute(empty1, 1, 1));
}

TEST(CoreHash, GroupNamesOrderAndInherit) {
  IntAttribute one(1), two(2);
  auto make = [](const char* n1, const Attribute& a1, const char* n2, const Attribute& a2,
                 bool inherit) {
    return GroupBuilder().set(n1, a1).set(n2, a2).setGroupInherit(inherit).build();
  };
  GroupAttribute g = make("a", one, "b", two, true);
  EXPECT_EQ(g, make("a", one, "b", two, true));
  EXPECT_NE(g, make("b", two, "a", one, true));   // order
  EXPECT_NE(g, make("a", one, "c", two, true));   // name
  EXPECT_NE(g, make("a", one, "b", one, true));   // child value
  EXPECT_NE(g, make("a", one, "b", two, false));  // inherit flag
  // Names and children must not run together.
  EXPECT_NE(make("ab", one, "c", two, true), make("a", one, "bc", two, true));
  // Names are bytes: every one of them counts.
  GroupBuilder withControl(GroupBuilder::BuilderModeStrict);
  withControl.set(Platform::StringView("a\1b", 3), one);
  GroupBuilder plain(GroupBuilder::BuilderModeStrict);
  plain.set(Platform::StringView("a\1c", 3), one);
  EXPECT_NE(withControl.build(), plain.build());
}

TEST(CoreHash, HashIsCachedInTheBlock) {
  std::vector<float> values(1000, 2.0f);
  FloatAttribute a(values.data(), 1000, 1);
  EXPECT_EQ(a._data()->hashReady.load(), 0u);
  const Hash h = a.getHash();
  EXPECT_EQ(a._data()->hashReady.load(), 1u);
  Attribute copy = a;
  EXPECT_EQ(copy.getHash(), h);
  EXPECT_EQ(copy.getHash().str(), h.str());
}

TEST(CoreHash, EqualityOfCopiesSkipsHashing) {
  FloatAttribute a(1.0f);
  Attribute b = a;
  EXPECT_TRUE(a == b);
  EXPECT_EQ(a._data()->hashReady.load(), 0u);  // same block: equal without hashing
}

}  // namespace
