// Parsed documents: attributes in the store's order and first values kept, re-parsing,
// appending to a parsed document, deep nesting.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_buffer.h"
#include "document_dump.h"
#include "xml/xml_document.h"
#include "xml/xml_element.h"
#include "xml/xml_parser.h"

namespace menuconv {
namespace {

using testing_support::Dump;
using testing_support::Show;

std::vector<std::string> OrderedNames(const XmlDocument& doc, ElementRef e) {
  std::vector<std::string> names;
  for (const auto& [name, value] : doc.Element(e).OrderedAttributes()) names.emplace_back(name);
  return names;
}

TEST(XmlParser, ParsedAttributesFollowTheStoreOrder) {
  XmlDocument doc;
  ASSERT_TRUE(ParseDocument(doc, std::string_view("<menu on_create_anim=\"1\" on_del_anim=\"2\" ctr=\"3\" dtr=\"4\""
                                                  " cdur=\"5\" ddur=\"6\"><s a='1' b='2' c='3' x='4' y='5'/></menu>"))
                  .ok());
  ASSERT_EQ(doc.ElementCount(), 2u);
  EXPECT_EQ(OrderedNames(doc, ElementRef(0)),
            (std::vector<std::string>{"ddur", "dtr", "on_del_anim", "cdur", "ctr", "on_create_anim"}));
  EXPECT_EQ(OrderedNames(doc, ElementRef(1)), (std::vector<std::string>{"a", "y", "b", "c", "x"}));
  std::vector<std::string> visited;
  doc.Element(ElementRef(0)).ForEachAttribute([&visited](std::string_view name, std::string_view value) {
    visited.push_back(std::string(name) + "=" + std::string(value));
  });
  EXPECT_EQ(visited,
            (std::vector<std::string>{"ddur=6", "dtr=4", "on_del_anim=2", "cdur=5", "ctr=3", "on_create_anim=1"}));
  EXPECT_EQ(doc.Element(ElementRef(0)).BucketCount(), 8u);
}

TEST(XmlParser, ManyAttributesWithRepeatsKeepTheFirstValue) {
  // 300 distinct names, each written twice: 300 entries, so 512 buckets.
  std::string text = "<big";
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 300; ++i) {
      text += " n" + std::to_string(i) + (round == 0 ? "=\"first" : "='second") + std::to_string(i) +
              (round == 0 ? "\"" : "'");
    }
  }
  text += " />";
  XmlDocument doc;
  EXPECT_TRUE(ParseDocument(doc, std::string_view(text)).ok());
  ASSERT_EQ(doc.ElementCount(), 1u);
  const ElementView v = doc.Element(ElementRef(0));
  EXPECT_EQ(v.AttributeCount(), 300u);
  EXPECT_EQ(v.BucketCount(), 512u);
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(v.GetAttribute("n" + std::to_string(i)), "first" + std::to_string(i));
  }
  EXPECT_EQ(v.OrderedAttributes().size(), 300u);
}

TEST(XmlParser, AttributesOfSeveralElementsReadInTurn) {
  XmlDocument doc;
  ASSERT_TRUE(ParseDocument(doc, std::string_view("<r a=\"1\" b=\"2\"><c a=\"3\" d=\"4\" /><e /></r>")).ok());
  ASSERT_EQ(doc.ElementCount(), 3u);
  const ElementView r = doc.Element(ElementRef(0));
  const ElementView c = doc.Element(ElementRef(1));
  const ElementView e = doc.Element(ElementRef(2));
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(r.GetAttribute("a"), "1");
    EXPECT_EQ(c.GetAttribute("a"), "3");
    EXPECT_EQ(r.GetAttribute("d"), "");
    EXPECT_EQ(c.GetAttribute("d"), "4");
    EXPECT_EQ(e.GetAttribute("a"), "");
    EXPECT_EQ(r.AttributeCount(), 2u);
    EXPECT_EQ(e.AttributeCount(), 0u);
    int32_t value = -1;
    EXPECT_TRUE(c.GetAttributeInt("d", value));
    EXPECT_EQ(value, 4);
    EXPECT_FALSE(e.GetAttributeInt("d", value));
    EXPECT_EQ(value, 4);
  }
  EXPECT_TRUE(r.HasName("r"));
  EXPECT_FALSE(r.HasName("R"));
}

TEST(XmlParser, ParsingReplacesTheDocumentsContent) {
  XmlDocument doc;
  ASSERT_TRUE(ParseDocument(doc, std::string_view("<a><b><c /></b></a>")).ok());
  ASSERT_EQ(doc.ElementCount(), 3u);
  ASSERT_TRUE(ParseDocument(doc, std::string_view("<x k=\"v\" />")).ok());
  EXPECT_EQ(Dump(doc), (std::vector<std::string>{R"("x" "" - - - - [k]=[v])"}));
  ASSERT_TRUE(ParseDocument(doc, std::string_view("no elements")).ok());
  EXPECT_TRUE(doc.FirstElement().IsNone());
}

