// The XML form: its text, what readers may write by hand, and what is refused.

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "test_serial_support.h"

namespace {

using namespace Tessark::internal::OvAttribute;
using serialtest::makeData;

// The message of the XmlParseError that parsing `text` throws; fails the test when it parses.
std::string rejection(const std::string& text) {
  try {
    Attribute a = Attribute::parseXML(text);
    ADD_FAILURE() << "parsed: " << text;
  } catch (const XmlParseError& e) {
    return e.what();
  }
  return {};
}

#define EXPECT_REJECTED(text, fragment) \
  EXPECT_NE(rejection(text).find(fragment), std::string::npos) << rejection(text)

// A data element as a reader would write it, around the given samples.
std::string floatDoc(const std::string& counts, const std::string& samples) {
  return "<attr version=\"1\" type=\"float\" tupleSize=\"1\" " + counts + ">" + samples + "</attr>";
}

std::string nestedGroups(size_t depth) {
  std::string text;
  for (size_t i = 0; i < depth; ++i)
    text += i == 0 ? "<attr version=\"1\" type=\"group\" inherit=\"true\" children=\"1\">"
                   : "<attr name=\"g\" type=\"group\" inherit=\"true\" children=\"1\">";
  text += "<attr name=\"leaf\" type=\"null\"/>";
  for (size_t i = 0; i < depth; ++i) text += "</attr>";
  return text;
}

// ---------------------------------------------------------------------------------------------
// The text we write

TEST(SerialXmlText, DocumentLayout) {
  GroupBuilder b(GroupBuilder::BuilderModeStrict);
  const float xyz[] = {0.0f, 1.5f, -2.0f, 0.1f, 1e20f, -0.0f};
  const float* rows[] = {xyz, xyz + 3};
  const float times[] = {0.0f, 0.5f};
  b.set("points", FloatAttribute(times, 2, rows, 3, 3));
  const char* labels[] = {"a <b> & \"c\"", "100%", "caf\xc3\xa9\n"};
  b.set("labels", StringAttribute(labels, 3, 1));
  b.set("nothing", NullAttribute());
  GroupBuilder inner(GroupBuilder::BuilderModeStrict);
  inner.setGroupInherit(false);
  b.set("inner", inner.build());
  b.set("n.1", IntAttribute(-7));

  EXPECT_EQ(b.build().getXML(),
            "<attr version=\"1\" type=\"group\" inherit=\"true\" children=\"5\">\n"
            "  <attr name=\"points\" type=\"float\" tupleSize=\"3\" values=\"3\" samples=\"2\">\n"
            "    <sample time=\"0\">0 1.5 -2</sample>\n"
            "    <sample time=\"0.5\">0.1 1e+20 -0</sample>\n"
            "  </attr>\n"
            "  <attr name=\"labels\" type=\"string\" tupleSize=\"1\" values=\"3\" samples=\"1\">\n"
            "    <sample time=\"0\"><v>a %3Cb%3E %26 %22c%22</v><v>100%25</v>"
            "<v>caf\xc3\xa9%0A</v></sample>\n"
            "  </attr>\n"
            "  <attr name=\"nothing\" type=\"null\"/>\n"
            "  <attr name=\"inner\" type=\"group\" inherit=\"false\" children=\"0\"/>\n"
            "  <attr name=\"n.1\" type=\"int\" tupleSize=\"1\" values=\"1\" samples=\"1\">\n"
            "    <sample time=\"0\">-7</sample>\n"
            "  </attr>\n"
            "</attr>\n");
}

TEST(SerialXmlText, EmptyShapes) {
  EXPECT_EQ(NullAttribute().getXML(), "<attr version=\"1\" type=\"null\"/>\n");
  EXPECT_EQ(makeData<double>({}, {}, 4, 2).getXML(),
            "<attr version=\"1\" type=\"double\" tupleSize=\"2\" values=\"4\" samples=\"0\"/>\n");
  EXPECT_EQ(makeData<int32_t>({1.0f}, {{}}, 0, 1).getXML(),
            "<attr version=\"1\" type=\"int\" tupleSize=\"1\" values=\"0\" samples=\"1\">\n"
            "  <sample time=\"1\"/>\n"
            "</attr>\n");
}

TEST(SerialXmlText, NumbersAreShortestAndSpecialsAreWords) {
  using F = std::numeric_limits<float>;
  using D = std::numeric_limits<double>;
  uint32_t payloadBits = 0x7fa00001u;
  float payload;
  std::memcpy(&payload, &payloadBits, sizeof payload);
  const float floats[] = {F::quiet_NaN(), -F::quiet_NaN(), F::infinity(), -F::infinity(),
                          payload,        F::denorm_min(), 16777216.0f,   0.3f};
  const double doubles[] = {0.3, D::quiet_NaN(), 1e300, D::denorm_min()};
  std::string f = FloatAttribute(floats, 8, 1).getXML();
  std::string d = DoubleAttribute(doubles, 4, 1).getXML();
  EXPECT_NE(f.find(">nan -nan inf -inf nan:0x7fa00001 1e-45 16777216 0.3<"), std::string::npos)
      << f;
  EXPECT_NE(d.find(">0.3 nan 1e+300 5e-324<"), std::string::npos) << d;
}

TEST(SerialXmlText, NamesEscapeControlsAndMarkup) {
  GroupBuilder b(GroupBuilder::BuilderModeStrict);
  b.set(std::string("a\1\"b\xff", 5), NullAttribute());
  std::string xml = b.build().getXML();
  EXPECT_NE(xml.find("name=\"a%01%22b%FF\""), std::string::npos) << xml;
}

TEST(SerialXmlText, DeepNestingIndentationStaysBounded) {
  std::string xml = serialtest::deepGroup(10000).getXML();
  EXPECT_LT(xml.size(), 10000u * 200u);  // linear in the depth
  EXPECT_NO_THROW(Attribute::parseXML(xml));
}

// ---------------------------------------------------------------------------------------------
// What a person may write

TEST(SerialXmlRead, AcceptsHandWrittenVariants) {
  const float values[] = {1.0f, 2.5f, -3.0f};
  FloatAttribute expected(values, 3, 3);
  const char* texts[] = {
      "<attr version=\"1\" type=\"float\" tupleSize=\"3\" values=\"3\" samples=\"1\">"
      "<sample time=\"0\">1 2.5 -3</sample></attr>",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- made by hand -->\n<?tool x?>\n"
      "<attr type='float' version='1' samples='1' values='3' tupleSize='3'>\n"
      "  <sample time='0.0'>\n  1.0\n\t2.50e0   -3\n  </sample>\n</attr>\n",
      "<attr version=\"1\" type=\"float\" tupleSize=\"3\" values=\"3\" samples=\"1\">"
      "<sample time=\"0e5\">1 2.5<!-- between -->-3</sample></attr>",
  };
  for (const char* text : texts) {
    Attribute a = Attribute::parseXML(text);
    EXPECT_TRUE(a == expected) << text;
  }
  Attribute negativeZeroTime = Attribute::parseXML(
      "<attr version=\"1\" type=\"float\" tupleSize=\"3\" values=\"3\" samples=\"1\">"
      "<sample time=\"-0\">1 2.5 -3</sample></attr>");
  EXPECT_FALSE(negativeZeroTime == expected) << "time -0 is not time 0";
}

TEST(SerialXmlRead, StringsFromEntitiesCdataAndEitherHexCase) {
  Attribute a = Attribute::parseXML(
      "<attr version=\"1\" type=\"string\" tupleSize=\"1\" values=\"4\" samples=\"1\">"
      "<sample time=\"0\"><v>&lt;&amp;&#65;</v><v><![CDATA[<raw & text>]]></v>"
      "<v>%e2%82%AC%0a</v><v>   </v></sample></attr>");
  const char* expected[] = {"<&A", "<raw & text>", "\xe2\x82\xac\n", "   "};
  EXPECT_TRUE(a == StringAttribute(expected, 4, 1)) << a.getXML();
}

TEST(SerialXmlRead, DepthLimit) {
  EXPECT_NO_THROW(Attribute::parseXML(nestedGroups(10000)));
  EXPECT_REJECTED(nestedGroups(10001), "nested deeper than 10000");
  EXPECT_REJECTED(nestedGroups(50000), "nested deeper than 10000");
}

// ---------------------------------------------------------------------------------------------
// What is refused, and the message that says why

TEST(SerialXmlReject, MalformedText) {
  EXPECT_REJECTED("", "empty");
  EXPECT_REJECTED("   \n", "invalid attribute XML");
  EXPECT_REJECTED("not xml at all", "invalid attribute XML");
  EXPECT_REJECTED("<attr version=\"1\" type=\"null\">", "invalid attribute XML");
  EXPECT_REJECTED("<attr version=\"1\" type=\"null\"/><attr version=\"1\" type=\"null\"/>",
                  "more than one root");
  EXPECT_REJECTED("<attr version=\"1\" type=\"null\"/>trailing", "unexpected text");
  EXPECT_REJECTED("leading<attr version=\"1\" type=\"null\"/>", "unexpected text");
  EXPECT_REJECTED(std::string("<attr version=\"1\" type=\"null\"/>\0<junk", 37),
                  "NUL byte at byte 31");
  EXPECT_REJECTED(std::string("<attr version=\"1\" type=\"null\"/>\0", 32), "NUL byte");
  EXPECT_REJECTED("<attr version=\"1\" type=\"null\" type=\"int\"/>", "");
}

TEST(SerialXmlReject, EveryTruncationOfADocument) {
  for (const char* label : {"awkward_strings", "float_specials", "nested_50", "awkward_names"}) {
    const std::string xml = serialtest::catalogueEntry(label).getXML();
    const size_t lastTag = xml.rfind('>');
    for (size_t n = 0; n < lastTag; ++n) {
      SCOPED_TRACE(std::string(label) + " cut at " + std::to_string(n));
      EXPECT_THROW(Attribute::parseXML(xml.substr(0, n)), XmlParseError);
    }
  }
}

TEST(SerialXmlReject, WrongElementsAndAttributes) {
  EXPECT_REJECTED("<attribute version=\"1\" type=\"null\"/>", "expected <attr>, found <attribute>");
  EXPECT_REJECTED("<attr type=\"null\"/>", "needs a version");
  EXPECT_REJECTED("<attr version=\"2\" type=\"null\"/>", "unsupported version 2");
  EXPECT_REJECTED("<attr version=\"0\" type=\"null\"/>", "unsupported version 0");
  EXPECT_REJECTED("<attr version=\"1\"/>", "missing type");
  EXPECT_REJECTED("<attr version=\"1\" type=\"long\"/>", "unknown type \"long\"");
  EXPECT_REJECTED("<attr version=\"1\" type=\"null\" colour=\"red\"/>",
                  "unknown XML attribute \"colour\"");
  EXPECT_REJECTED("<attr version=\"1\" name=\"x\" type=\"null\"/>", "root <attr> has no name");
  EXPECT_REJECTED("<attr version=\"1\" type=\"null\" samples=\"1\"/>", "samples on a null");
  EXPECT_REJECTED("<attr version=\"1\" type=\"int\" tupleSize=\"1\" values=\"0\"/>",
                  "missing samples");
  EXPECT_REJECTED("<attr version=\"1\" type=\"null\"><sample time=\"0\"/></attr>", "no content");
  EXPECT_REJECTED(floatDoc("values=\"1\" samples=\"1\"", "<value time=\"0\">1</value>"),
                  "expected <sample>, found <value>");
  EXPECT_REJECTED(floatDoc("values=\"1\" samples=\"1\"", "<sample>1</sample>"), "needs a time");
  EXPECT_REJECTED(floatDoc("values=\"1\" samples=\"1\"", "<sample time=\"0\" t=\"1\">1</sample>"),
                  "unexpected XML attribute \"t\"");
  EXPECT_REJECTED(floatDoc("values=\"1\" samples=\"1\"", "<sample time=\"0\"><v>1</v></sample>"),
                  "holds only numbers");
  EXPECT_REJECTED(floatDoc("values=\"1\" samples=\"1\"", "text<sample time=\"0\">1</sample>"),
                  "unexpected text");
  EXPECT_REJECTED(
      "<attr version=\"1\" type=\"string\" tupleSize=\"1\" values=\"1\" samples=\"1\">"
      "<sample time=\"0\"><s>x</s></sample></attr>",
      "expected <v>, found <s>");
  EXPECT_REJECTED(
      "<attr version=\"1\" type=\"string\" tupleSize=\"1\" values=\"1\" samples=\"1\">"
      "<sample time=\"0\"><v>a<b/></v></sample></attr>",
      "<v> holds only text");
  EXPECT_REJECTED(
      "<attr version=\"1\" type=\"string\" tupleSize=\"1\" values=\"1\" samples=\"1\">"
      "<sample time=\"0\">loose<v>a</v></sample></attr>",
      "unexpected text");
}

TEST(SerialXmlReject, Groups) {
  const std::string open = "<attr version=\"1\" type=\"group\" inherit=\"true\" ";
  EXPECT_REJECTED(open + "children=\"1\"><attr type=\"null\"/></attr>", "needs a name");
  EXPECT_REJECTED(open + "children=\"1\"><attr name=\"\" type=\"null\"/></attr>",
                  "empty child name");
  EXPECT_REJECTED(open + "children=\"1\"><attr name=\"a\" version=\"1\" type=\"null\"/></attr>",
                  "only the root");
  EXPECT_REJECTED(open +
                      "children=\"2\"><attr name=\"a\" type=\"null\"/>"
                      "<attr name=\"a\" type=\"null\"/></attr>",
                  "repeated child name");
  EXPECT_REJECTED(open + "children=\"2\"><attr name=\"a\" type=\"null\"/></attr>",
                  "1 children, expected 2");
  EXPECT_REJECTED(open +
                      "children=\"1\"><attr name=\"a\" type=\"null\"/>"
                      "<attr name=\"b\" type=\"null\"/></attr>",
                  "more than 1 children");
  EXPECT_REJECTED(open + "children=\"0\">words</attr>", "unexpected text");
  EXPECT_REJECTED(open + "children=\"1\"><group name=\"a\"/></attr>", "expected <attr>");
  EXPECT_REJECTED("<attr version=\"1\" type=\"group\" inherit=\"yes\" children=\"0\"/>",
                  "bad inherit \"yes\"");
  EXPECT_REJECTED("<attr version=\"1\" type=\"group\" children=\"0\"/>", "missing inherit");
  EXPECT_REJECTED("<attr version=\"1\" type=\"group\" inherit=\"true\"/>", "missing children");
}

TEST(SerialXmlReject, CountsThatDoNotMatch) {
  EXPECT_REJECTED(floatDoc("values=\"2\" samples=\"1\"", "<sample time=\"0\">1</sample>"),
                  "1 values in a sample, expected 2");
  EXPECT_REJECTED(floatDoc("values=\"1\" samples=\"1\"", "<sample time=\"0\">1 2</sample>"),
                  "more than 1 values");
  EXPECT_REJECTED(floatDoc("values=\"1\" samples=\"2\"", "<sample time=\"0\">1</sample>"),
                  "1 samples, expected 2");
  EXPECT_REJECTED(floatDoc("values=\"1\" samples=\"1\"",
                           "<sample time=\"0\">1</sample><sample time=\"1\">1</sample>"),
                  "more than 1 samples");
  EXPECT_REJECTED(floatDoc("values=\"-1\" samples=\"0\"", ""), "bad values \"-1\"");
  EXPECT_REJECTED(floatDoc("values=\"1\" samples=\"-1\"", ""), "bad samples \"-1\"");
  EXPECT_REJECTED(floatDoc("values=\"1\" samples=\"99999999999999999999\"", ""), "bad samples");
  EXPECT_REJECTED(floatDoc("values=\"1\" samples=\" 1\"", ""), "bad samples");
  // A count the text cannot hold is refused before anything is made for it.
  EXPECT_REJECTED(floatDoc("values=\"9000000000000000000\" samples=\"9000000000000000000\"",
                           "<sample time=\"0\">1</sample>"),
                  "the counts claim more samples or values than the text holds");
  EXPECT_REJECTED(floatDoc("values=\"100000\" samples=\"1\"", "<sample time=\"0\">1</sample>"),
                  "the counts claim more samples or values than the text holds");
  EXPECT_REJECTED(floatDoc("values=\"2\" samples=\"1\"", "<sample time=\"0\">1</sample>"),
                  "1 values in a sample, expected 2");
}

TEST(SerialXmlReject, BadNumbers) {
  auto intDoc = [](const std::string& v) {
    return "<attr version=\"1\" type=\"int\" tupleSize=\"1\" values=\"1\" samples=\"1\">"
           "<sample time=\"0\">" +
           v + "</sample></attr>";
  };
  for (const char* v : {"1.5", "2147483648", "-2147483649", "+1", "0x10", "1e3", "one", "--1"})
    EXPECT_REJECTED(intDoc(v), "bad number \"" + std::string(v) + "\"");
  for (const char* v : {"1e39", "-1e39", "1e-50", "3.4028236e38", "infinity", "NaN", "nan(1)", "+1",
                        "1.2.3", "1e", "0x1p3", "nan:0x7f800000", "nan:0xff800000", "nan:0x7fc0000",
                        "nan:0x7fc00000z", "-nan:0x7fc00001", "inf0", ".", "-"})
    EXPECT_REJECTED(floatDoc("values=\"1\" samples=\"1\"",
                             "<sample time=\"0\">" + std::string(v) + "</sample>"),
                    "bad number \"" + std::string(v) + "\"");
  EXPECT_REJECTED(floatDoc("values=\"1\" samples=\"1\"", "<sample time=\"soon\">1</sample>"),
                  "bad time \"soon\"");
  EXPECT_REJECTED(floatDoc("values=\"1\" samples=\"1\"", "<sample time=\"\">1</sample>"),
                  "bad time");
  EXPECT_REJECTED("<attr version=\"1\" type=\"int\" tupleSize=\"x\" values=\"0\" samples=\"0\"/>",
                  "bad tupleSize \"x\"");
  EXPECT_REJECTED("<attr version=\"1.0\" type=\"null\"/>", "bad version");
}

TEST(SerialXmlReject, BadEscapes) {
  auto stringDoc = [](const std::string& v) {
    return "<attr version=\"1\" type=\"string\" tupleSize=\"1\" values=\"1\" samples=\"1\">"
           "<sample time=\"0\"><v>" +
           v + "</v></sample></attr>";
  };
  for (const char* v : {"%", "%4", "%G1", "%4G", "abc%", "%%41"})
    EXPECT_REJECTED(stringDoc(v), "bad escape");
  EXPECT_REJECTED(stringDoc("a%00b"), "cannot hold a NUL");
  EXPECT_REJECTED(
      "<attr version=\"1\" type=\"group\" inherit=\"true\" children=\"1\">"
      "<attr name=\"%Z0\" type=\"null\"/></attr>",
      "bad escape");
}

TEST(SerialXmlReject, MessagesSayWhere) {
  const std::string text =
      "<attr version=\"1\" type=\"group\" inherit=\"true\" children=\"1\">\n"
      "  <attr name=\"x\" type=\"bogus\"/></attr>";
  std::string message = rejection(text);
  const std::string where = "at byte " + std::to_string(text.find("<attr name"));
  EXPECT_NE(message.find(where), std::string::npos) << message;
}

}  // namespace
