#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "document_dump.h"
#include "xml/xml_document.h"
#include "xml/xml_parser.h"

namespace menuconv {
namespace {

using testing_support::Dump;
using testing_support::Show;

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
    EXPECT_EQ(status.ok(), c.complete);
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
    EXPECT_EQ(status.code(), StatusCode::kTextEndedEarly);
    ASSERT_TRUE(status.place().has_value());
    EXPECT_EQ(status.place()->offset, c.offset);
    EXPECT_EQ(status.message(), c.what[0] ? "the text ended inside " + std::string(c.what) : std::string());
  }
}

}  // namespace
}  // namespace menuconv
