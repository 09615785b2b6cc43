// The fuzz targets' seed files: attributes written by this library and kept in the tree. Reading
// them back checks that the formats still read what earlier builds wrote; set
// OVATTR_WRITE_SEEDS=1 to write them afresh after a deliberate change of format version.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_serial_support.h"

namespace {

using namespace Tessark::internal::OvAttribute;
namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(__FILE__).parent_path().parent_path() / "fuzz" / "corpus";

// Seeds that no attribute writes: hand-made text and blobs that readers must refuse, or accept
// although the writer would have written them differently.
struct HandMadeSeed {
  const char* file;
  std::string bytes;
  bool valid;
};

std::vector<HandMadeSeed> handMadeXml() {
  return {
      {"hand_comments_cdata_entities.xml",
       "<?xml version=\"1.0\"?>\n<!-- hand-written -->\n"
       "<attr version='1' type='group' inherit='false' children='2'>\n"
       "  <attr name='s' type='string' tupleSize='1' values='2' samples='1'>\n"
       "    <sample time='0.5'><v>&lt;&amp;</v><v><![CDATA[raw <text>]]></v></sample>\n"
       "  </attr>\n"
       "  <attr name='f' type='float' tupleSize='3' values='3' samples='1'>\n"
       "    <sample time='-0'> 1e3\n\t-inf nan:0x7f800001 </sample>\n"
       "  </attr>\n"
       "</attr>\n",
       true},
      {"bad_count.xml",
       "<attr version=\"1\" type=\"int\" tupleSize=\"1\" values=\"2\" samples=\"1\">"
       "<sample time=\"0\">1</sample></attr>",
       false},
      {"bad_escape.xml",
       "<attr version=\"1\" type=\"string\" tupleSize=\"1\" values=\"1\" samples=\"1\">"
       "<sample time=\"0\"><v>%G0</v></sample></attr>",
       false},
  };
}

std::vector<HandMadeSeed> handMadeBinary() {
  std::vector<char> blob;
  IntAttribute(3).getBinary(blob);
  std::string good(blob.begin(), blob.end());
  std::string newer = good;
  newer[4] = 2;  // version 2
  // Groups nested 100 deep, each claiming as many children as the bytes after it could hold:
  // the shape that once made the reader reserve for every claim at every level.
  std::string nest = good.substr(0, 8);
  for (int level = 100; level > 0; --level) {
    const uint64_t claim = (19 * static_cast<uint64_t>(level) + 2) / 11;
    nest += "\x05\x01";
    for (int i = 0; i < 8; ++i) nest += static_cast<char>(claim >> (8 * i));
    nest += std::string("\x01\0\0\0\0\0\0\0g", 9);
  }
  nest += std::string(2, '\0');
  return {
      {"bad_claiming_nest.bin", nest, false},
      {"bad_truncated.bin", good.substr(0, good.size() - 1), false},
      {"bad_version.bin", newer, false},
      {"bad_trailing.bin", good + '\0', false},
  };
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

bool writing() {
  const char* flag = std::getenv("OVATTR_WRITE_SEEDS");
  return flag != nullptr && std::string(flag) == "1";
}

TEST(SerialCorpus, BinarySeedsReadBackAsWritten) {
  const fs::path dir = kCorpus / "parseBinary";
  for (const auto& [label, attribute] : serialtest::catalogue()) {
    const fs::path file = dir / (label + ".bin");
    if (writing()) {
      std::vector<char> blob;
      attribute.getBinary(blob);
      writeFile(file, std::string(blob.begin(), blob.end()));
    }
    const std::string bytes = readFile(file);
    ASSERT_FALSE(bytes.empty()) << file;
    EXPECT_TRUE(Attribute::parseBinary(bytes.data(), bytes.size()) == attribute) << file;
  }
  for (const HandMadeSeed& seed : handMadeBinary()) {
    if (writing()) writeFile(dir / seed.file, seed.bytes);
    const std::string bytes = readFile(dir / seed.file);
    EXPECT_EQ(Attribute::parseBinary(bytes.data(), bytes.size()).isValid(), seed.valid)
        << seed.file;
  }
}

TEST(SerialCorpus, XmlSeedsReadBackAsWritten) {
  const fs::path dir = kCorpus / "parseXML";
  for (const auto& [label, attribute] : serialtest::catalogue()) {
    const fs::path file = dir / (label + ".xml");
    if (writing()) writeFile(file, attribute.getXML());
    const std::string text = readFile(file);
    ASSERT_FALSE(text.empty()) << file;
    EXPECT_TRUE(Attribute::parseXML(text) == attribute) << file;
  }
  for (const HandMadeSeed& seed : handMadeXml()) {
    if (writing()) writeFile(dir / seed.file, seed.bytes);
    const std::string text = readFile(dir / seed.file);
    bool parsed = false;
    try {
      parsed = Attribute::parseXML(text).isValid();
    } catch (const XmlParseError&) {
    }
    EXPECT_EQ(parsed, seed.valid) << seed.file;
  }
}

}  // namespace
