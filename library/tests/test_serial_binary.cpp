// The binary form: its byte layout, and the refusal of every malformed or hostile blob.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "test_serial_support.h"

namespace {

using namespace Tessark::internal::OvAttribute;

std::vector<char> blobOf(const Attribute& a) {
  std::vector<char> blob;
  a.getBinary(blob);
  return blob;
}

Attribute parse(const std::vector<char>& blob) {
  return Attribute::parseBinary(blob.data(), blob.size());
}

// Writes blobs field by field, as the layout in docs/formats.md names them.
class Blob {
 public:
  Blob& header(uint32_t version = 1) {
    bytes("OVAB");
    return u32(version);
  }
  Blob& u8(uint8_t v) {
    m_bytes.push_back(static_cast<char>(v));
    return *this;
  }
  Blob& u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) u8(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Blob& u64(uint64_t v) {
    for (int i = 0; i < 8; ++i) u8(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Blob& bytes(const std::string& s) {
    m_bytes.insert(m_bytes.end(), s.begin(), s.end());
    return *this;
  }
  Blob& pad(size_t align) {
    while (m_bytes.size() % align != 0) u8(0);
    return *this;
  }
  // A data node's head: kind, flags, tuple size, values per sample, sample count.
  Blob& data(uint8_t kind, uint64_t tupleSize, uint64_t values, uint64_t samples) {
    return u8(kind).u8(0).u64(tupleSize).u64(values).u64(samples);
  }
  Blob& group(bool inherit, uint64_t children) {
    return u8(kAttrTypeGroup).u8(inherit ? 1 : 0).u64(children);
  }
  Blob& name(const std::string& s) { return u64(s.size()).bytes(s); }
  Blob& null() { return u8(kAttrTypeNull).u8(0); }
  // One int sample at time 0 holding `value`.
  Blob& oneInt(int32_t value) {
    return data(kAttrTypeInt, 1, 1, 1).pad(4).u32(0).u32(static_cast<uint32_t>(value));
  }
  const std::vector<char>& get() const { return m_bytes; }

 private:
  std::vector<char> m_bytes;
};

// ---------------------------------------------------------------------------------------------
// Layout

TEST(SerialBinaryLayout, IntAttribute) {
  std::vector<char> expected = Blob().header().oneInt(-7).get();
  EXPECT_EQ(blobOf(IntAttribute(-7)), expected);
  EXPECT_EQ(expected.size(), 44u);
}

TEST(SerialBinaryLayout, GroupWithPaddedDouble) {
  GroupBuilder b(GroupBuilder::BuilderModeStrict);
  b.set("x", DoubleAttribute(1.0));
  b.setGroupInherit(false);
  // Offsets: header 0-7, group 8-17, name 18-26, data head 27-52, pad 53-55, time 56-59,
  // pad 60-63, the double 64-71.
  Blob expected;
  expected.header().group(false, 1).name("x").data(kAttrTypeDouble, 1, 1, 1);
  expected.pad(4).u32(0).pad(8).u64(0x3ff0000000000000u);
  EXPECT_EQ(expected.get().size(), 72u);
  EXPECT_EQ(blobOf(b.build()), expected.get());
}

TEST(SerialBinaryLayout, StringsAndNull) {
  const char* values[] = {"ab", ""};
  Blob expected;
  expected.header().data(kAttrTypeString, 2, 2, 1).pad(4).u32(0x3f800000u);  // time 1.0
  expected.name("ab").name("");
  const float time = 1.0f;
  const char* const* rows[] = {values};
  EXPECT_EQ(blobOf(StringAttribute(&time, 1, rows, 2, 2)), expected.get());
  EXPECT_EQ(blobOf(NullAttribute()), Blob().header().null().get());
}

TEST(SerialBinaryLayout, ValueArraysAreAlignedForInPlaceUse) {
  for (const auto& [label, attribute] : serialtest::catalogue()) {
    SCOPED_TRACE(label);
    std::vector<char> blob = blobOf(attribute);
    EXPECT_TRUE(parse(blob) == attribute);
  }
  // Whatever the alignment of the caller's buffer, the blob reads the same.
  Attribute doubles = serialtest::catalogueEntry("double_negative_tuple");
  std::vector<char> blob = blobOf(doubles);
  std::vector<char> shifted(blob.size() + 16);
  for (size_t shift = 0; shift < 8; ++shift) {
    std::memcpy(shifted.data() + shift, blob.data(), blob.size());
    EXPECT_TRUE(Attribute::parseBinary(shifted.data() + shift, blob.size()) == doubles) << shift;
  }
}

// ---------------------------------------------------------------------------------------------
// Refusals

TEST(SerialBinaryReject, EmptyAndShortInput) {
  EXPECT_FALSE(Attribute::parseBinary(nullptr, 0).isValid());
  EXPECT_FALSE(Attribute::parseBinary(nullptr, 100).isValid());
  EXPECT_FALSE(Attribute::parseBinary("", 0).isValid());
  EXPECT_FALSE(parse(Blob().header().get()).isValid());
}

TEST(SerialBinaryReject, EveryTruncation) {
  for (const auto& [label, attribute] : serialtest::catalogue()) {
    std::vector<char> blob = blobOf(attribute);
    for (size_t n = 0; n < blob.size(); ++n)
      ASSERT_FALSE(Attribute::parseBinary(blob.data(), n).isValid()) << label << " cut at " << n;
  }
}

TEST(SerialBinaryReject, TrailingBytes) {
  std::vector<char> blob = blobOf(IntAttribute(1));
  blob.push_back('\0');
  EXPECT_FALSE(parse(blob).isValid());
  std::vector<char> twice = blobOf(IntAttribute(1));
  twice.insert(twice.end(), twice.begin(), twice.end());
  EXPECT_FALSE(parse(twice).isValid());
}

TEST(SerialBinaryReject, MagicAndVersion) {
  EXPECT_TRUE(parse(Blob().header(1).null().get()).isValid());
  EXPECT_FALSE(parse(Blob().header(0).null().get()).isValid());
  EXPECT_FALSE(parse(Blob().header(2).null().get()).isValid());
  EXPECT_FALSE(parse(Blob().header(0xffffffffu).null().get()).isValid());
  EXPECT_FALSE(parse(Blob().bytes("OVAb").u32(1).null().get()).isValid());
  EXPECT_FALSE(parse(Blob().bytes("BAVO").u32(1).null().get()).isValid());
}

TEST(SerialBinaryReject, KindsAndFlags) {
  for (int kind : {6, 7, 0x80, 0xff})
    EXPECT_FALSE(parse(Blob().header().u8(static_cast<uint8_t>(kind)).u8(0).get()).isValid())
        << kind;
  EXPECT_FALSE(parse(Blob().header().u8(kAttrTypeNull).u8(1).get()).isValid());
  EXPECT_FALSE(parse(Blob().header().u8(kAttrTypeGroup).u8(2).u64(0).get()).isValid());
  EXPECT_FALSE(parse(Blob().header().u8(kAttrTypeInt).u8(1).u64(1).u64(0).u64(0).get()).isValid());
}

TEST(SerialBinaryReject, PaddingMustBeZero) {
  Blob good;
  good.header().data(kAttrTypeInt, 1, 1, 1).pad(4).u32(0).u32(5);
  ASSERT_TRUE(parse(good.get()).isValid());
  std::vector<char> bad = good.get();
  bad[35] = 1;  // the pad between the data head (ends at 34) and the times
  EXPECT_FALSE(parse(bad).isValid());
}

TEST(SerialBinaryReject, HugeCounts) {
  const uint64_t kHuge[] = {uint64_t{1} << 62, uint64_t{1} << 63, ~uint64_t{0},
                            (~uint64_t{0}) / 4 + 1, (~uint64_t{0}) / 8 + 1};
  for (uint64_t huge : kHuge) {
    SCOPED_TRACE(huge);
    // Claimed samples, values per sample, string length, children, name length.
    EXPECT_FALSE(
        parse(Blob().header().data(kAttrTypeFloat, 1, 1, huge).pad(4).u32(0).get()).isValid());
    EXPECT_FALSE(parse(Blob().header().data(kAttrTypeFloat, 1, huge, 1).pad(4).u32(0).u32(0).get())
                     .isValid());
    EXPECT_FALSE(
        parse(Blob().header().data(kAttrTypeString, 1, huge, 2).pad(4).u64(0).get()).isValid());
    EXPECT_FALSE(parse(Blob()
                           .header()
                           .data(kAttrTypeString, 1, 1, 1)
                           .pad(4)
                           .u32(0)
                           .u64(huge)
                           .bytes("abc")
                           .get())
                     .isValid());
    EXPECT_FALSE(parse(Blob().header().group(true, huge).name("a").null().get()).isValid());
    EXPECT_FALSE(parse(Blob().header().group(true, 1).u64(huge).bytes("a").null().get()).isValid());
  }
}

TEST(SerialBinaryReject, CountsPastTheSignedRange) {
  // No samples: nothing is stored per value, so any count up to the signed maximum is fine.
  const uint64_t max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  Attribute most = parse(Blob().header().data(kAttrTypeDouble, 3, max, 0).pad(4).get());
  ASSERT_TRUE(most.isValid());
  EXPECT_EQ(DataAttribute(most).getNumberOfValues(), std::numeric_limits<int64_t>::max());
  EXPECT_TRUE(parse(blobOf(most)) == most);
  EXPECT_FALSE(parse(Blob().header().data(kAttrTypeDouble, 3, max + 1, 0).pad(4).get()).isValid());
}

TEST(SerialBinaryReject, NulInsideAString) {
  EXPECT_TRUE(parse(Blob().header().data(kAttrTypeString, 1, 1, 1).pad(4).u32(0).name("abc").get())
                  .isValid());
  EXPECT_FALSE(parse(Blob()
                         .header()
                         .data(kAttrTypeString, 1, 1, 1)
                         .pad(4)
                         .u32(0)
                         .name(std::string("a\0c", 3))
                         .get())
                   .isValid());
}

TEST(SerialBinaryReject, ChildNames) {
  EXPECT_TRUE(
      parse(Blob().header().group(true, 2).name("a").null().name("b").null().get()).isValid());
  EXPECT_FALSE(
      parse(Blob().header().group(true, 2).name("a").null().name("a").null().get()).isValid());
  EXPECT_FALSE(parse(Blob().header().group(true, 1).name("").null().get()).isValid());
  // Any byte but NUL may stand in a name.
  Attribute g = parse(Blob().header().group(true, 1).name("\1.\xff").null().get());
  ASSERT_TRUE(g.isValid());
  EXPECT_EQ(GroupAttribute(g).getChildName(0), "\1.\xff");
  EXPECT_FALSE(
      parse(Blob().header().group(true, 1).name(std::string("a\0b", 3)).null().get()).isValid());
}

std::vector<char> nestedBlob(size_t depth) {
  Blob b;
  b.header();
  for (size_t i = 0; i < depth; ++i) b.group(true, 1).name("g");
  b.null();
  return b.get();
}

TEST(SerialBinaryReject, DepthLimit) {
  Attribute deepest = parse(nestedBlob(10000));
  ASSERT_TRUE(deepest.isValid());
  EXPECT_EQ(blobOf(deepest), nestedBlob(10000));
  EXPECT_FALSE(parse(nestedBlob(10001)).isValid());
  EXPECT_FALSE(parse(nestedBlob(100000)).isValid());
  // An empty group is a level too.
  Blob b;
  b.header();
  for (size_t i = 0; i < 10000; ++i) b.group(true, 1).name("g");
  b.group(true, 0);
  EXPECT_FALSE(parse(b.get()).isValid());
}

// Flipping any byte either breaks the blob or gives another attribute whose own blob reads back
// to it; nothing reads out of bounds (the sanitizer builds and the fuzzers check that part).
TEST(SerialBinaryReject, FlippedBytes) {
  for (const char* label : {"float_samples", "awkward_strings", "awkward_names", "nested_50",
                            "float_specials", "zero_samples"}) {
    std::vector<char> blob = blobOf(serialtest::catalogueEntry(label));
    size_t refused = 0;
    for (size_t i = 0; i < blob.size(); ++i) {
      for (unsigned mask : {0x01u, 0x80u, 0xffu}) {
        std::vector<char> bad = blob;
        bad[i] = static_cast<char>(bad[i] ^ mask);
        Attribute a = parse(bad);
        if (!a.isValid()) {
          ++refused;
          continue;
        }
        ASSERT_TRUE(parse(blobOf(a)) == a) << label << " byte " << i << " mask " << mask;
      }
      // The magic and version bytes always matter.
      if (i < 8) {
        std::vector<char> bad = blob;
        bad[i] = static_cast<char>(bad[i] ^ 0x40);
        EXPECT_FALSE(parse(bad).isValid()) << label << " header byte " << i;
      }
    }
    EXPECT_GT(refused, 0u) << label;
  }
}

}  // namespace
