#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "base/byte_buffer.h"
#include "base/held_bytes.h"
#include "document_dump.h"
#include "xml/xml_document.h"
#include "xml/xml_parser.h"

namespace menuconv {
namespace {

using testing_support::Dump;
using testing_support::Show;

// A note on an attribute as the comparisons below show it: "kind [name] [kept] [dropped]".
std::string AttributeNoteText(DocumentNote::Kind kind, const std::string& name, const std::string& kept,
                              const std::string& dropped) {
  return std::to_string(static_cast<int>(kind)) + " [" + Show(name) + "] [" + Show(kept) + "] [" + Show(dropped) + "]";
}

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
  // The notes on attributes, in the order made: where, and "kind [name] [kept] [dropped]".
  const std::vector<std::pair<std::size_t, std::string>>& notes() const { return notes_; }

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
    const std::size_t nameAt = pos;
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
    // A "<" or a line feed in a value: its closing quote is likely lost.
    if (const std::size_t mark = value.find_first_of("<\n"); mark != std::string::npos) {
      const auto kind =
          value[mark] == '<' ? DocumentNote::Kind::kValueWithTag : DocumentNote::Kind::kValueWithLineBreak;
      Note(kind, open, name, "", "");
    }
    for (const auto& a : e.attributes) {
      if (a.first == name) {
        Note(DocumentNote::Kind::kRepeatedAttribute, nameAt, name, a.second, value);
        return nullptr;
      }
    }
    e.attributes.emplace_back(name, value);
    return nullptr;
  }

  void Note(DocumentNote::Kind kind, std::size_t offset, const std::string& name, const std::string& kept,
            const std::string& dropped) {
    notes_.emplace_back(offset, AttributeNoteText(kind, name, kept, dropped));
  }

  std::string_view t_;
  std::size_t n_;
  std::vector<Element> elements_;
  std::vector<std::pair<std::size_t, std::string>> notes_;
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

// What a reading gave, as lines: the elements, then the notes with their places, then the
// status with its place.
std::vector<std::string> Reading(const XmlDocument& doc, const Status& status) {
  std::vector<std::string> lines = Dump(doc);
  for (const DocumentNote& note : doc.Notes()) {
    lines.push_back("note " + std::to_string(static_cast<int>(note.kind)) + " " + std::to_string(note.place.line) +
                    ":" + std::to_string(note.place.column) + " [" + Show(note.name) + "] [" + Show(note.element) +
                    "] [" + Show(note.kept) + "] [" + Show(note.dropped) + "]");
  }
  std::string end = "status " + std::to_string(static_cast<int>(status.code())) + " " + status.message();
  if (status.place()) {
    end += " " + std::to_string(status.place()->offset) + " " + std::to_string(status.place()->line) + ":" +
           std::to_string(status.place()->column);
  }
  lines.push_back(end);
  return lines;
}

// The text as the parser holds it, copied.
HeldBytes Held(const std::string& text) {
  ByteBuffer bytes;
  bytes.Append(text);
  return HeldBytes(std::move(bytes));
}

// A text read in two parts at once must read as in one, wherever it is split: at a "<" (where
// the two parts are joined), elsewhere (where the second part's work is dropped), past the
// end (one part); and so must one whose second part's end is read as a third part, wherever
// that begins. A few points per text: every "<" would make the random tests slow.
void CompareSplitReadings(const std::string& text) {
  XmlDocument whole;
  const Status wholeStatus = ParseDocumentSplitAt(whole, Held(text), text.size());
  const std::vector<std::string> expected = Reading(whole, wholeStatus);
  std::vector<std::size_t> splits = {0, text.size() / 3, text.size() + 1};
  for (std::size_t from : {text.size() / 2, text.size() / 4, text.size() * 3 / 4}) {
    const std::size_t lt = text.find('<', from);
    if (lt != std::string::npos) splits.push_back(lt);
  }
  if (const std::size_t last = text.rfind('<'); last != std::string::npos) splits.push_back(last);
  for (std::size_t split : splits) {
    XmlDocument doc;
    const Status status = ParseDocumentSplitAt(doc, Held(text), split);
    ASSERT_EQ(Reading(doc, status), expected) << "split at " << split << " of " << Show(text);
    if (split >= text.size()) continue;
    const std::size_t inside = split + (text.size() - split) * 2 / 3;
    for (std::size_t tail : {inside, text.find('<', inside), text.find('<', split + 1)}) {
      if (tail == std::string::npos || tail <= split) continue;
      XmlDocument three;
      const Status threeStatus = ParseDocumentSplitAt(three, Held(text), split, tail);
      ASSERT_EQ(Reading(three, threeStatus), expected)
          << "split at " << split << ", third part at " << tail << " of " << Show(text);
    }
  }
}

// Compares the parser with the reference and, with `split`, its reading in two parts with
// its reading in one.
void CompareWithReference(const std::string& text, bool split = true) {
  if (split) CompareSplitReadings(text);
  if (::testing::Test::HasFatalFailure()) return;
  ReferenceReader reference(text);
  const ReferenceReader::Outcome expected = reference.ParseDocument();
  XmlDocument doc;
  const Status status = ParseDocument(doc, std::string_view(text));
  ASSERT_EQ(Dump(doc), reference.Dump()) << Show(text);
  ASSERT_EQ(status.ok(), expected.complete) << Show(text);
  if (!expected.complete) {
    ASSERT_EQ(status.code(), StatusCode::kTextEndedEarly) << Show(text);
    ASSERT_TRUE(status.place().has_value()) << Show(text);
    ASSERT_EQ(status.place()->offset, expected.offset) << Show(text);
    ASSERT_EQ(status.message(), expected.what.empty() ? std::string() : "the text ended inside " + expected.what)
        << Show(text);
    const auto [line, column] = LineAndColumn(text, expected.offset);
    ASSERT_EQ(status.place()->line, line) << Show(text);
    ASSERT_EQ(status.place()->column, column) << Show(text);
  }
  // The notes on attributes: a name given again, a value that holds "<" or a line feed.
  std::vector<std::string> notes;
  for (const DocumentNote& note : doc.Notes()) {
    if (note.kind != DocumentNote::Kind::kRepeatedAttribute && note.kind != DocumentNote::Kind::kValueWithTag &&
        note.kind != DocumentNote::Kind::kValueWithLineBreak) {
      continue;
    }
    notes.push_back(std::to_string(note.place.line) + ":" + std::to_string(note.place.column) + " " +
                    AttributeNoteText(note.kind, note.name, note.kept, note.dropped));
  }
  std::vector<std::string> expectedNotes;
  for (const auto& [offset, rest] : reference.notes()) {
    const auto [line, column] = LineAndColumn(text, offset);
    expectedNotes.push_back(std::to_string(line) + ":" + std::to_string(column) + " " + rest);
  }
  ASSERT_EQ(notes, expectedNotes) << Show(text);
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
    CompareWithReference(text, round % 32 == 0);
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
    CompareWithReference(text, round % 4 == 0);
    if (HasFatalFailure()) return;
  }
}

