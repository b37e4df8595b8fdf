#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/byte_buffer.h"
#include "xml/xml_document.h"
#include "xml/xml_element.h"
#include "xml/xml_parser.h"

namespace menuconv {
namespace {

// Bytes shown readably: line breaks, tabs, the zero byte and bytes from 0x80 up as escapes.
std::string Show(std::string_view bytes) {
  std::string out;
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (ch == '\n') {
      out += "\\n";
    } else if (ch == '\r') {
      out += "\\r";
    } else if (ch == '\t') {
      out += "\\t";
    } else if (ch == '\\') {
      out += "\\\\";
    } else if (b < 0x20 || b >= 0x7F) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02X", b);
      out += buffer;
    } else {
      out += ch;
    }
  }
  return out;
}

std::string ShowRef(ElementRef r) { return r.IsNone() ? "-" : std::to_string(r.index); }

// One line per element, in the order of the sequence:
//   "NAME" "TEXT" parent firstChild next prev [attr]=[value] ...
// with the attributes sorted by name here, so that the expected lines can be written from
// the parsing rules alone (the store's own order is tested separately).
std::vector<std::string> Dump(const XmlDocument& doc) {
  std::vector<std::string> lines;
  for (uint32_t i = 0; i < doc.ElementCount(); ++i) {
    const ElementRef r(i);
    const ElementView v = doc.Element(r);
    std::string line = "\"" + Show(v.Name()) + "\" \"" + Show(v.Text()) + "\" " + ShowRef(doc.Parent(r)) + " " +
                       ShowRef(doc.FirstChild(r)) + " " + ShowRef(doc.NextSibling(r)) + " " +
                       ShowRef(doc.PrevSibling(r));
    std::vector<std::pair<std::string, std::string>> attributes;
    for (const auto& [name, value] : v.OrderedAttributes()) attributes.emplace_back(name, value);
    std::sort(attributes.begin(), attributes.end());
    for (const auto& [name, value] : attributes) line += " [" + Show(name) + "]=[" + Show(value) + "]";
    lines.push_back(line);
  }
  return lines;
}

struct ParseCase {
  const char* label;
  std::string text;
  bool complete;  // whether the parse reads the text to its end
  std::vector<std::string> elements;
};

void RunCases(const std::vector<ParseCase>& cases) {
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(std::string(c.label) + ": " + Show(c.text));
    XmlDocument doc;
    const Status status = ParseDocument(doc, std::string_view(c.text));
    EXPECT_EQ(Dump(doc), c.elements);
    EXPECT_EQ(status.ok, c.complete);
  }
}

TEST(XmlParser, ElementsTextAndLinks) {
  RunCases({
      {"empty text", "", true, {}},
      {"no tag at all", "just some text > here", true, {}},
      {"one element", "<a>hi</a>", true, {R"("a" "hi" - - - -)"}},
      {"declaration before the root",
       "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<menu ctr=\"1\" />\r\n",
       true,
       {R"("menu" "" - - - - [ctr]=[1])"}},
      {"children and self-closing tags",
       "<r>\n  <a x=\"1\"/>\n  <b y='2' />\n</r>\n",
       true,
       {R"("r" "" - 1 - -)", R"("a" "" 0 - 2 - [x]=[1])", R"("b" "" 0 - - 1 [y]=[2])"}},
      {"top-level siblings",
       "<a /><b></b>\n<c />",
       true,
       {R"("a" "" - - 1 -)", R"("b" "" - - 2 0)", R"("c" "" - - - 1)"}},
      {"grandchildren",
       "<r><a><b /><c>t</c></a><d /></r>",
       true,
       {R"("r" "" - 1 - -)", R"("a" "" 0 2 4 -)", R"("b" "" 1 - 3 -)", R"("c" "t" 1 - - 2)", R"("d" "" 0 - - 1)"}},
      {"stray text between top-level elements", "x<a />y z<b />tail", true, {R"("a" "" - - 1 -)", R"("b" "" - - - 0)"}},
      {"zero byte after the last tag, as Load passes it",
       std::string("<a>x\0y</a>\0", 11),
       true,
       {R"("a" "x\x00y" - - - -)"}},
      {"a file written with CR LF, one attribute per line and empty-element tags",
       "<?xml version=\"1.0\"?>\r\n<menu\r\n\tctr=\"1\"\r\n\tdtr=\"2\"\r\n>\r\n"
       "\t<sprite img=\"a.png\"\r\n\t\tcolor=\"255\"/>\r\n\t<text/>\r\n</menu>\r\n",
       true,
       {R"("menu" "" - 1 - - [ctr]=[1] [dtr]=[2])", R"("sprite" "" 0 - 2 - [color]=[255] [img]=[a.png])",
        R"("text" "" 0 - - 1)"}},
  });
}

TEST(XmlParser, TextKeepsOnlyTheLeadingNonBlankBytes) {
  RunCases({
      {"blanks and line breaks between words are dropped",
       "<a> one two\r\n\tthree </a>",
       true,
       {R"("a" "onetwothree" - - - -)"}},
      {"white space only", "<a> \r\n\t </a>", true, {R"("a" "" - - - -)"}},
      {"text after a child is not stored", "<a>x<b />y z</a>", true, {R"("a" "x" - 1 - -)", R"("b" "" 0 - - -)"}},
      {"text around a comment", "<a>x<!-- c -->y</a>", true, {R"("a" "x" - - - -)"}},
      {"text around a comment holding >", "<a>x<!-- > -->y</a>", true, {R"("a" "x" - - - -)"}},
      {"the content of a CDATA section is not text", "<a>x<![CDATA[ y z ]]>w</a>", true, {R"("a" "x" - - - -)"}},
      {"a CDATA section right after the start tag", "<a><![CDATA[y]]></a>", true, {R"("a" "" - - - -)"}},
      {"high bytes are ordinary", "<a>\xC3\xA9 t\xE9</a>", true, {R"("a" "\xC3\xA9t\xE9" - - - -)"}},
      {"entities are not decoded", "<a>&lt;&amp;</a>", true, {R"("a" "&lt;&amp;" - - - -)"}},
  });
}