TEST(XmlParser, ParsingLeavesTheCodePageAlone) {
  XmlDocument doc;
  doc.SetEncoding(Encoding{1252});
  ASSERT_TRUE(ParseDocument(doc, std::string_view("<a />")).ok());
  EXPECT_EQ(doc.GetEncoding().codePage, 1252u);
}

TEST(XmlParser, ByteBufferTextGivesTheSameDocument) {
  const std::string text = "<r x=\"1\">\r\n  hello world\r\n  <c y='2' />\r\n</r>\r\n";
  ByteBuffer buffer;
  buffer.Append(text);
  XmlDocument fromBuffer;
  XmlDocument fromView;
  EXPECT_TRUE(ParseDocument(fromBuffer, std::move(buffer)).ok());
  EXPECT_TRUE(ParseDocument(fromView, std::string_view(text)).ok());
  const std::vector<std::string> expected = {R"("r" "helloworld" - 1 - - [x]=[1])", R"("c" "" 0 - - - [y]=[2])"};
  EXPECT_EQ(Dump(fromBuffer), expected);
  EXPECT_EQ(Dump(fromView), expected);
}

TEST(XmlParser, AppendingToAParsedDocumentExtendsItsChains) {
  XmlDocument doc;
  ASSERT_TRUE(ParseDocument(doc, std::string_view("<r t=\"1\"><a /></r><s />")).ok());
  ASSERT_EQ(doc.ElementCount(), 3u);
  XmlElement e;
  e.name = "x";
  e.SetAttribute("k", "v");
  const ElementRef x = doc.AppendChild(ElementRef(0), e);
  e.name = "y";
  const ElementRef y = doc.AppendChild(ElementRef::None(), e);
  e.name = "z";
  const ElementRef z = doc.AppendChild(ElementRef(2), e);
  EXPECT_EQ(Dump(doc), (std::vector<std::string>{
                           R"("r" "" - 1 2 - [t]=[1])",
                           R"("a" "" 0 - 3 -)",
                           R"("s" "" - 5 4 0)",
                           R"("x" "" 0 - - 1 [k]=[v])",
                           R"("y" "" - - - 2 [k]=[v])",
                           R"("z" "" 2 - - - [k]=[v])",
                       }));
  EXPECT_EQ(x, ElementRef(3));
  EXPECT_EQ(y, ElementRef(4));
  EXPECT_EQ(z, ElementRef(5));
}

TEST(XmlParser, DeepNestingNeedsNoDepthLimit) {
  const int kDepth = 100000;
  std::string text;
  for (int i = 0; i < kDepth; ++i) text += "<e>";
  for (int i = 0; i < kDepth; ++i) text += "</e>";
  XmlDocument doc;
  EXPECT_TRUE(ParseDocument(doc, std::string_view(text)).ok());
  ASSERT_EQ(doc.ElementCount(), static_cast<std::size_t>(kDepth));
  for (uint32_t i = 1; i < static_cast<uint32_t>(kDepth); ++i) {
    ASSERT_EQ(doc.Parent(ElementRef(i)), ElementRef(i - 1));
    ASSERT_EQ(doc.FirstChild(ElementRef(i - 1)), ElementRef(i));
    ASSERT_TRUE(doc.NextSibling(ElementRef(i)).IsNone());
  }
}

TEST(XmlParser, AttributeLookupTellsApartNamesWithACommonStart) {
  // Names that agree in their first bytes, in their length, or in both, some of them
  // repeated (written with white space before "=") and some far longer than a few bytes.
  const std::string longA(300, 'n');
  const std::string longB = std::string(299, 'n') + "m";
  const std::string longC(301, 'n');
  const std::string text = "<a abcdefgh=\"1\" abcdefgX=\"2\" abcdefg=\"3\" abcdefghi=\"4\" abcdefgh =\"5\" " + longA +
                           "=\"A\" " + longB + "=\"B\" " + longC + "=\"C\" " + longA +
                           "\n=\"again\" x=\"6\" xy=\"7\" x\t=\"8\" =\"9\" />";
  XmlDocument doc;
  ASSERT_TRUE(ParseDocument(doc, std::string_view(text)).ok());
  ASSERT_EQ(doc.ElementCount(), 1u);
  const ElementView v = doc.Element(ElementRef(0));
  struct Lookup {
    std::string name;
    bool present;
    std::string value;
  };
  const std::vector<Lookup> lookups = {
      {"abcdefgh", true, "1"},
      {"abcdefgX", true, "2"},
      {"abcdefg", true, "3"},
      {"abcdefghi", true, "4"},
      {"abcdefgY", false, ""},
      {"abcdefghj", false, ""},
      {"abcdef", false, ""},
      {longA, true, "A"},
      {longB, true, "B"},
      {longC, true, "C"},
      {std::string(302, 'n'), false, ""},
      {"x", true, "6"},
      {"xy", true, "7"},
      {"y", false, ""},
      {"", true, "9"},
      {"abcdefgh ", false, ""},
      {std::string("x\0", 2), false, ""},
  };
  for (int round = 0; round < 2; ++round) {  // the second round reads what the first one kept
    for (const Lookup& l : lookups) {
      SCOPED_TRACE(Show(l.name.substr(0, 12)) + " of " + std::to_string(l.name.size()) + " bytes");
      const std::optional<std::string_view> found = v.FindAttribute(l.name);
      EXPECT_EQ(found.has_value(), l.present);
      EXPECT_EQ(v.GetAttribute(l.name), l.value);
    }
  }
  EXPECT_EQ(v.AttributeCount(), 10u);
  EXPECT_EQ(v.OrderedAttributes().size(), 10u);
}