// A text of 4 MiB, read in parts: mostly one long text at first, then groups that open across
// every point where a part may begin, with repeated names that make notes.
std::string LargeTextWithQuickFirstPart() {
  std::string text = "<r>\n<quick>" + std::string(std::size_t{3} << 19, 'q') + "</quick>\n";
  for (int group = 0; text.size() < (std::size_t{4} << 20); ++group) {
    text += "<g n=\"" + std::to_string(group) + "\">\n";
    for (int i = 0; i < 40; ++i) text += "  <e a=\"1\" b=\"two\" a=\"3\">text " + std::to_string(i) + "</e>\n";
    text += "</g>\n";
  }
  return text + "</r>\n";
}

TEST(XmlParser, LargeTextWhoseFirstPartIsQuickReadsAsInOnePass) {
  // The first part is read in a moment: its reader is done long before the second part's and
  // takes over the end of it, as a third part, while that reads on.
  const std::string text = LargeTextWithQuickFirstPart();
  XmlDocument whole;
  const Status wholeStatus = ParseDocumentSplitAt(whole, Held(text), text.size());
  const std::vector<std::string> expected = Reading(whole, wholeStatus);
  for (int run = 0; run < 2; ++run) {
    XmlDocument doc;
    const Status status = ParseDocument(doc, Held(text));
    ASSERT_EQ(Reading(doc, status), expected) << "run " << run;
  }
}

TEST(XmlParser, SecondPartWaitsOnItsOwnThreadAndReadsAsInOnePass) {
  // The second part's thread waits before reading; held long, the first part is done before
  // the second began, and asks for the end of a part not read at all.
  const std::string text = LargeTextWithQuickFirstPart();
  XmlDocument whole;
  const std::vector<std::string> expected = Reading(whole, ParseDocumentSplitAt(whole, Held(text), text.size()));
  for (const int waitMs : {0, 100}) {
    int calls = 0;
    bool onOtherThread = false;
    const std::thread::id parsing = std::this_thread::get_id();
    XmlDocument doc;
    const Status status = ParseDocument(doc, Held(text), [&] {
      ++calls;
      onOtherThread = std::this_thread::get_id() != parsing;
      std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    });
    EXPECT_EQ(calls, 1) << waitMs;
    EXPECT_TRUE(onOtherThread) << waitMs;
    EXPECT_EQ(Reading(doc, status), expected) << waitMs;
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
    EXPECT_EQ(status.code(), StatusCode::kTextEndedEarly);
    ASSERT_TRUE(status.place().has_value());
    EXPECT_EQ(status.place()->offset, c.offset);
    EXPECT_EQ(status.place()->line, c.line);
    EXPECT_EQ(status.place()->column, c.column);
    EXPECT_EQ(status.message(), "the text ended inside " + std::string(c.what));
  }
  XmlDocument doc;
  EXPECT_TRUE(ParseDocument(doc, std::string_view("<a />")).ok());
}

}  // namespace
}  // namespace menuconv