TEST(XmlParser, SkippedConstructs) {
  RunCases({
      {"comment between siblings keeps the chain",
       "<r><a /><!-- note --><b /></r>",
       true,
       {R"("r" "" - 1 - -)", R"("a" "" 0 - 2 -)", R"("b" "" 0 - - 1)"}},
      {"a comment ends at -->, not at its first >",
       "<r><!-- x > y <c /> z --><d /></r>",
       true,
       {R"("r" "" - 1 - -)", R"("d" "" 0 - - -)"}},
      {"a comment at top level ends at -->", "<!-- a > <old /> --><r />", true, {R"("r" "" - - - -)"}},
      {"the search for --> starts after <!--, so <!--> does not end there",
       "<!--> <x /> --><r />",
       true,
       {R"("r" "" - - - -)"}},
      {"<!---> does not end there either", "<!---> <x /> --><r />", true, {R"("r" "" - - - -)"}},
      {"an empty comment", "<r><!----><a /></r>", true, {R"("r" "" - 1 - -)", R"("a" "" 0 - - -)"}},
      {"dashes inside a comment",
       "<r><!-- a -- b --- c ---><a /></r>",
       true,
       {R"("r" "" - 1 - -)", R"("a" "" 0 - - -)"}},
      {"processing instruction inside an element",
       "<a><?pi data?><b /></a>",
       true,
       {R"("a" "" - 1 - -)", R"("b" "" 0 - - -)"}},
      {"a processing instruction ends at its first >",
       "<r><?pi a > <b /> ?><c /></r>",
       true,
       {R"("r" "" - 1 - -)", R"("b" "" 0 - 2 -)", R"("c" "" 0 - - 1)"}},
      {"a document type declaration is skipped", "<!DOCTYPE menu>\n<menu />", true, {R"("menu" "" - - - -)"}},
      {"an empty document type declaration", "<!DOCTYPE>\n<a />", true, {R"("a" "" - - - -)"}},
      {"quoted strings of a document type declaration may hold >",
       "<!DOCTYPE menu SYSTEM \"a>b\" 'c>d'><menu />",
       true,
       {R"("menu" "" - - - -)"}},
      {"an internal subset may hold >, quotes, ] in quotes and comments",
       "<!DOCTYPE menu [\n<!ELEMENT menu ANY>\n<!ATTLIST menu ctr CDATA \"1>2\">\n<!-- ] > -->\n"
       "<!ENTITY e 'x]y'>\n]>\n<menu />",
       true,
       {R"("menu" "" - - - -)"}},
      {"markup inside an internal subset is no element",
       "<r><!DOCTYPE x [<a/>]><b /></r>",
       true,
       {R"("r" "" - 1 - -)", R"("b" "" 0 - - -)"}},
      {"a document type declaration between siblings keeps the chain",
       "<a /><!DOCTYPE d><b />",
       true,
       {R"("a" "" - - 1 -)", R"("b" "" - - - 0)"}},
      {"a CDATA section ends at ]]>",
       "<a><![CDATA[<x> ]] > y]]></a><b />",
       true,
       {R"("a" "" - - 1 -)", R"("b" "" - - - 0)"}},
      {"a CDATA section between children keeps the chain",
       "<r><c /><![CDATA[<d />]]><e /></r>",
       true,
       {R"("r" "" - 1 - -)", R"("c" "" 0 - 2 -)", R"("e" "" 0 - - 1)"}},
      {"an empty CDATA section", "<![CDATA[]]><r />", true, {R"("r" "" - - - -)"}},
      {"a CDATA section ends at the first ]]>", "<![CDATA[]]]><r />", true, {R"("r" "" - - - -)"}},
      {"one dash is not a comment", "<!-x>t</!-x>", true, {R"("!-x" "t" - - - -)"}},
      {"a declaration outside a subset is read by the start-tag rules",
       "<r><!ELEMENT x=\"1\"/></r>",
       true,
       {R"("r" "" - 1 - -)", R"("!ELEMENT" "" 0 - - - [x]=[1])"}},
      {"a name that only starts like a CDATA section is an element",
       "<a><![CDAT[x]]></a>",
       false,
       {R"("a" "" - 1 - -)", R"("![CDAT[x]]" "" 0 - - -)"}},
  });
}

TEST(XmlParser, TagNames) {
  RunCases({
      {"blanks before the name are skipped", "<  a>t</a>", true, {R"("a" "t" - - - -)"}},
      {"white space of every kind before the name is skipped", "<\t\r\n a>t</a>", true, {R"("a" "t" - - - -)"}},
      {"a line break before the name is skipped", "<\na>t</a>", true, {R"("a" "t" - - - -)"}},
      {"a tab after the name ends it", "<a\tx=\"1\">t</a>", true, {R"("a" "t" - - - - [x]=[1])"}},
      {"a line break after the name ends it", "<a\nx=\"1\">t</a>", true, {R"("a" "t" - - - - [x]=[1])"}},
      {"attributes written one per line",
       "<a\n  x=\"1\"\n  y=\"2\">t</a>",
       true,
       {R"("a" "t" - - - - [x]=[1] [y]=[2])"}},
      {"a CR LF after the name and no attribute", "<a\r\n>t</a>", true, {R"("a" "t" - - - -)"}},
      {"an empty name", "<>x</>", true, {R"("" "x" - - - -)"}},
      {"a slash right before > makes an empty-element tag",
       "<r><a/><b /></r>",
       true,
       {R"("r" "" - 1 - -)", R"("a" "" 0 - 2 -)", R"("b" "" 0 - - 1)"}},
      {"a slash followed by another byte belongs to the name", "<a/b>t</a/b>", true, {R"("a/b" "t" - - - -)"}},
      {"a slash followed by a blank belongs to the name", "<a/ x=\"1\">t</a>", true, {R"("a/" "t" - - - - [x]=[1])"}},
      {"of two slashes before > the first belongs to the name",
       "<r><a//><b /></r>",
       true,
       {R"("r" "" - 1 - -)", R"("a/" "" 0 - 2 -)", R"("b" "" 0 - - 1)"}},
      {"a question mark right after the name belongs to it", "<a?>t</a>", true, {R"("a?" "t" - - - -)"}},
      {"quotes, equals signs and < belong to the name", "<a=\"<\">t</a>", true, {R"("a="<"" "t" - - - -)"}},
      {"a zero byte belongs to the name", std::string("<a\0b>t</a>", 10), true, {R"("a\x00b" "t" - - - -)"}},
      {"high bytes in names and values",
       "<\xC3\xA9 \xE0=\"\x80\xFF\">\xFF</\xC3\xA9>",
       true,
       {R"("\xC3\xA9" "\xFF" - - - - [\xE0]=[\x80\xFF])"}},
  });
}

