// Input written to hurt: what the readers refuse and why, and how much memory the worst shapes
// may cost, counted by this program's own malloc.

#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Tessark/OvAttribute/OvAttribute.h"

namespace {

using namespace Tessark::internal::OvAttribute;

// Little-endian fields of the binary form, appended one after another.
struct Bytes {
  std::string s;
  Bytes& u8(uint8_t v) {
    s += static_cast<char>(v);
    return *this;
  }
  Bytes& u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) u8(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Bytes& u64(uint64_t v) {
    for (int i = 0; i < 8; ++i) u8(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Bytes& text(const std::string& t) {
    s += t;
    return *this;
  }
  Bytes& header() { return text("OVAB").u32(1); }
  Bytes& group(uint64_t children) { return u8(5).u8(1).u64(children); }
  Bytes& name(const std::string& n) { return u64(n.size()).text(n); }
  Bytes& null() { return u8(0).u8(0); }
};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OVATTR_TEST_OWNS_MALLOC 0  // the sanitizer's runtime owns malloc
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define OVATTR_TEST_OWNS_MALLOC 0
#else
#define OVATTR_TEST_OWNS_MALLOC 1
#endif
#else
#define OVATTR_TEST_OWNS_MALLOC 1
#endif

#if OVATTR_TEST_OWNS_MALLOC
// This test program's malloc counts the bytes every allocation in the process holds (the
// library's blocks, its containers, pugixml's tree), so that a parse's peak can be read.
// Resident memory would not do: a process reuses pages it freed before.
std::atomic<size_t> gLiveBytes{0};
std::atomic<size_t> gPeakBytes{0};

void noteAllocated(void* p) {
  if (!p) return;
  const size_t live = gLiveBytes += malloc_usable_size(p);
  size_t peak = gPeakBytes.load();
  while (live > peak && !gPeakBytes.compare_exchange_weak(peak, live)) {
  }
}
void noteFreed(void* p) {
  if (p) gLiveBytes -= malloc_usable_size(p);
}
#endif

// The most bytes that `work` holds at once beyond what was held before it ran, its result
// included; 0 where this program cannot count.
size_t peakBytesOf(const std::function<void()>& work) {
#if OVATTR_TEST_OWNS_MALLOC
  const size_t start = gLiveBytes.load();
  gPeakBytes = start;
  work();
  return gPeakBytes.load() - start;
#else
  work();
  return 0;
#endif
}

float timeOf(size_t i) { return static_cast<float>(i); }

// Shapes that cost the most memory per input byte, of about `size` bytes each: their binary and
// their XML form.
struct Shape {
  std::string label;
  std::string binary;
  std::string xml;
};

std::vector<Shape> worstShapes(size_t size) {
  std::vector<Shape> out;
  {  // Nested groups, each claiming as many children as the bytes after its count could hold.
    const size_t levels = size / 19;
    Bytes nest;
    nest.header();
    for (size_t i = 0; i < levels; ++i) nest.group((19 * (levels - i) - 8) / 11).name("g");
    std::string open, close;
    for (size_t i = 0; i < size / 60; ++i) {
      open += "<attr name=\"g\" type=\"group\" inherit=\"true\" children=\"" +
              std::to_string(size) + "\">";
      close += "</attr>";
    }
    out.push_back(
        {"claiming nest", nest.null().s, open + "<attr name=\"g\" type=\"null\"/>" + close});
  }
  {  // Groups nested as deep as a reader takes them.
    const size_t levels = std::min<size_t>(size / 19, 10000);
    Bytes b;
    b.header();
    std::string open, close;
    for (size_t i = 0; i < levels; ++i) {
      b.group(1).name("g");
      open += "<attr name=\"g\" type=\"group\" inherit=\"true\" children=\"1\">";
      close += "</attr>";
    }
    b.null();
    out.push_back({"deep nest", b.s, open + "<attr name=\"g\" type=\"null\"/>" + close});
  }
  {  // A group of null children with short names.
    const size_t children = size / 16;
    Bytes b;
    b.header().group(children);
    std::string xml;
    for (size_t i = 0; i < children; ++i) {
      const std::string name = std::to_string(i);
      b.name(name).null();
      xml += "<attr name=\"" + name + "\" type=\"null\"/>";
    }
    out.push_back({"wide group", b.s, xml});
  }
  {  // One sample of empty strings.
    const size_t strings = size / 8;
    Bytes b;
    b.header().u8(4).u8(0).u64(1).u64(strings).u64(1).u8(0).u8(0).u32(0);
    std::string xml;
    for (size_t i = 0; i < strings; ++i) {
      b.u64(0);
      xml += "<v/>";
    }
    out.push_back({"empty strings", b.s,
                   "<attr version=\"1\" type=\"string\" tupleSize=\"1\" values=\"" +
                       std::to_string(strings) + "\" samples=\"1\"><sample time=\"0\">" + xml +
                       "</sample></attr>"});
  }
  {  // Samples without values.
    const size_t samples = size / 4;
    Bytes b;
    b.header().u8(1).u8(0).u64(1).u64(0).u64(samples).u8(0).u8(0);
    std::string xml;
    for (size_t i = 0; i < samples; ++i) {
      float t = timeOf(i);
      uint32_t bits;
      std::memcpy(&bits, &t, 4);
      b.u32(bits);
      xml += "<sample time=\"" + std::to_string(i) + "\"/>";
    }
    out.push_back({"empty samples", b.s,
                   "<attr version=\"1\" type=\"int\" tupleSize=\"1\" values=\"0\" samples=\"" +
                       std::to_string(samples) + "\">" + xml + "</attr>"});
  }
  {  // One sample of one-digit numbers.
    const std::vector<int32_t> zeros(size / 2, 0);
    std::vector<char> blob;
    IntAttribute(zeros.data(), static_cast<int64_t>(zeros.size()), 1).getBinary(blob);
    std::string text;
    for (size_t i = 0; i < zeros.size(); ++i) text += "0 ";
    out.push_back({"short numbers", std::string(blob.begin(), blob.end()),
                   "<attr version=\"1\" type=\"int\" tupleSize=\"1\" values=\"" +
                       std::to_string(zeros.size()) + "\" samples=\"1\"><sample time=\"0\">" +
                       text + "</sample></attr>"});
  }
  for (Shape& shape : out) {
    if (shape.xml.rfind("<attr version", 0) != 0)
      shape.xml = "<attr version=\"1\" type=\"group\" inherit=\"true\" children=\"1\">" +
                  shape.xml + "</attr>";
  }
  return out;
}

}  // namespace

TEST(HostileInput, MemoryOfTheWorstShapes) {
  if (!OVATTR_TEST_OWNS_MALLOC) GTEST_SKIP() << "a sanitizer owns malloc in this build";
  for (const Shape& shape : worstShapes(size_t{1} << 20)) {
    const size_t binary =
        peakBytesOf([&] { Attribute::parseBinary(shape.binary.data(), shape.binary.size()); });
    const size_t xml = peakBytesOf([&] {
      try {
        Attribute::parseXML(shape.xml);
      } catch (const XmlParseError&) {
      }
    });
    // The bounds docs/formats.md states, the attribute that results included.
    EXPECT_LE(binary, 16 * shape.binary.size() + 65536) << shape.label;
    EXPECT_LE(xml, 32 * shape.xml.size() + 65536) << shape.label;
  }
}

TEST(HostileInput, BinaryRefusalsSayWhatAndWhere) {
  const std::string good = Bytes().header().group(2).name("a").null().name("b").null().s;
  const struct {
    std::string blob;
    const char* message;
  } cases[] = {
      {good.substr(0, 5), "shorter than the 8-byte header at byte 0"},
      {"OVAC" + good.substr(4), "no OVAB magic at byte 0"},
      {Bytes().text("OVAB").u32(2).null().s, "unsupported version 2 at byte 4"},
      {good + '\0', "bytes after the value at byte 40"},
      {good.substr(0, good.size() - 1), "2 children claim more bytes than remain at byte 10"},
      {Bytes().header().group(1).name("abc").u8(0).s, "truncated node at byte 29"},
      {Bytes().header().group(2).name("a").null().name("a").null().s,
       "repeated child name \"a\" in the group at byte 8"},
      {Bytes().header().group(1).name(std::string("a\0b", 3)).null().s,
       "a child name holds a NUL byte at byte 26"},
      {Bytes().header().group(1).name("").u8(0).null().s, "empty child name at byte 18"},
      {Bytes().header().group(1000).name("a").null().s,
       "1000 children claim more bytes than remain at byte 10"},
      // The outer group's second child needs bytes that the inner group claims too.
      {Bytes().header().group(2).name("a").group(2).name("b").null().s,
       "2 children claim more bytes than remain at byte 29"},
      {Bytes().header().u8(9).u8(0).s, "unknown kind 9 at byte 8"},
      {Bytes().header().u8(2).u8(0).u64(1).u64(1).u64(2).u8(0).u8(0).u32(0x3f800000).u32(0).s,
       "a sample time that is NaN or not above the one before at byte 40"},
      {Bytes().header().u8(2).u8(0).u64(1).u64(0).u64(1).u8(0).u8(0).u32(0x7fc00000).s,
       "a sample time that is NaN or not above the one before at byte 36"},
      {Bytes()
           .header()
           .u8(4)
           .u8(0)
           .u64(1)
           .u64(1)
           .u64(1)
           .u8(0)
           .u8(0)
           .u32(0)
           .u64(3)
           .text(std::string("a\0b", 3))
           .s,
       "a string value holds a NUL byte at byte 48"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(Attribute::parseBinary(c.blob.data(), c.blob.size(), &error).isValid());
    EXPECT_EQ(error, c.message);
  }
  std::string error = "stale";
  EXPECT_TRUE(Attribute::parseBinary(good.data(), good.size(), &error).isValid());
  EXPECT_EQ(error, "");
}

TEST(HostileInput, XmlRefusals) {
  auto strings = [](const std::string& v) {
    return "<attr version=\"1\" type=\"string\" tupleSize=\"1\" values=\"1\" samples=\"1\">"
           "<sample time=\"0\"><v>" +
           v + "</v></sample></attr>";
  };
  auto times = [](const char* a, const char* b) {
    return std::string(
               "<attr version=\"1\" type=\"int\" tupleSize=\"1\" values=\"0\" "
               "samples=\"2\"><sample time=\"") +
           a + "\"/><sample time=\"" + b + "\"/></attr>";
  };
  auto named = [](const std::string& name) {
    return "<attr version=\"1\" type=\"group\" inherit=\"true\" children=\"1\"><attr name=\"" +
           name + "\" type=\"null\"/></attr>";
  };
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {strings("a&#0;b"), "&#0; is not a reference to an XML character"},
      {strings("&#1;"), "&#1; is not a reference to an XML character"},
      {strings("&#xD800;"), "&#xD800; is not a reference to an XML character"},
      {strings("&#x110000;"), "&#x110000; is not a reference to an XML character"},
      {strings("&#x;"), "&#x; is not a reference to an XML character"},
      {strings("&xxe;"), "unknown entity &xxe;"},
      {strings("a & b"), "'&' that starts no reference"},
      {"<!DOCTYPE a [<!ENTITY e \"boom\">]>" + strings("&e;"), "unknown entity &e;"},
      {strings("%00"), "a string value cannot hold a NUL byte"},
      {named("a%00b"), "a child name holds a NUL byte"},
      {named("a&#0;"), "&#0; is not a reference"},
      {times("0", "0"), "sample time 0 is NaN or not above the one before"},
      {times("1", "-0"), "sample time -0 is NaN or not above the one before"},
      {times("nan", "1"), "sample time nan is NaN or not above the one before"},
      {times("1", "nan"), "sample time nan is NaN or not above the one before"},
  };
  for (const auto& c : cases) {
    try {
      Attribute::parseXML(c.text);
      ADD_FAILURE() << c.text;
    } catch (const XmlParseError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("(element at byte "), std::string::npos) << e.what();
    }
  }
  // What XML defines without a DTD still reads: the five entities and character references.
  StringAttribute read(Attribute::parseXML(strings("&lt;&gt;&amp;&quot;&apos;&#65;&#x263a;")));
  EXPECT_STREQ(read.getSample(0)[0], "<>&\"'A\xe2\x98\xba");
  EXPECT_EQ(GroupAttribute(Attribute::parseXML(named("&#x41;%41"))).getChildName(0), "AA");
}

TEST(HostileInput, UniqueNamesStayLinearWithDeletes) {
  // Each delete used to send the next unique name back to counting from 1: at this size that
  // was hours of work, and it is milliseconds now.
  GroupBuilder b;
  for (int i = 0; i < 200000; ++i) {
    b.setWithUniqueName("x", NullAttribute());
    b.set("tmp", NullAttribute()).del("tmp");
  }
  EXPECT_EQ(GroupAttribute(b.build(GroupBuilder::BuildAndRetain)).getNumberOfChildren(), 200000);
  // A deleted suffix is the next one handed out, and then the count goes on where it was.
  b.del("x17").del("x5");
  b.setWithUniqueName("x", NullAttribute()).setWithUniqueName("x", NullAttribute());
  b.setWithUniqueName("x", NullAttribute());
  GroupAttribute g = b.build();
  EXPECT_EQ(g.getChildName(g.getNumberOfChildren() - 3), "x5");
  EXPECT_EQ(g.getChildName(g.getNumberOfChildren() - 2), "x17");
  EXPECT_EQ(g.getChildName(g.getNumberOfChildren() - 1), "x200000");
}

#if OVATTR_TEST_OWNS_MALLOC
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void __libc_free(void* p);

void* malloc(size_t size) {
  void* p = __libc_malloc(size);
  noteAllocated(p);
  return p;
}
void* calloc(size_t count, size_t size) {
  void* p = __libc_calloc(count, size);
  noteAllocated(p);
  return p;
}
void* realloc(void* p, size_t size) {
  noteFreed(p);
  void* q = __libc_realloc(p, size);
  noteAllocated(q ? q : (size != 0 ? p : nullptr));
  return q;
}
void free(void* p) {
  noteFreed(p);
  __libc_free(p);
}
}
#endif
