// Serialising documents and single elements: forms, quoting, deep chains without recursion.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/xml_file_support.h"
#include "xml/serializer.h"
#include "xml/xml_document.h"

namespace menuconv {
namespace {

using namespace xml_file_tests;

// Serialising

TEST(SerializeDocument, EmptyDocumentGivesNothing) {
  XmlDocument doc;
  EXPECT_EQ(SerializeDocument(doc), "");
}

struct SerializeCase {
  const char* label;
  std::function<void(XmlDocument&)> build;
  std::string body;
};

TEST(SerializeDocument, ElementForms) {
  const std::vector<SerializeCase> cases = {
      {"no text, no children", [](XmlDocument& d) { d.AppendChild(ElementRef::None(), Element("leaf")); },
       "\r\n<leaf/>"},
      {"attribute and no text: no blank before />",
       [](XmlDocument& d) {
         d.AppendChild(ElementRef::None(), Element("leaf", "", {{"k", "v"}}));
       },
       "\r\n<leaf k=\"v\"/>"},
      {"text only, on one line",
       [](XmlDocument& d) {
         d.AppendChild(ElementRef::None(), Element("t", "hello", {{"k", "v"}}));
       },
       "\r\n<t k=\"v\">hello</t>"},
      {"children without text",
       [](XmlDocument& d) {
         const ElementRef p = d.AppendChild(ElementRef::None(), Element("p"));
         d.AppendChild(p, Element("c"));
       },
       "\r\n<p>\r\n    <c/>\r\n</p>"},
      {"text and children",
       [](XmlDocument& d) {
         const ElementRef p = d.AppendChild(ElementRef::None(), Element("p", "T"));
         d.AppendChild(p, Element("c", "x"));
         d.AppendChild(p, Element("d"));
       },
       "\r\n<p>T\r\n    <c>x</c>\r\n    <d/>\r\n</p>"},
      {"several top-level elements, each without indentation",
       [](XmlDocument& d) {
         d.AppendChild(ElementRef::None(), Element("a"));
         const ElementRef b = d.AppendChild(ElementRef::None(), Element("b"));
         d.AppendChild(b, Element("c"));
         d.AppendChild(ElementRef::None(), Element("e", "z"));
       },
       "\r\n<a/>\r\n<b>\r\n    <c/>\r\n</b>\r\n<e>z</e>"},
      {"depth 3 is indented by 12 blanks, its closing tag too",
       [](XmlDocument& d) {
         ElementRef e = d.AppendChild(ElementRef::None(), Element("a"));
         e = d.AppendChild(e, Element("b"));
         e = d.AppendChild(e, Element("c"));
         e = d.AppendChild(e, Element("d"));
         d.AppendChild(e, Element("e"));
       },
       "\r\n<a>\r\n    <b>\r\n        <c>\r\n            <d>\r\n                <e/>\r\n            </d>"
       "\r\n        </c>\r\n    </b>\r\n</a>"},
      {"a later sibling after a nested subtree",
       [](XmlDocument& d) {
         const ElementRef a = d.AppendChild(ElementRef::None(), Element("a"));
         const ElementRef b = d.AppendChild(a, Element("b"));
         const ElementRef c = d.AppendChild(b, Element("c"));
         d.AppendChild(c, Element("d", "deep"));
         d.AppendChild(a, Element("f"));
       },
       "\r\n<a>\r\n    <b>\r\n        <c>\r\n            <d>deep</d>\r\n        </c>\r\n    </b>"
       "\r\n    <f/>\r\n</a>"},
      // Nothing is escaped.
      {"markup characters in text and values",
       [](XmlDocument& d) {
         d.AppendChild(ElementRef::None(), Element("t", "a<b>&c\"", {{"k", "1&2<3>"}}));
       },
       "\r\n<t k=\"1&2<3>\">a<b>&c\"</t>"},
  };
  for (const SerializeCase& c : cases) {
    XmlDocument doc;
    c.build(doc);
    EXPECT_BYTES(SerializeDocument(doc), c.body) << c.label;
  }
}

TEST(SerializeDocument, ValueQuoting) {
  struct Case {
    std::string value;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"plain", "k=\"plain\""},
      {"", "k=\"\""},
      {"say \"hi\"", "k='say \"hi\"'"},  // double quotes only: single quotes around
      {"\"", "k='\"'"},
      {"it's", "k=\"it's\""},              // single quote only: double quotes
      {"it's \"x\"", "k=\"it's \"x\"\""},  // both: double quotes, unescaped
      {"'", "k=\"'\""},
  };
  for (const Case& c : cases) {
    XmlDocument doc;
    doc.AppendChild(ElementRef::None(), Element("e", "", {{"k", c.value}}));
    EXPECT_BYTES(SerializeDocument(doc), "\r\n<e " + c.written + "/>") << c.value;
  }
}

TEST(SerializeElement, WritesOneSubtreeAndMovesToTheNextSibling) {
  XmlDocument doc;
  const ElementRef a = doc.AppendChild(ElementRef::None(), Element("a"));
  const ElementRef b = doc.AppendChild(a, Element("b"));
  doc.AppendChild(b, Element("x", "1"));
  const ElementRef c = doc.AppendChild(a, Element("c", "t"));

  ElementRef position = b;
  EXPECT_BYTES(SerializeElement(doc, position, 2), "\r\n        <b>\r\n            <x>1</x>\r\n        </b>");
  EXPECT_EQ(position, c);
  EXPECT_BYTES(SerializeElement(doc, position, 0), "\r\n<c>t</c>");
  EXPECT_TRUE(position.IsNone());

  position = a;
  EXPECT_BYTES(SerializeElement(doc, position, 1),
               "\r\n    <a>\r\n        <b>\r\n            <x>1</x>\r\n        </b>\r\n        <c>t</c>\r\n    </a>");
  EXPECT_TRUE(position.IsNone());
}

TEST(SerializeDocument, TwentyThousandDeepChainOnASmallStack) {
  // 1.6 GB of text (the indentation grows with the depth), written without recursion.
  constexpr std::size_t kDepth = 20000;
  XmlDocument doc;
  BuildChain(doc, kDepth);
  ByteBuffer out;
  RunOnSmallStack([&] { SerializeDocument(doc, out); });
  // Opening lines 5 + 4d bytes for d < N-1, the innermost 6 + 4(N-1), closing lines 6 + 4d.
  const std::size_t n = kDepth;
  const std::size_t expectedSize = (n - 1) * 11 + 8 * ((n - 1) * (n - 2) / 2) + 6 + 4 * (n - 1);
  EXPECT_EQ(out.size(), expectedSize);
  EXPECT_EQ(MatchChain(out.view(), kDepth), out.size());
}

}  // namespace
}  // namespace menuconv
