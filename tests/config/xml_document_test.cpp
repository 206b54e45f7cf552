#include "config/xml_document.h"

#include <gtest/gtest.h>

#include <functional>

namespace orvik {
namespace {

std::uint32_t statusOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const XmlError& error) {
    return error.status;
  }
  return 0;
}

std::vector<std::string> idsOf(const XmlNodeList& list) {
  std::vector<std::string> ids;
  for (std::size_t i = 0; i < list.length(); ++i) {
    ids.push_back(list.item(i).getAttribute("id"));
  }
  return ids;
}

TEST(XmlDocument, FindsElementsByNameInDocumentOrderAtAnyDepth) {
  XmlDocument document;
  ASSERT_TRUE(document.loadXML(
      "<bl id='root'><bl id='1'><x><bl id='2'/></x></bl><!-- bl --><bl id='3'>bl</bl></bl>"));
  const XmlElement root = document.documentElement();
  // Below an element: its descendants, not itself; over the document: the root too.
  EXPECT_EQ(idsOf(root.getElementsByTagName("bl")), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(idsOf(document.getElementsByTagName("bl")),
            (std::vector<std::string>{"root", "1", "2", "3"}));
  EXPECT_EQ(root.getElementsByTagName("BL").length(), 0u);  // names are case-sensitive
  EXPECT_EQ(idsOf(root.getElementsByTagName("bl").item(0).getElementsByTagName("bl")),
            std::vector<std::string>{"2"});
}

TEST(XmlDocument, AbsentThingsAndBadNumbersRaise) {
  XmlDocument document;
  EXPECT_EQ(statusOf([&] { document.documentElement(); }), kXmlNoObject);
  ASSERT_TRUE(document.loadXML("<r a='x' n=' -12 '/>"));
  const XmlElement root = document.documentElement();
  EXPECT_EQ(statusOf([&] { root.getAttribute("missing"); }), kXmlTypeMismatch);
  EXPECT_EQ(statusOf([&] { root.getElementsByTagName("r").item(0); }), kXmlNoObject);
  EXPECT_EQ(statusOf([] { XmlElement().getAttribute("a"); }), kXmlNoObject);
  EXPECT_EQ(root.getAttribute("a"), "x");
  EXPECT_EQ(root.getIntegerAttribute("n"), -12);

  struct Case {
    const char* value;
    std::int64_t expected;  // or the status raised
  };
  for (const Case& c : std::vector<Case>{{"0", 0},
                                         {"+7", 7},
                                         {"2147483647", 2147483647},
                                         {"-2147483648", -2147483648LL},
                                         {"2147483648", kXmlOverflow},
                                         {"99999999999999999999999", kXmlOverflow},
                                         {"", kXmlTypeMismatch},
                                         {"abc", kXmlTypeMismatch},
                                         {"1x", kXmlTypeMismatch},
                                         {"1 2", kXmlTypeMismatch},
                                         {"-", kXmlTypeMismatch},
                                         {"0x10", kXmlTypeMismatch}}) {
    SCOPED_TRACE(c.value);
    XmlElement element = root;
    element.setAttribute("v", c.value);
    std::int64_t got = 0;
    const std::uint32_t status = statusOf([&] { got = element.getIntegerAttribute("v"); });
    EXPECT_EQ(status != 0 ? std::int64_t{status} : got, c.expected);
  }
}

TEST(XmlDocument, OnlyOneWellFormedDocumentLoadsAndAFailureLeavesNothing) {
  for (const char* text : {"", "  \n", "<a>", "<a></b>", "<a/><b/>", "plain text", "<a x='1' x"}) {
    SCOPED_TRACE(text);
    XmlDocument document;
    ASSERT_TRUE(document.loadXML("<old/>"));
    EXPECT_FALSE(document.loadXML(text));
    EXPECT_EQ(statusOf([&] { document.documentElement(); }), kXmlNoObject);
    EXPECT_EQ(document.getElementsByTagName("a").length(), 0u);
  }
  // The text ends at its first NUL byte, whatever follows.
  XmlDocument document;
  EXPECT_TRUE(document.loadXML(std::string_view("<a v='1'/>\0<<junk", 17)));
}

TEST(XmlDocument, ADoctypeDeclaresNothingAndFetchesNothing) {
  const std::string text =
      "<!DOCTYPE r [<!ENTITY big \"boom\"><!ENTITY ext SYSTEM \"file:///etc/passwd\">]>"
      "<r v=\"&big;&ext;&amp;&#65;\"/>";
  XmlDocument document;
  ASSERT_TRUE(document.loadXML(text));
  EXPECT_EQ(document.documentElement().getAttribute("v"), "&big;&ext;&A");
  EXPECT_NE(document.xml().find("<!DOCTYPE r [<!ENTITY big"), std::string::npos);
}

TEST(XmlDocument, SavingKeepsTheDocumentAsReadApartFromTheValueSet) {
  // Comments, white space, unknown elements, an 8-bit value that is not UTF-8 and escaped
  // characters all come back as they were read.
  const std::string before =
      "<?xml version=\"1.0\"?><setup id=\"A\" name=\"B\">\n"
      "  <!-- kept -->\n"
      "  <pwd cd1=\"p&amp;&lt;&quot;\xE9\" cd2=\"\"/>\n"
      "  <other x=\"tab&#09;nl&#10;\">text</other>\n"
      "</setup>";
  XmlDocument document;
  ASSERT_TRUE(document.loadXML(before));
  EXPECT_EQ(document.xml(), before);
  EXPECT_EQ(document.getElementsByTagName("pwd").item(0).getAttribute("cd1"), "p&<\"\xE9");

  document.getElementsByTagName("pwd").item(0).setAttribute("cd2", "a<&\"b");
  document.documentElement().setAttribute("added", "1");
  std::string after = before;
  after.replace(after.find("cd2=\"\""), 6, "cd2=\"a&lt;&amp;&quot;b\"");
  after.replace(after.find("name=\"B\""), 8, "name=\"B\" added=\"1\"");
  EXPECT_EQ(document.xml(), after);
}

}  // namespace
}  // namespace orvik