TEST(XmlParser, EndTags) {
  RunCases({
      {"an end tag closes the open element whatever its name",
       "<a><b></c>t<d /></a>",
       true,
       {R"("a" "" - 1 - -)", R"("b" "" 0 - 2 -)", R"("d" "" 0 - - 1)"}},
      {"an end tag at top level is passed over", "</x><a /></y>", true, {R"("a" "" - - - -)"}},
      {"a blank before the slash still makes an end tag",
       "<a>< /a><b /></a>",
       true,
       {R"("a" "" - - 1 -)", R"("b" "" - - - 0)"}},
      {"slashes and blanks mixed before the name", "<a><// /a><c />", true, {R"("a" "" - - 1 -)", R"("c" "" - - - 0)"}},
      {"a blank inside an end tag", "<a></a b><c />", true, {R"("a" "" - - 1 -)", R"("c" "" - - - 0)"}},
      {"a tab before the slash still makes an end tag", "<a><\t/a></a>", true, {R"("a" "" - - - -)"}},
      {"a line break before the slash still makes an end tag",
       "<a><\r\n/a><b />",
       true,
       {R"("a" "" - - 1 -)", R"("b" "" - - - 0)"}},
      {"white space of every kind inside an end tag",
       "<a></a\tb\n><c />",
       true,
       {R"("a" "" - - 1 -)", R"("c" "" - - - 0)"}},
      {"an end tag ending in a slash",
       "<a><b></b/><c /></a>",
       true,
       {R"("a" "" - 1 - -)", R"("b" "" 0 - 2 -)", R"("c" "" 0 - - 1)"}},
      {"an end tag without a name",
       "<a><b></><c /></a>",
       true,
       {R"("a" "" - 1 - -)", R"("b" "" 0 - 2 -)", R"("c" "" 0 - - 1)"}},
      {"a root without end tag keeps what was read",
       "<a>t<b x=\"1\" /><c>u",
       false,
       {R"("a" "t" - 1 - -)", R"("b" "" 0 - 2 - [x]=[1])", R"("c" "u" 0 - - 1)"}},
  });
}

TEST(XmlParser, Attributes) {
  RunCases({
      {"either quote character, holding the other one",
       "<a p=\"it's\" q='say \"hi\"' />",
       true,
       {R"("a" "" - - - - [p]=[it's] [q]=[say "hi"])"}},
      {"the first of two equal names stays", "<a k=\"1\" k=\"2\" />", true, {R"("a" "" - - - - [k]=[1])"}},
      {"a blank before = is not part of the name, so the first value stays",
       "<a k =\"1\" k=\"2\" />",
       true,
       {R"("a" "" - - - - [k]=[1])"}},
      {"white space of every kind before = is dropped",
       "<a k\t\r\n =\"1\" m  =\"2\" />",
       true,
       {R"("a" "" - - - - [k]=[1] [m]=[2])"}},
      {"a name repeated with white space before = keeps the first value",
       "<a k\n=\"1\" k=\"2\" k =\"3\"/>",
       true,
       {R"("a" "" - - - - [k]=[1])"}},
      {"white space inside a name stays", "<a x y=\"1\" />", true, {R"("a" "" - - - - [x y]=[1])"}},
      {"a blank after = is skipped", "<a k= \"1\" />", true, {R"("a" "" - - - - [k]=[1])"}},
      {"a line break after = is skipped", "<a k=\r\n\t\"1\" />", true, {R"("a" "" - - - - [k]=[1])"}},
      {"bytes between = and the quote are skipped", "<a k=x \"1\" />", true, {R"("a" "" - - - - [k]=[1])"}},
      {"an unquoted value takes the next quoted one", "<a k=1 m=\"2\" />", true, {R"("a" "" - - - - [k]=[2])"}},
      {"an unquoted value without any quote fails", "<a k=1>text</a>", false, {}},
      {"markup and ampersands inside a value",
       "<a v=\"<b>&amp;</b>\" w='\r\n' />",
       true,
       {R"("a" "" - - - - [v]=[<b>&amp;</b>] [w]=[\r\n])"}},
      {"no blank needed between attributes", "<a x=\"1\"y=\"2\" />", true, {R"("a" "" - - - - [x]=[1] [y]=[2])"}},
      {"a tab between attributes is skipped", "<a x=\"1\"\t y=\"2\" />", true, {R"("a" "" - - - - [x]=[1] [y]=[2])"}},
      {"line breaks between attributes are skipped",
       "<a x=\"1\"\r\n\ty=\"2\"\n/>",
       true,
       {R"("a" "" - - - - [x]=[1] [y]=[2])"}},
      {"a line break before > ends the list",
       "<a x=\"1\"\r\n>t</a><b y=\"2\" />",
       true,
       {R"("a" "t" - - 1 - [x]=[1])", R"("b" "" - - - 0 [y]=[2])"}},
      {"a line break before > with no later =", "<a x=\"1\"\n>t</a>", true, {R"("a" "t" - - - - [x]=[1])"}},
      {"an empty name", "<a =\"1\" />", true, {R"("a" "" - - - - []=[1])"}},
      {"white space between attributes is skipped up to an =",
       "<a x=\"1\" \t =\"2\" />",
       true,
       {R"("a" "" - - - - []=[2] [x]=[1])"}},
      {"an empty value", "<a e=\"\" />", true, {R"("a" "" - - - - [e]=[])"}},
      {"a zero byte inside a value", std::string("<a v=\"x\0y\" />", 13), true, {R"("a" "" - - - - [v]=[x\x00y])"}},
      {"long names that share their first bytes stay apart",
       "<a abcdefgh=\"1\" abcdefgX=\"2\" abcdefg=\"3\" abcdefghi=\"4\" abcdefgh=\"5\" />",
       true,
       {R"("a" "" - - - - [abcdefg]=[3] [abcdefgX]=[2] [abcdefgh]=[1] [abcdefghi]=[4])"}},
  });
}

