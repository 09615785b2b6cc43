// The two serial forms: kept files and random attributes round-trip byte for byte, and damaged
// or hostile input is refused, saying what and where, within the memory docs/formats.md states.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "../fuzz/ParseMemory.h"
#include "../fuzz/Readers.h"
#include "support.h"

namespace libtest {
namespace {

namespace fs = std::filesystem;
const fs::path kSource = fs::path(__FILE__).parent_path().parent_path().parent_path();
const fs::path kCorpus = kSource / "library" / "fuzz" / "corpus";

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The message of the XmlParseError that `text` raises; "" (and a failure) when it parses.
std::string xmlRefusal(const std::string& text) {
  Attribute a;
  const std::string refusal = ovattr_fuzz::refusal(a, [&] { return Attribute::parseXML(text); });
  EXPECT_NE(refusal, "") << "parsed: " << text;
  return refusal;
}

std::string dataXml(const std::string& type, const std::string& values, const std::string& samples,
                    const std::string& body) {
  return "<attr version=\"1\" type=\"" + type + "\" tupleSize=\"1\" values=\"" + values +
         "\" samples=\"" + samples + "\">" + body + "</attr>";
}

// A group's start tag, named or, without a name, the root's.
std::string groupXml(size_t children, const std::string& name = "") {
  return (name.empty() ? "<attr version=\"1\"" : "<attr name=\"" + name + "\"") +
         " type=\"group\" inherit=\"true\" children=\"" + std::to_string(children) + "\">";
}

using Forms = std::pair<std::string, std::string>;  // binary, XML

// Groups `levels` deep in both forms, each holding one "g", the last a null or an empty group;
// with `claim`, each group claims all the children the rest of the blob could hold.
Forms nest(size_t levels, bool emptyLast = false, bool claim = false) {
  Bytes b;
  b.header();
  std::string open, close;
  for (size_t i = 0; i < levels; ++i, close += "</attr>") {
    b.group(claim ? (19 * (levels - i) - 8) / 11 : 1).name("g");
    open += groupXml(claim ? 19 * levels : 1, i ? "g" : "");
  }
  if (emptyLast) return {b.group(0).s, open + groupXml(0, "g") + "</attr>" + close};
  return {b.null().s, open + "<attr name=\"g\" type=\"null\"/>" + close};
}

// The seed files: what this library wrote (.xml and .bin twins, written back the same, hashes
// pinned), what a person may write ("hand_") and what must be refused ("bad_"); and the docs.
TEST(Formats, KeptFilesReadAndWriteBackTheSame) {
  std::map<std::string, std::string> pinned;
  std::istringstream hashes(readFile(kCorpus / "hashes.txt"));
  for (std::string line; std::getline(hashes, line);)
    if (line[0] != '#') pinned[line.substr(0, line.find(' '))] = line.substr(line.find(' ') + 1);
  size_t checked = 0;
  for (const auto& entry : fs::directory_iterator(kCorpus / "parseXML")) {
    const std::string label = entry.path().stem().string(), text = readFile(entry.path());
    SCOPED_TRACE(label);
    if (label.rfind("bad_", 0) == 0 && !xmlRefusal(text).empty()) continue;
    const Attribute a = Attribute::parseXML(text);
    EXPECT_EQ(a.getHash().str(), pinned[label]);
    if (label.rfind("hand_", 0) == 0) continue;
    EXPECT_EQ(a.getXML(), text);
    const std::string blob = readFile(kCorpus / "parseBinary" / (label + ".bin"));
    EXPECT_EQ(binaryOf(a), blob);
    EXPECT_EQ(fromBinary(blob), a);
    ++checked;
  }
  EXPECT_GE(checked, 15u);
  for (const auto& entry : fs::directory_iterator(kCorpus / "parseBinary"))
    EXPECT_TRUE(entry.path().stem().string().rfind("bad_", 0) != 0 ||
                !fromBinary(readFile(entry.path())).isValid())
        << entry.path();
  const std::string doc = readFile(kSource / "docs" / "formats.md");
  const size_t begin = doc.find("```xml\n") + 7;
  const std::string example = doc.substr(begin, doc.find("```", begin) - begin);
  EXPECT_EQ(Attribute::parseXML(example).getXML(), example);
}

TEST(Formats, RandomAttributesRoundTrip) {
  Generator random(2026);
  for (int i = 0; i < 400; ++i) {
    const Attribute a = random.any();
    const std::string xml = a.getXML(), blob = binaryOf(a);
    ASSERT_STREQ(ovattr_fuzz::roundTripBroken(a), nullptr) << xml;
    EXPECT_EQ(Attribute::parseXMLInPlace(std::string(xml).data(), xml.size()), a);
    const std::string padded = std::string(static_cast<size_t>(i % 8), ' ') + blob;  // misaligned
    const std::string_view shifted = std::string_view(padded).substr(padded.size() - blob.size());
    EXPECT_EQ(Attribute::parseBinary(shifted.data(), shifted.size()), a);
    EXPECT_STREQ(ovattr_fuzz::readersDisagree(shifted), nullptr);
    EXPECT_STREQ(ovattr_fuzz::readersDisagree(blob, 1), nullptr);  // stops at once
  }
}

// Every cut is refused; every flipped byte is refused or gives an attribute that round-trips.
TEST(Formats, EveryCutAndFlippedByte) {
  for (const char* label : {"awkward_strings", "float_specials", "nested_50", "awkward_names",
                            "zero_samples", "double_negative_tuple"}) {
    SCOPED_TRACE(label);
    const std::string xml = readFile(kCorpus / "parseXML" / (std::string(label) + ".xml"));
    const std::string blob = binaryOf(Attribute::parseXML(xml));
    for (size_t n = 0; n < blob.size(); ++n)
      ASSERT_TRUE(!fromBinary(blob.substr(0, n)).isValid() &&
                  !ovattr_fuzz::readersDisagree(blob.substr(0, n)))
          << n;
    for (size_t n = 0; n < xml.rfind('>'); n += 1 + n / 64)
      EXPECT_THROW(Attribute::parseXML(xml.substr(0, n)), XmlParseError) << n;
    size_t refused = 0;
    for (size_t i = 0; i < blob.size(); ++i) {
      for (unsigned mask : {0x01u, 0x80u, 0xffu}) {
        std::string bad = blob;
        bad[i] = static_cast<char>(bad[i] ^ mask);
        const Attribute a = fromBinary(bad);
        EXPECT_STREQ(ovattr_fuzz::readersDisagree(bad), nullptr);
        refused += !a.isValid();
        ASSERT_STREQ(!a.isValid() ? nullptr
                     : i < 8      ? "header"
                                  : ovattr_fuzz::roundTripBroken(a),
                     nullptr)
            << "byte " << i << " mask " << mask;
      }
    }
    EXPECT_GT(refused, 24u);
  }
}

TEST(Formats, BinaryRefusalsSayWhatAndWhere) {
  const std::string good = Bytes().header().group(2).name("a").null().name("b").null().s;
  const uint64_t huge[] = {uint64_t{1} << 62, ~uint64_t{0}, (~uint64_t{0}) / 8 + 1};
  const struct {
    std::string blob;
    const char* message;
  } cases[] = {
      {"", "shorter than the 8-byte header at byte 0"},
      {good.substr(0, 5), "shorter than the 8-byte header at byte 0"},
      {"OVAC" + good.substr(4), "no OVAB magic at byte 0"},
      {Bytes().text("OVAB").u32(2).null().s, "unsupported version 2 at byte 4"},
      {Bytes().text("OVAB").u32(0).null().s, "unsupported version 0 at byte 4"},
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
      {Bytes().header().u8(0).u8(1).s, "non-zero flags at byte 9"},
      {Bytes().header().u8(5).u8(2).u64(0).s, "unknown group flags at byte 9"},
      {Bytes().data(2, 1, 2).u32(0x3f800000).u32(0).s,
       "a sample time that is NaN or not above the one before at byte 40"},
      {Bytes().data(2, 0, 1).u32(0x7fc00000).s,
       "a sample time that is NaN or not above the one before at byte 36"},
      {Bytes().data(4, 1, 1).u32(0).u64(3).text(std::string("a\0b", 3)).s,
       "a string value holds a NUL byte at byte 48"},
      {Bytes().header().u8(1).u8(0).u64(1).u64(1).u64(1).u8(0).u8(1).u32(0).u32(5).s,
       "non-zero padding"},
      {Bytes().data(3, uint64_t{1} << 63, 0).s, ""},
      {Bytes().data(2, 1, huge[0]).u32(0).s, ""},
      {Bytes().data(2, huge[1], 1).u32(0).u32(0).s, ""},
      {Bytes().data(4, huge[2], 2).u64(0).s, ""},
      {Bytes().data(4, 1, 1).u32(0).u64(huge[1]).text("abc").s, ""},
      {Bytes().header().group(huge[0]).name("a").null().s, ""},
      {Bytes().header().group(1).u64(huge[2]).text("a").null().s, ""},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_TRUE(!fromBinary(c.blob, &error).isValid() && !error.empty() &&
                error.find(c.message) != std::string::npos)
        << c.message << ": " << error;
    EXPECT_STREQ(ovattr_fuzz::readersDisagree(c.blob), nullptr);
  }
  std::string error = "stale";
  EXPECT_TRUE(fromBinary(good, &error).isValid() && error.empty()) << error;
  EXPECT_FALSE(Attribute::parseBinary(nullptr, 100).isValid());
  // No samples: nothing is stored per value, so any count up to the signed maximum is kept.
  const Attribute most = fromBinary(Bytes().data(3, uint64_t{1} << 62, 0).s);
  EXPECT_EQ(DataAttribute(most).getNumberOfValues(), int64_t{1} << 62);
}

TEST(Formats, XmlRefusalsSayWhatAndWhere) {
  auto one = [](const std::string& type, const std::string& v, const std::string& values = "1",
                const std::string& samples = "1") {
    return dataXml(type, values, samples, "<sample time=\"0\">" + v + "</sample>");
  };
  auto strings = [&](const std::string& v) { return one("string", v); };
  auto named = [](const std::string& name) {
    return groupXml(1) + "<attr name=\"" + name + "\" type=\"null\"/></attr>";
  };
  const std::string null = "<attr version=\"1\" type=\"null\"/>";
  const std::pair<std::string, std::string> cases[] = {
      {"", "empty"},
      {"<attr version=\"1\" type=\"null\">", "invalid attribute XML"},
      {null + null, "more than one root"},
      {null + "trailing", "unexpected text"},
      {std::string("<attr version=\"1\" type=\"null\"/>\0<junk", 37), "NUL byte at byte 31"},
      {"<attribute version=\"1\" type=\"null\"/>", "expected <attr>, found <attribute>"},
      {"<attr type=\"null\"/>", "needs a version"},
      {"<attr version=\"2\" type=\"null\"/>", "unsupported version 2"},
      {"<attr version=\"1\" type=\"long\"/>", "unknown type \"long\""},
      {"<attr version=\"1\" type=\"null\" colour=\"red\"/>", "unknown XML attribute \"colour\""},
      {"<attr version=\"1\" name=\"x\" type=\"null\"/>", "root <attr> has no name"},
      {"<attr version=\"1\" type=\"null\" samples=\"1\"/>", "samples on a null"},
      {"<attr version=\"1\" type=\"null\"><sample time=\"0\"/></attr>", "no content"},
      {"<attr version=\"1\" type=\"int\" tupleSize=\"x\" values=\"0\" samples=\"0\"/>",
       "bad tupleSize \"x\""},
      {dataXml("float", "1", "1", "<value time=\"0\">1</value>"), "expected <sample>"},
      {dataXml("float", "1", "1", "<sample time=\"soon\">1</sample>"), "bad time \"soon\""},
      {one("float", "<v>1</v>"), "holds only numbers"},
      {one("float", "1", "2"), "1 values in a sample, expected 2"},
      {one("float", "1", "1", "2"), "1 samples, expected 2"},
      {dataXml("float", "1", " 1", ""), "bad samples"},
      {one("float", "1", "9000000000000000000", "9000000000000000000"),
       "the counts claim more samples or values than the text holds"},
      {one("float", "1e39"), "bad number \"1e39\""},
      {one("float", "nan:0x7f800000"), "bad number"},
      {one("float", "0x1p3"), "bad number"},
      {one("int", "2147483648"), "bad number \"2147483648\""},
      {strings("<s>x</s>"), "expected <v>, found <s>"},
      {strings("<v>a<b/></v>"), "<v> holds only text"},
      {strings("<v>%4G</v>"), "bad escape"},
      {strings("<v>a%00b</v>"), "a string value cannot hold a NUL byte"},
      {strings("<v>a&#0;b</v>"), "&#0; is not a reference to an XML character"},
      {strings("<v>&#x110000;</v>"), "&#x110000; is not a reference"},
      {strings("<v>&xxe;</v>"), "unknown entity &xxe;"},
      {strings("<v>a & b</v>"), "'&' that starts no reference"},
      {"<!DOCTYPE a [<!ENTITY e \"boom\">]>" + strings("<v>&e;</v>"), "unknown entity &e;"},
      {named("a%00b"), "a child name holds a NUL byte"},
      {named(""), "empty child name"},
      {groupXml(1) + "<attr type=\"null\"/></attr>", "needs a name"},
      {groupXml(1) + "<attr name=\"a\" version=\"1\" type=\"null\"/></attr>", "only the root"},
      {groupXml(2) + "<attr name=\"a\" type=\"null\"/><attr name=\"a\" type=\"null\"/></attr>",
       "repeated child name"},
      {groupXml(2) + "<attr name=\"a\" type=\"null\"/></attr>", "1 children, expected 2"},
      {"<attr version=\"1\" type=\"group\" inherit=\"on\" children=\"0\"/>", "bad inherit \"on\""},
      {dataXml("int", "0", "2", "<sample time=\"0\"/><sample time=\"0\"/>"),
       "sample time 0 is NaN or not above the one before"},
      {dataXml("int", "0", "2", "<sample time=\"1\"/><sample time=\"-0\"/>"),
       "sample time -0 is NaN or not above the one before"},
      {groupXml(1) + "\n  <attr name=\"x\" type=\"bogus\"/></attr>", "(element at byte 62)"},
  };
  for (const auto& [text, message] : cases) {  // and where, but for the empty text
    const std::string refusal = xmlRefusal(text);
    EXPECT_TRUE(refusal.find(message) != std::string::npos &&
                (text.empty() || refusal.find(" at byte ") != std::string::npos))
        << refusal;
  }
  // What XML defines without a DTD still reads: the five entities and character references.
  EXPECT_EQ(Attribute::parseXML(strings("<v>&lt;&gt;&amp;&quot;&apos;&#65;&#xe9;&#x263a;</v>")),
            StringAttribute("<>&\"'A\xc3\xa9\xe2\x98\xba"));
  EXPECT_EQ(GroupAttribute(Attribute::parseXML(named("&#x41;%41"))).getChildName(0), "AA");
}

TEST(Formats, TenThousandLevelsOnASmallStack) {
  onSmallStack([] {
    Attribute deep = NullAttribute();
    for (int i = 0; i < 10000; ++i) deep = GroupBuilder().set("g", deep).build();
    std::string path = "g";
    for (int i = 1; i < 10000; ++i) path += ".g";
    EXPECT_EQ(GroupAttribute(deep).getChildByName(path), NullAttribute());
    const auto [blob, xml] = nest(10000);
    const Attribute viaXml = Attribute::parseXML(deep.getXML()), viaBinary = fromBinary(blob);
    EXPECT_TRUE(binaryOf(deep) == blob && binaryOf(viaBinary) == blob);
    EXPECT_TRUE(deep == viaXml && deep == viaBinary && deep == Attribute::parseXML(xml));
    EXPECT_EQ(deep.getHash(), viaBinary.getHash());
    EXPECT_EQ(RemoveTimeSamplesIfAllSame(deep)._data(), deep._data());
    const GroupAttribute group(deep);
    EXPECT_EQ(GroupBuilder().deepUpdate(group).deepUpdate(GroupAttribute(viaXml)).build(), deep);
    EXPECT_EQ(GroupBuilder().set(path, NullAttribute()).build(), deep);
    for (const std::string& b : {blob, nest(10000, true).first})
      EXPECT_STREQ(ovattr_fuzz::readersDisagree(b), nullptr);
    EXPECT_TRUE(fromBinary(nest(9999, true).first).isValid());
    EXPECT_FALSE(fromBinary(nest(10000, true).first).isValid());  // an empty group is a level
    EXPECT_FALSE(fromBinary(nest(100000).first).isValid());
    EXPECT_NE(xmlRefusal(nest(10001).second).find("nested deeper than 10000"), std::string::npos);
  });  // and every tree is released on the small stack too
}

// The shapes that cost the most memory per input byte, about `size` bytes each, in both forms:
// nests (claiming all the children the rest could hold, or one), wide groups, empty values.
std::vector<Forms> worstShapes(size_t size) {
  Bytes wide, strings, samples;
  std::string wideXml = groupXml(size / 16), stringsXml = "<sample time=\"0\">", samplesXml;
  std::string numbers = stringsXml;
  wide.header().group(size / 16);
  strings.data(4, size / 8, 1).u32(0);
  samples.data(1, 0, size / 4);
  for (size_t i = 0; i < size / 16; ++i) {
    wide.name(std::to_string(i)).null();
    wideXml += "<attr name=\"" + std::to_string(i) + "\" type=\"null\"/>";
  }
  for (size_t i = 0; i < size / 8; ++i, stringsXml += "<v/>") strings.u64(0);
  for (size_t i = 0; i < size / 4; ++i) {
    samples.u32(static_cast<uint32_t>(i));  // ascending times: 0, then denormals
    samplesXml += "<sample time=\"" + std::to_string(i) + "\"/>";
  }
  for (size_t i = 0; i < size / 2; ++i) numbers += "0 ";
  const std::vector<int32_t> zeros(size / 2, 0);
  return {nest(size / 19, false, true),
          nest(10000),
          {wide.s, wideXml + "</attr>"},
          {strings.s, dataXml("string", std::to_string(size / 8), "1", stringsXml + "</sample>")},
          {samples.s, dataXml("int", "0", std::to_string(size / 4), samplesXml)},
          {binaryOf(IntAttribute(zeros.data(), static_cast<int64_t>(zeros.size()), 1)),
           dataXml("int", std::to_string(zeros.size()), "1", numbers + "</sample>")}};
}

// Counted as the fuzz targets count: only the address sanitizer build (as CI runs it) can.
TEST(Formats, MemoryOfTheWorstShapes) {
  if (!ovattr_fuzz::kCountsMemory) GTEST_SKIP() << "counted in the address sanitizer build only";
  for (const auto& [blob, xml] : worstShapes(size_t{1} << 20)) {
    // The bounds docs/formats.md states, the attribute that results included.
    Hash hash;
    EXPECT_LE(ovattr_fuzz::peakBytesOf([&] { fromBinary(blob); }), 16 * blob.size() + 65536)
        << xml.substr(0, 80);
    EXPECT_LE(ovattr_fuzz::peakBytesOf([&] { hashBinary(blob.data(), blob.size(), &hash); }),
              16 * blob.size() + 65536);
    Attribute a;
    const auto parse = [&] { return Attribute::parseXML(xml); };
    EXPECT_LE(ovattr_fuzz::peakBytesOf([&] { ovattr_fuzz::refusal(a, parse); }),
              32 * xml.size() + 65536)
        << xml.substr(0, 80);
  }
}

}  // namespace
}  // namespace libtest