TEST(XmlParser, RepeatedNamesAmongSomeDozensOfAttributes) {
  // 30 names, each written twice (the second time with white space before "="): 30 entries.
  std::string text = "<e";
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 30; ++i) {
      text += std::string(round == 0 ? " " : "\n\t") + "name" + std::to_string(i) + (round == 0 ? "=" : " \t=") + "\"" +
              (round == 0 ? "first" : "second") + std::to_string(i) + "\"";
    }
  }
  text += "/>";
  XmlDocument doc;
  ASSERT_TRUE(ParseDocument(doc, std::string_view(text)).ok());
  ASSERT_EQ(doc.ElementCount(), 1u);
  const ElementView v = doc.Element(ElementRef(0));
  EXPECT_EQ(v.AttributeCount(), 30u);
  EXPECT_EQ(v.BucketCount(), 8u);
  const auto ordered = v.OrderedAttributes();
  EXPECT_EQ(ordered.size(), 30u);
  for (const auto& [name, value] : ordered) {
    EXPECT_EQ("first" + std::string(name.substr(4)), std::string(value));
  }
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(v.GetAttribute("name" + std::to_string(i)), "first" + std::to_string(i));
  }
}

TEST(XmlParser, ViewsIntoAParsedDocumentSurviveAppends) {
  XmlDocument doc;
  ASSERT_TRUE(
      ParseDocument(doc, std::string_view("<menu ctr=\"1\">\n  head line\n  <s img=\"p.png\"/>\n</menu>")).ok());
  ASSERT_EQ(doc.ElementCount(), 2u);
  const std::string_view name = doc.Element(ElementRef(0)).Name();
  const std::string_view text = doc.Element(ElementRef(0)).Text();
  const std::string_view img = *doc.Element(ElementRef(1)).FindAttribute("img");
  EXPECT_EQ(name, "menu");
  EXPECT_EQ(text, "headline");
  EXPECT_EQ(img, "p.png");

  XmlElement e;
  e.text = std::string(70000, 't');  // more than one block's worth
  for (int i = 0; i < 40; ++i) {
    e.name = "added" + std::to_string(i);
    e.SetAttribute("k" + std::to_string(i), std::string(3000, static_cast<char>('a' + i % 26)));
    doc.AppendChild(ElementRef(i % 2 == 0 ? 0u : 1u), e);
  }
  ASSERT_EQ(doc.ElementCount(), 42u);
  EXPECT_EQ(doc.Element(ElementRef(0)).Name().data(), name.data());
  EXPECT_EQ(doc.Element(ElementRef(0)).Text().data(), text.data());
  EXPECT_EQ(doc.Element(ElementRef(1)).FindAttribute("img")->data(), img.data());
  EXPECT_EQ(name, "menu");
  EXPECT_EQ(text, "headline");
  EXPECT_EQ(img, "p.png");
  EXPECT_EQ(doc.Element(ElementRef(0)).GetAttribute("ctr"), "1");

  // The appended elements read back whole and in the order they were appended.
  for (uint32_t parent = 0; parent < 2; ++parent) {
    int expected = static_cast<int>(parent);
    ElementRef c = doc.FirstChild(ElementRef(parent));
    if (parent == 0) c = doc.NextSibling(c);  // the parsed child "s" comes first
    for (; !c.IsNone(); c = doc.NextSibling(c), expected += 2) {
      const ElementView v = doc.Element(c);
      ASSERT_EQ(v.Name(), "added" + std::to_string(expected));
      ASSERT_EQ(v.Text(), std::string(70000, 't'));
      ASSERT_EQ(v.AttributeCount(), static_cast<std::size_t>(expected + 1));
      ASSERT_EQ(v.GetAttribute("k" + std::to_string(expected)),
                std::string(3000, static_cast<char>('a' + expected % 26)));
      ASSERT_EQ(v.GetAttribute("k0"), std::string(3000, 'a'));
    }
    EXPECT_EQ(expected, 40 + static_cast<int>(parent));
  }
}

}  // namespace
}  // namespace menuconv