TEST(XmlParser, SelfClosingTags) {
  RunCases({
      {"blank before the slash", "<r><a /></r>", true, {R"("r" "" - 1 - -)", R"("a" "" 0 - - -)"}},
      {"slash right after the name", "<r><a/></r>", true, {R"("r" "" - 1 - -)", R"("a" "" 0 - - -)"}},
      {"tab before the slash", "<r><a\t/></r>", true, {R"("r" "" - 1 - -)", R"("a" "" 0 - - -)"}},
      {"slash right after the last value",
       "<r><a x=\"1\"/></r>",
       true,
       {R"("r" "" - 1 - -)", R"("a" "" 0 - - - [x]=[1])"}},
      {"slash after a line break after the last value",
       "<r><a x=\"1\"\r\n/></r>",
       true,
       {R"("r" "" - 1 - -)", R"("a" "" 0 - - - [x]=[1])"}},
      {"question marks end a start tag as well",
       "<r><a ?><b x=\"1\"?></r>",
       true,
       {R"("r" "" - 1 - -)", R"("a" "" 0 - 2 -)", R"("b" "" 0 - - 1 [x]=[1])"}},
      {"a slash after the attributes ends the list; the rest up to > is passed over",
       "<a x=\"1\" / y=\"2\">t",
       true,
       {R"("a" "" - - - - [x]=[1])"}},
      {"a question mark after the attributes, then a bang before >",
       "<r><a x=\"1\" ? ! ><b /></r>",
       true,
       {R"("r" "" - 1 - -)", R"("a" "" 0 - 2 - [x]=[1])", R"("b" "" 0 - - 1)"}},
      {"a slash inside a value does not make the tag self-closing",
       "<a v=\"1/2\">t</a>",
       true,
       {R"("a" "t" - - - - [v]=[1/2])"}},
  });
}

// A text that ends inside a construct: the document keeps what was read, and the status
// names the unfinished construct and the byte offset of its "<" (of a value, its opening
// quote).
struct FailCase {
  const char* label;
  std::string text;
  std::vector<std::string> elements;
  std::size_t offset;
  std::string what;
};

TEST(XmlParser, TruncatedTextsKeepWhatWasReadAndTellWhatWasLeftOpen) {
  const std::vector<FailCase> cases = {
      {"< as last byte", "abc<", {}, 3, "a tag"},
      {"inside a name", "<a", {}, 0, "a tag name"},
      {"a slash that is not followed by >", "<a/", {}, 0, "a tag name"},
      {"after the blank of a name", "<a ", {}, 0, "a start tag"},
      {"after a line break that ends a name", "<a\r\n", {}, 0, "a start tag"},
      {"inside an attribute name", "<a x", {}, 0, "an attribute name"},
      {"white space after an attribute name", "<a x \n", {}, 0, "an attribute name"},
      {"before the opening quote", "<a x=", {}, 0, "an attribute value"},
      {"an unquoted value with no quote after it", "<a x=1>", {}, 0, "an attribute value"},
      {"inside a value: its opening quote", "<a x=\"1", {}, 5, "an attribute value"},
      {"right after the closing quote", "<a x=\"1\"", {}, 0, "a start tag"},
      {"white space after a value", "<a x=\"1\" \r\n\t", {}, 0, "a start tag"},
      {"before the > of a start tag", "<a x=\"1\" /", {R"("a" "" - - - - [x]=[1])"}, 0, "a start tag"},
      {"before the > after a line break and a slash", "<a x=\"1\"\n/", {R"("a" "" - - - - [x]=[1])"}, 0, "a start tag"},
      {"before the > of a tag without attributes", "<a /", {R"("a" "" - - - -)"}, 0, "a start tag"},
      {"inside the leading text", "<a>te xt", {R"("a" "text" - - - -)"}, 0, "an element's text"},
      {"after a child", "<r><a /> tail", {R"("r" "" - 1 - -)", R"("a" "" 0 - - -)"}, 0, "the element \"r\""},
      {"a child closed, its parent still open",
       "<r><a>t</a>",
       {R"("r" "" - 1 - -)", R"("a" "t" 0 - - -)"},
       0,
       "the element \"r\""},
      {"the innermost open element is named",
       "<r><s><t>x<u/>",
       {R"("r" "" - 1 - -)", R"("s" "" 0 2 - -)", R"("t" "x" 1 3 - -)", R"("u" "" 2 - - -)"},
       6,
       "the element \"t\""},
      {"the name is given as read",
       "<a/b><c/>",
       {R"("a/b" "" - 1 - -)", R"("c" "" 0 - - -)"},
       0,
       "the element \"a/b\""},
      {"an element without a name", "<>x<c/>", {R"("" "x" - 1 - -)", R"("c" "" 0 - - -)"}, 0, "the element \"\""},
      {"a child open at the end", "<r><a>t", {R"("r" "" - 1 - -)", R"("a" "t" 0 - - -)"}, 3, "an element's text"},
      {"inside a child's name", "<r><b", {R"("r" "" - - - -)"}, 3, "a tag name"},
      {"white space only after a child's <", "<a>< ", {R"("a" "" - - - -)"}, 3, "a tag name"},
      {"inside an end tag",
       "<r><a><c /></a",
       {R"("r" "" - 1 - -)", R"("a" "" 0 2 - -)", R"("c" "" 1 - - -)"},
       11,
       "an end tag"},
      {"right after the slash of an end tag", "<a></", {R"("a" "" - - - -)"}, 3, "an end tag"},
      {"inside an end tag at top level", "</x", {}, 0, "an end tag"},
      {"a slash after white space marks an end tag", "<a><\t/", {R"("a" "" - - - -)"}, 3, "an end tag"},
      {"< as last byte inside an element", "<a>\n<", {R"("a" "" - - - -)"}, 4, "a tag"},
      {"inside a comment", "<!-- x", {}, 0, "a comment"},
      {"a comment holding > but no -->", "<!-- x > y", {}, 0, "a comment"},
      {"a comment that ends in two dashes", "<!-- x --", {}, 0, "a comment"},
      {"<!--> opens a comment that is never closed", "<!-->", {}, 0, "a comment"},
      {"inside a nested comment", "<a><!-- x", {R"("a" "" - - - -)"}, 3, "a comment"},
      {"inside a processing instruction", "<? x", {}, 0, "a processing instruction"},
      {"inside a CDATA section", "<a><![CDATA[x]]", {R"("a" "" - - - -)"}, 3, "a CDATA section"},
      {"a CDATA section with ]> only", "<![CDATA[x]>", {}, 0, "a CDATA section"},
      {"inside a document type declaration", "<!DOCTYPE menu", {}, 0, "a document type declaration"},
      {"inside a quoted string of a document type declaration",
       "<!DOCTYPE menu SYSTEM \"a>",
       {},
       0,
       "a document type declaration"},
      {"inside an internal subset",
       "<r><!DOCTYPE menu [<!ELEMENT menu ANY>",
       {R"("r" "" - - - -)"},
       3,
       "a document type declaration"},
      {"inside a comment of an internal subset", "<!DOCTYPE menu [<!-- ]>", {}, 0, "a document type declaration"},
      {"after an internal subset", "<!DOCTYPE menu []", {}, 0, "a document type declaration"},
      {"siblings stay linked when a later one fails",
       "<r><a /><b x=\"1\" /",
       {R"("r" "" - 1 - -)", R"("a" "" 0 - 2 -)", R"("b" "" 0 - - 1 [x]=[1])"},
       8,
       "a start tag"},
      {"top-level siblings stay linked when a later one fails",
       "<a /><b>x",
       {R"("a" "" - - 1 -)", R"("b" "x" - - - 0)"},
       5,
       "an element's text"},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(std::string(c.label) + ": " + Show(c.text));
    XmlDocument doc;
    const Status status = ParseDocument(doc, std::string_view(c.text));
    EXPECT_EQ(Dump(doc), c.elements);
    EXPECT_FALSE(status.ok);
    EXPECT_EQ(status.offset, c.offset);
    EXPECT_EQ(status.reason, c.what[0] ? "the text ended inside " + std::string(c.what) : std::string());
  }
}

// ---------------------------------------------------------------------------------------

std::vector<std::string> OrderedNames(const XmlDocument& doc, ElementRef e) {
  std::vector<std::string> names;
  for (const auto& [name, value] : doc.Element(e).OrderedAttributes()) names.emplace_back(name);
  return names;
}

TEST(XmlParser, ParsedAttributesFollowTheStoreOrder) {
  XmlDocument doc;
  ParseDocument(doc, std::string_view("<menu on_create_anim=\"1\" on_del_anim=\"2\" ctr=\"3\" dtr=\"4\""
                                      " cdur=\"5\" ddur=\"6\"><s a='1' b='2' c='3' x='4' y='5'/></menu>"));
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
  EXPECT_TRUE(ParseDocument(doc, std::string_view(text)).ok);
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
  ParseDocument(doc, std::string_view("<r a=\"1\" b=\"2\"><c a=\"3\" d=\"4\" /><e /></r>"));
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
  ParseDocument(doc, std::string_view("<a><b><c /></b></a>"));
  ASSERT_EQ(doc.ElementCount(), 3u);
  ParseDocument(doc, std::string_view("<x k=\"v\" />"));
  EXPECT_EQ(Dump(doc), (std::vector<std::string>{R"("x" "" - - - - [k]=[v])"}));
  ParseDocument(doc, std::string_view("no elements"));
  EXPECT_TRUE(doc.FirstElement().IsNone());
}

TEST(XmlParser, ParsingLeavesTheCodePageAlone) {
  XmlDocument doc;
  doc.codePage = 1252;
  ParseDocument(doc, std::string_view("<a />"));
  EXPECT_EQ(doc.codePage, 1252u);
}

TEST(XmlParser, ByteBufferTextGivesTheSameDocument) {
  const std::string text = "<r x=\"1\">\r\n  hello world\r\n  <c y='2' />\r\n</r>\r\n";
  ByteBuffer buffer;
  buffer.Append(text);
  XmlDocument fromBuffer;
  XmlDocument fromView;
  EXPECT_TRUE(ParseDocument(fromBuffer, std::move(buffer)).ok);
  EXPECT_TRUE(ParseDocument(fromView, std::string_view(text)).ok);
  const std::vector<std::string> expected = {R"("r" "helloworld" - 1 - - [x]=[1])", R"("c" "" 0 - - - [y]=[2])"};
  EXPECT_EQ(Dump(fromBuffer), expected);
  EXPECT_EQ(Dump(fromView), expected);
}

TEST(XmlParser, AppendingToAParsedDocumentExtendsItsChains) {
  XmlDocument doc;
  ParseDocument(doc, std::string_view("<r t=\"1\"><a /></r><s />"));
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
  EXPECT_TRUE(ParseDocument(doc, std::string_view(text)).ok);
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
  ASSERT_TRUE(ParseDocument(doc, std::string_view(text)).ok);
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
  ASSERT_TRUE(ParseDocument(doc, std::string_view(text)).ok);
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
  ASSERT_TRUE(ParseDocument(doc, std::string_view("<menu ctr=\"1\">\n  head line\n  <s img=\"p.png\"/>\n</menu>")).ok);
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

// ---------------------------------------------------------------------------------------
// A second, deliberately plain reader written step by step from the parsing rules: one
// recursive function per step, no shortcuts. Random texts must give the same elements,
// links, texts and attributes in both, the same answer to whether the text was read to its
// end and, when it was not, the same unfinished construct at the same place.

class ReferenceReader {
 public:
  struct Element {
    std::string name;
    std::string text;
    std::vector<std::pair<std::string, std::string>> attributes;  // first value wins
    int parent = -1, firstChild = -1, nextSibling = -1, prevSibling = -1;
  };
  struct Outcome {
    bool complete = true;
    std::size_t offset = 0;
    std::string what;
  };

  explicit ReferenceReader(std::string_view text) : t_(text), n_(text.size()) {}

  Outcome ParseDocument() {
    std::size_t lt = t_.find('<');
    if (lt == std::string_view::npos) return Outcome{};
    std::size_t pos = lt + 1;
    int previous = -1;
    for (;;) {
      Result r = ParseElement(pos, -1);
      if (r.appended != -1) {
        if (previous != -1) {
          elements_[static_cast<std::size_t>(previous)].nextSibling = r.appended;
          elements_[static_cast<std::size_t>(r.appended)].prevSibling = previous;
        }
        previous = r.appended;
      }
      if (!r.ok) return Outcome{false, r.failAt, r.what};
      if (r.pos == n_) return Outcome{};
      lt = t_.find('<', r.pos);
      if (lt == std::string_view::npos) return Outcome{};
      pos = lt + 1;
    }
  }

  const std::vector<Element>& elements() const { return elements_; }

  std::vector<std::string> Dump() const {
    std::vector<std::string> lines;
    auto ref = [](int i) { return i < 0 ? std::string("-") : std::to_string(i); };
    for (const Element& e : elements_) {
      std::string line = "\"" + Show(e.name) + "\" \"" + Show(e.text) + "\" " + ref(e.parent) + " " +
                         ref(e.firstChild) + " " + ref(e.nextSibling) + " " + ref(e.prevSibling);
      auto attributes = e.attributes;
      std::sort(attributes.begin(), attributes.end());
      for (const auto& [name, value] : attributes) line += " [" + Show(name) + "]=[" + Show(value) + "]";
      lines.push_back(line);
    }
    return lines;
  }

 private:
  struct Result {
    bool ok = true;
    std::size_t pos = 0;
    int appended = -1;
    bool endTag = false;
    std::size_t failAt = 0;
    std::string what;
  };
  static Result Fail(Result r, std::size_t at, std::string what) {
    r.ok = false;
    r.failAt = at;
    r.what = std::move(what);
    return r;
  }
  // Takes over the failure of an inner construct.
  static Result FailLike(Result r, const Result& inner) { return Fail(std::move(r), inner.failAt, inner.what); }

  static bool IsWhite(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
  static bool IsTagEnd(char c) { return c == '/' || c == '>' || c == '?'; }
  bool At(std::size_t pos, std::string_view s) const { return t_.substr(pos, s.size()) == s; }

  // pos is the byte after a "<".
  Result ParseElement(std::size_t pos, int parent) {
    Result r;
    const std::size_t start = pos - 1;
    if (pos == n_) return Fail(r, start, "a tag");
    if (t_[pos] == '?') {
      const std::size_t gt = t_.find('>', pos);
      if (gt == std::string_view::npos) return Fail(r, start, "a processing instruction");
      r.pos = gt + 1;
      return r;
    }
    if (At(pos, "!--")) {
      const std::size_t close = t_.find("-->", pos + 3);
      if (close == std::string_view::npos) return Fail(r, start, "a comment");
      r.pos = close + 3;
      return r;
    }
    if (At(pos, "![CDATA[")) {
      const std::size_t close = t_.find("]]>", pos + 8);
      if (close == std::string_view::npos) return Fail(r, start, "a CDATA section");
      r.pos = close + 3;
      return r;
    }
    if (At(pos, "!DOCTYPE")) {
      pos += 8;
      if (!SkipDocumentType(pos, false)) return Fail(r, start, "a document type declaration");
      r.pos = pos + 1;
      return r;
    }

    Element e;
    e.parent = parent;
    bool white = false;
    const bool named = ParseName(pos, e.name, r.endTag, white);
    if (r.endTag) {
      if (!named) return Fail(r, start, "an end tag");
      r.pos = pos;
      return r;
    }
    if (!named) return Fail(r, start, "a tag name");
    if (white) {
      SkipWhite(pos);
      if (pos == n_) return Fail(r, start, "a start tag");
      while (!IsTagEnd(t_[pos])) {
        std::size_t unfinishedAt = start;
        const char* what = ParseAttribute(pos, e, unfinishedAt);
        if (what != nullptr) return Fail(r, unfinishedAt, what);
        if (pos == n_) return Fail(r, start, "a start tag");
        SkipWhite(pos);
        if (pos == n_) return Fail(r, start, "a start tag");
      }
    }
    bool selfClosing = false;
    std::size_t gt = pos;
    while (gt < n_ && t_[gt] != '>') {
      if (t_[gt] == '?' || t_[gt] == '!' || t_[gt] == '/') selfClosing = true;
      ++gt;
    }
    elements_.push_back(e);
    const int me = static_cast<int>(elements_.size() - 1);
    r.appended = me;
    if (parent != -1 && elements_[static_cast<std::size_t>(parent)].firstChild == -1) {
      elements_[static_cast<std::size_t>(parent)].firstChild = me;
    }
    if (gt == n_) return Fail(r, start, "a start tag");
    if (selfClosing) {
      r.pos = gt + 1;
      return r;
    }
    pos = gt + 1;
    std::string& text = elements_[static_cast<std::size_t>(me)].text;
    while (pos < n_ && t_[pos] != '<') {
      const char ch = t_[pos++];
      if (!IsWhite(ch)) text += ch;
    }
    if (pos == n_) return Fail(r, start, "an element's text");
    ++pos;
    const std::string open = "the element \"" + elements_[static_cast<std::size_t>(me)].name + "\"";
    int previous = -1;
    for (;;) {
      const Result child = ParseElement(pos, me);
      if (child.endTag) {
        if (!child.ok) return FailLike(r, child);
        r.pos = child.pos;
        return r;
      }
      if (child.appended != -1) {
        if (previous != -1) {
          elements_[static_cast<std::size_t>(previous)].nextSibling = child.appended;
          elements_[static_cast<std::size_t>(child.appended)].prevSibling = previous;
        }
        previous = child.appended;
      }
      if (!child.ok) return FailLike(r, child);
      if (child.pos == n_) return Fail(r, start, open);
      const std::size_t lt = t_.find('<', child.pos);
      if (lt == std::string_view::npos) return Fail(r, start, open);
      pos = lt + 1;
    }
  }

  // Moves pos onto the ">" that closes a document type declaration; false when the text
  // ends first. Quoted strings are passed over anywhere, comments inside the subset.
  bool SkipDocumentType(std::size_t& pos, bool inSubset) {
    if (pos == n_) return false;
    const char ch = t_[pos];
    if (ch == '"' || ch == '\'') {
      const std::size_t close = t_.find(ch, pos + 1);
      if (close == std::string_view::npos) return false;
      pos = close + 1;
      return SkipDocumentType(pos, inSubset);
    }
    if (inSubset && At(pos, "<!--")) {
      const std::size_t close = t_.find("-->", pos + 4);
      if (close == std::string_view::npos) return false;
      pos = close + 3;
      return SkipDocumentType(pos, inSubset);
    }
    if (!inSubset && ch == '>') return true;
    bool next = inSubset;
    if (inSubset && ch == ']') next = false;
    if (!inSubset && ch == '[') next = true;
    ++pos;
    return SkipDocumentType(pos, next);
  }

  void SkipWhite(std::size_t& pos) const {
    while (pos < n_ && IsWhite(t_[pos])) ++pos;
  }

  bool ParseName(std::size_t& pos, std::string& name, bool& endTag, bool& white) {
    name.clear();
    while (pos < n_ && (IsWhite(t_[pos]) || t_[pos] == '/')) {
      if (t_[pos] == '/') endTag = true;
      ++pos;
    }
    for (;;) {
      if (pos == n_) return false;
      if (t_[pos] == '>') return true;
      if (t_[pos] == '/' && pos + 1 < n_ && t_[pos + 1] == '>') return true;
      if (IsWhite(t_[pos])) {
        white = true;
        ++pos;
        return true;
      }
      name += t_[pos++];
    }
  }

  // Null when the attribute was read, else the construct the text ended in; a value that
  // is never closed moves `unfinishedAt` to its opening quote.
  const char* ParseAttribute(std::size_t& pos, Element& e, std::size_t& unfinishedAt) {
    std::string name;
    while (pos < n_ && t_[pos] != '=') name += t_[pos++];
    if (pos == n_) return "an attribute name";
    while (!name.empty() && IsWhite(name.back())) name.pop_back();
    while (pos < n_ && t_[pos] != '"' && t_[pos] != '\'') ++pos;
    if (pos == n_) return "an attribute value";
    const std::size_t open = pos;
    const char quote = t_[pos++];
    std::string value;
    while (pos < n_ && t_[pos] != quote) value += t_[pos++];
    if (pos == n_) {
      unfinishedAt = open;
      return "an attribute value";
    }
    ++pos;
    for (const auto& a : e.attributes) {
      if (a.first == name) return nullptr;
    }
    e.attributes.emplace_back(name, value);
    return nullptr;
  }

  std::string_view t_;
  std::size_t n_;
  std::vector<Element> elements_;
};

// 1-based line and column (in bytes) of an offset in the text as given.
std::pair<std::size_t, std::size_t> LineAndColumn(std::string_view text, std::size_t offset) {
  std::size_t line = 1;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  return {line, offset - lineStart + 1};
}

void CompareWithReference(const std::string& text) {
  ReferenceReader reference(text);
  const ReferenceReader::Outcome expected = reference.ParseDocument();
  XmlDocument doc;
  const Status status = ParseDocument(doc, std::string_view(text));
  ASSERT_EQ(Dump(doc), reference.Dump()) << Show(text);
  ASSERT_EQ(status.ok, expected.complete) << Show(text);
  if (!expected.complete) {
    ASSERT_EQ(status.offset, expected.offset) << Show(text);
    ASSERT_EQ(status.reason, expected.what.empty() ? std::string() : "the text ended inside " + expected.what)
        << Show(text);
    const auto [line, column] = LineAndColumn(text, expected.offset);
    ASSERT_EQ(status.line, line) << Show(text);
    ASSERT_EQ(status.column, column) << Show(text);
  }
  // Every attribute is found by name as well, and a name never written is not.
  for (uint32_t i = 0; i < reference.elements().size(); ++i) {
    const ElementView v = doc.Element(ElementRef(i));
    const auto& attributes = reference.elements()[i].attributes;
    ASSERT_EQ(v.AttributeCount(), attributes.size()) << Show(text);
    for (const auto& [name, value] : attributes) {
      const std::optional<std::string_view> found = v.FindAttribute(name);
      ASSERT_TRUE(found.has_value()) << Show(name) << " in " << Show(text);
      ASSERT_EQ(*found, value) << Show(name) << " in " << Show(text);
      ASSERT_FALSE(v.FindAttribute(name + "#").has_value()) << Show(text);
    }
  }
}

TEST(XmlParser, ReferenceReaderAgreesWithHandWrittenExpectations) {
  // The reference itself is checked on a few texts whose results are written out by hand.
  struct Case {
    std::string text;
    std::vector<std::string> elements;
    bool complete;
    std::size_t offset;
    std::string what;
  };
  const std::vector<Case> cases = {
      {"<r\n a = \"1\"\n a='2'><!-- > --><c/><!DOCTYPE d [<!-- ] -->]><![CDATA[<x>]]></r>",
       {R"("r" "" - 1 - - [a]=[1])", R"("c" "" 0 - - -)"},
       true,
       0,
       ""},
      {"<r><s>t</s>", {R"("r" "" - 1 - -)", R"("s" "t" 0 - - -)"}, false, 0, "the element \"r\""},
      {"<a>\n<!DOCTYPE x \"", {R"("a" "" - - - -)"}, false, 4, "a document type declaration"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Show(c.text));
    ReferenceReader reference(c.text);
    const ReferenceReader::Outcome outcome = reference.ParseDocument();
    EXPECT_EQ(reference.Dump(), c.elements);
    EXPECT_EQ(outcome.complete, c.complete);
    if (!c.complete) {
      EXPECT_EQ(outcome.offset, c.offset);
      EXPECT_EQ(outcome.what, c.what);
    }
    CompareWithReference(c.text);
  }
}

// 20,000 texts of `shortest` to `longest` pieces drawn at random, each read by the parser and
// by the reference reader.
void CompareRandomTexts(const std::vector<std::string>& pieces, uint32_t seed, int shortest, int longest) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(shortest, longest);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int n = length(random);
    for (int i = 0; i < n; ++i) text += pieces[pick(random)];
    CompareWithReference(text);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(XmlParser, RandomBytesReadLikeTheReference) {
  // Short texts over the bytes that mean something to the parser, and a few that do not.
  const std::string alphabet = std::string("<<<>>/?!-=\"' \t\r\nab\xE0[]", 21) + std::string(1, '\0');
  std::vector<std::string> bytes;
  for (char c : alphabet) bytes.emplace_back(1, c);
  CompareRandomTexts(bytes, 20240611u, 0, 40);
}

TEST(XmlParser, RandomMarkupReadsLikeTheReference) {
  // Texts assembled from pieces of markup, so that most of them hold real elements.
  const std::vector<std::string> pieces = {
      "<a",
      "<b ",
      "<c>",
      "</a>",
      "</b >",
      "< /c>",
      "<\t/a>",
      ">",
      "/>",
      " />",
      "<a/>",
      "<b/",
      "?>",
      " x=\"1\"",
      " y='2'",
      " x='3'",
      "z =\"4\"",
      "\n  x=\"5\"",
      "\r\n\ty = '6'",
      " longname1=\"7\"",
      " longname2 ='8'",
      "\tlongname1='9'",
      "=",
      "\"",
      "'",
      "<!--",
      "-->",
      "<!-- > -->",
      "<!-->",
      "--->",
      "<?xml version=\"1.0\"?>",
      "<!DOCTYPE d>",
      "<!DOCTYPE d [",
      "<!DOCTYPE d \"q>\">",
      "[",
      "]",
      "]>",
      "<![CDATA[",
      "]]>",
      "<![CDATA[<a>]]>",
      "<!ELEMENT e>",
      "text",
      " ",
      "\r\n",
      "\t",
      "\n  ",
      "\xC3\xA9",
      "&amp;",
      "<",
      "/",
      "?",
      "!",
  };
  CompareRandomTexts(pieces, 77u, 1, 24);
}

TEST(XmlParser, TextsCutAtEveryLengthReadLikeTheReference) {
  // Names, attribute lists and texts that span one or more blocks of 16 and 32 bytes, each
  // text also cut at every length so that every construct meets the end of the text too.
  const std::vector<std::string> texts = {
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<EDITOR_PROJECT version=\"3\" author=\"menu editor\">\n"
      "  <MENU_MODULE on_create_anim=\"fade_in\" ctr=\"1\" _keyImgTexture=\"pic_815\">screen_0\n"
      "    <TEXT_MODULE _keyImg=\"pic_1356\" ld.x=\"169\" _sModeDraw=\"OVERLAY\">\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x8E_0"
      "</TEXT_MODULE>\n    <QUAD_MODULE _bVisible=\"1\" _iLayer=\"3\">\xD1\x84\xD0\xBE\xD0\xBD_4</QUAD_MODULE>\n"
      "  </MENU_MODULE>\n</EDITOR_PROJECT>\n",
      // "=" at 28 to 31 bytes into the attribute, values closing on both sides of 32 bytes.
      "<a n_________________________27=\"1\" n__________________________28=\"\" "
      "n___________________________29=\"22\" n____________________________30=\"333\" "
      "v=\"a value that closes after the thirty-second byte\" w=\"31 bytes from its name__\"/>",
      // Single quotes, quotes of the other kind inside, blanks around "=", "=" and ">" in values,
      // a quote in a name, a name run into the next attribute.
      "<b f='it\"s' g = \"sp\" h\t=\n'q' i=\"a=b\" j=\"x>y<z\" k\"l=\"q\" m=\"v\"n=\"w\" o='' p=\"\">"
      "  text with  blanks \r\n</b><c x=\"1\"/ y=\"2\" ?><d x=\"1\"!>",
      // Tag names of 15 to 17 bytes, "/" inside names, texts of 15 to 17 bytes before "<".
      "<r><abcdefghijklmno>fifteen_bytes__</abcdefghijklmno><abcdefghijklmnop/><abcdefghijklmnopq >"
      "sixteen_bytes_ab<t/>0123456789abcdefg<u>x  y<v>\r\n</v></u></abcdefghijklmnopq><a/b/c/><a/b>t</a/b>"
      "<w>word<!-- c --></w><x>\n\t <![CDATA[<y>]]></x></r>",
  };
  for (const std::string& text : texts) {
    for (std::size_t n = 0; n <= text.size(); ++n) {
      CompareWithReference(text.substr(0, n));
      if (HasFatalFailure()) return;
    }
  }
}

TEST(XmlParser, RandomLongerMarkupReadsLikeTheReference) {
  // Elements whose names, values and texts are long enough to cross the blocks read at once,
  // with the bytes that mean something to the parser mixed into them now and then.
  std::mt19937 random(913u);
  const std::string plain = "abcdefghij_.0123456789";
  const std::string marked = "=\"'<>/? \t\r\n";
  auto word = [&](std::size_t longest) {
    std::string out;
    const std::size_t n = random() % (longest + 1);
    for (std::size_t i = 0; i < n; ++i) {
      out += random() % 12 == 0 ? marked[random() % marked.size()] : plain[random() % plain.size()];
    }
    return out;
  };
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    const int pieces = 1 + static_cast<int>(random() % 20);
    for (int i = 0; i < pieces; ++i) {
      switch (random() % 8) {
        case 0:
          text += "<" + word(40);
          break;
        case 1:
          text += " " + word(36) + "=\"" + word(40) + "\"";
          break;
        case 2:
          text += "\n  " + word(20) + "='" + word(20) + "'";
          break;
        case 3:
          text += ">" + word(40);
          break;
        case 4:
          text += "</" + word(20) + ">";
          break;
        case 5:
          text += "/>";
          break;
        case 6:
          text += std::string(random() % 40, ' ');
          break;
        default:
          text += word(8);
          break;
      }
    }
    CompareWithReference(text);
    if (HasFatalFailure()) return;
  }
}

TEST(XmlParser, StatusTellsWhereTheUnfinishedConstructBegan) {
  struct StatusCase {
    std::string text;
    std::size_t offset, line, column;
    std::string what;
  };
  const std::vector<StatusCase> cases = {
      {"<a x=\"1", 5, 1, 6, "an attribute value"},
      {"<a>\n  <b x=\"1", 11, 2, 8, "an attribute value"},
      // The squeezed text of "a" still counts its line breaks.
      {"<a>x\n y\n<b", 8, 3, 1, "a tag name"},
      {"<r>\r\n<!-- open", 5, 2, 1, "a comment"},
      // Two squeezed texts, the second with CR LF and an empty line.
      {"<a>x\n y\n<b>p \t q\r\n r\n\n <c", 23, 6, 2, "a tag name"},
      // Blanks squeezed out of a text leave the columns after it as they were.
      {"<a>x y<b", 6, 1, 7, "a tag name"},
      {"<a>\n\t\t<b", 6, 2, 3, "a tag name"},
      {"<r>\n t\n\n<a x", 8, 4, 1, "an attribute name"},
      {"<r>a\nb<c/>\n<d x='1", 16, 3, 6, "an attribute value"},
      {"<menu>\n  <a>t</a>\n", 0, 1, 1, "the element \"menu\""},
      {"<r>\n <s>\n  <t/>\n", 5, 2, 2, "the element \"s\""},
      {"<r>\n<!DOCTYPE d [\n<!-- x -->\n", 4, 2, 1, "a document type declaration"},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(Show(c.text));
    XmlDocument doc;
    const Status status = ParseDocument(doc, std::string_view(c.text));
    EXPECT_FALSE(status.ok);
    EXPECT_EQ(status.offset, c.offset);
    EXPECT_EQ(status.line, c.line);
    EXPECT_EQ(status.column, c.column);
    EXPECT_EQ(status.reason, "the text ended inside " + std::string(c.what));
  }
  XmlDocument doc;
  EXPECT_TRUE(ParseDocument(doc, std::string_view("<a />")).ok);
}

}  // namespace
}  // namespace menuconv
