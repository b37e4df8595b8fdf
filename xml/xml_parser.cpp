#include "xml/xml_parser.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "base/byte_scan.h"

namespace menuconv {

namespace {

constexpr uint32_t kNone = ElementRef::kNone;

using namespace byte_scan;

// The first s in [p, end), or nullptr.
char* FindSequence(char* p, const char* end, std::string_view s) {
  while (p && p + s.size() <= end) {
    p = Find(p, end, s[0]);
    if (!p || p + s.size() > end) return nullptr;
    if (std::memcmp(p, s.data(), s.size()) == 0) return p;
    ++p;
  }
  return nullptr;
}

bool StartsWith(const char* p, const char* end, std::string_view s) {
  return static_cast<std::size_t>(end - p) >= s.size() && std::memcmp(p, s.data(), s.size()) == 0;
}

}  // namespace

std::string ParseStatus::Describe() const {
  if (ok) return "the text was read completely";
  return "line " + std::to_string(line) + ", column " + std::to_string(column) +
         ": the text ended inside " + what;
}

class Parser {
 public:
  Parser(XmlDocument& doc) : doc_(doc) {}

  ParseStatus Run() {
    char* const begin = doc_.store_.data();
    base_ = begin;
    end_ = begin + doc_.store_.size();
    char* const lt = Find(begin, end_, '<');
    if (!lt) return ParseStatus{};
    char* p = lt + 1;
    uint32_t topPrev = kNone;

    for (;;) {
      if (stack_.empty() && p == end_) return Fail(p - 1, "a tag");
      const uint32_t parent = stack_.empty() ? kNone : stack_.back().node;
      const Construct c = ParseConstruct(p, parent);
      if (c.endTag) {
        if (c.failed) return Fail(c.start, c.what);
        if (!stack_.empty()) stack_.pop_back();  // an end tag closes the innermost element
      } else if (c.node != kNone) {
        uint32_t& prev = stack_.empty() ? topPrev : stack_.back().prev;
        if (prev != kNone) {
          doc_.nodes_[prev].nextSibling = c.node;
          doc_.nodes_[c.node].prevSibling = prev;
        }
        prev = c.node;
        if (parent == kNone) {
          doc_.lastTopLevel_ = c.node;
        } else {
          doc_.nodes_[parent].lastChild = c.node;
        }
        if (c.failed) return Fail(c.start, c.what);
        if (c.open) {
          stack_.push_back(Level{c.node, kNone, c.start});
          p = c.pos;
          continue;
        }
      } else if (c.failed) {
        return Fail(c.start, c.what);
      }

      // The construct is complete; look for the next one at this level.
      char* const next = c.pos < end_ ? FindNear(c.pos, end_, '<') : nullptr;
      if (!next) {
        if (stack_.empty()) return ParseStatus{};
        return FailOpenElement();
      }
      p = next + 1;
    }
  }

 private:
  struct Level {
    uint32_t node;
    uint32_t prev;         // the last child linked at this level
    const char* start;     // the "<" of the element's start tag
  };
  struct Construct {
    char* pos = nullptr;
    uint32_t node = kNone;
    bool endTag = false;
    bool open = false;     // an element whose children follow
    bool failed = false;
    const char* start = nullptr;
    const char* what = nullptr;
  };
  // A text region whose interior blanks were squeezed out in place: the line breaks it held
  // are remembered so that positions after it can still be given as line and column.
  struct Squeezed {
    std::size_t begin, end, lineBreaks, lastBreak;
  };

  static Construct Failed(Construct c, const char* what) {
    c.failed = true;
    c.what = what;
    return c;
  }

  XmlDocument::Span SpanOf(const char* b, const char* e) const {
    return XmlDocument::Span{static_cast<uint32_t>(b - base_), static_cast<uint32_t>(e - b)};
  }

  Construct ParseConstruct(char* p, uint32_t parent) {
    Construct c;
    c.start = p - 1;
    if (p == end_) return Failed(c, "a tag");

    // Skipped constructs: declarations, processing instructions, comments, CDATA sections.
    if (*p == '?') {
      char* const gt = Find(p, end_, '>');
      if (!gt) return Failed(c, "a processing instruction");
      c.pos = gt + 1;
      return c;
    }
    if (*p == '!') {
      if (StartsWith(p, end_, "!--")) {
        char* const close = FindSequence(p + 3, end_, "-->");
        if (!close) return Failed(c, "a comment");
        c.pos = close + 3;
        return c;
      }
      if (StartsWith(p, end_, "![CDATA[")) {
        char* const close = FindSequence(p + 8, end_, "]]>");
        if (!close) return Failed(c, "a CDATA section");
        c.pos = close + 3;
        return c;
      }
      if (StartsWith(p, end_, "!DOCTYPE")) {
        char* const gt = SkipDoctype(p + 8);
        if (!gt) return Failed(c, "a document type declaration");
        c.pos = gt + 1;
        return c;
      }
    }

    // The tag name; slashes before it mark an end tag.
    while (p < end_ && (IsBlank(*p) || *p == '/')) {
      if (*p == '/') c.endTag = true;
      ++p;
    }
    // It ends at a blank, at ">" or at a "/" right before ">".
    const char* nameStart = p;
    p = FindNameEnd(p, end_);
    if (!p) return Failed(c, c.endTag ? "an end tag" : "a tag name");
    const char* nameEnd = p;
    const bool hasAttributes = IsBlank(*p);
    if (hasAttributes) ++p;
    if (c.endTag) {
      c.pos = p;
      return c;
    }

    // The attribute list: checked here, read on demand later.
    const char* listStart = p;
    const char* listEnd = p;
    if (hasAttributes) {
      while (p < end_ && IsBlank(*p)) ++p;
      if (p == end_) return Failed(c, "a start tag");
      listStart = listEnd = p;
      while (!IsTagEnd(*p)) {
        // Each attribute: the first "=", the first quote after it, the next of that quote.
        char* close = ShortAttribute(p, end_).close;
        if (!close) {
          p = FindNear(p, end_, '=');
          if (!p) return Failed(c, "an attribute name");
          ++p;
          while (p < end_ && *p != '"' && *p != '\'') ++p;
          if (p == end_) return Failed(c, "an attribute value");
          const char quote = *p++;
          close = FindNear(p, end_, quote);
          if (!close) return Failed(c, "an attribute value");
        }
        p = close + 1;
        if (p == end_) return Failed(c, "a start tag");
        listEnd = p;
        while (IsBlank(*p)) {
          if (++p == end_) return Failed(c, "a start tag");
        }
      }
    }

    // The closing ">"; "?", "!" or "/" on the way make the element self-closing.
    bool selfClosing = false;
    char* gt = p;
    for (; gt < end_ && *gt != '>'; ++gt) {
      if (*gt == '?' || *gt == '!' || *gt == '/') selfClosing = true;
    }

    XmlDocument::Node n;
    n.name = SpanOf(nameStart, nameEnd);
    n.raw = SpanOf(listStart, listEnd);
    n.attributeCount = XmlDocument::kRawAttributes;
    n.parent = parent;
    if (doc_.nodes_.size() >= kNone - 1) throw std::length_error("too many elements");
    c.node = static_cast<uint32_t>(doc_.nodes_.size());
    doc_.nodes_.push_back(n);
    if (parent != kNone && doc_.nodes_[parent].firstChild == kNone) {
      doc_.nodes_[parent].firstChild = c.node;
    }
    if (gt == end_) return Failed(c, "a start tag");
    if (selfClosing) {
      c.pos = gt + 1;
      return c;
    }

    // The element's text: every byte up to the next "<" except blanks. Most texts are short
    // words that stand as written.
    char* const textStart = gt + 1;
    const TextEnd<char> text = FindTextEnd(textStart, end_);
    doc_.nodes_[c.node].text =
        text.blankFree ? SpanOf(textStart, text.lt) : CollectText(textStart, text.lt ? text.lt : end_);
    if (!text.lt) return Failed(c, "an element's text");
    c.open = true;
    c.pos = text.lt + 1;
    return c;
  }

  // Drops the blanks of [b, e) and gives the span of what is left.
  XmlDocument::Span CollectText(char* b, char* e) {
    while (b < e && IsBlank(*b)) ++b;
    char* last = e;
    while (last > b && IsBlank(last[-1])) --last;
    char* out = b;
    while (out < last && !IsBlank(*out)) ++out;
    if (out == last) return SpanOf(b, last);  // no blank inside: the bytes stay where they are
    Squeezed s{static_cast<std::size_t>(b - base_), static_cast<std::size_t>(last - base_), 0, 0};
    for (char* in = out; in < last; ++in) {
      if (*in == '\n') {
        ++s.lineBreaks;
        s.lastBreak = static_cast<std::size_t>(in - base_);
      }
      if (!IsBlank(*in)) *out++ = *in;
    }
    squeezed_.push_back(s);
    return SpanOf(b, out);
  }

  // The ">" that ends a document type declaration, past quoted strings and an internal
  // subset in square brackets (which may itself hold ">" and comments).
  char* SkipDoctype(char* p) const {
    bool inSubset = false;
    while (p < end_) {
      const char ch = *p;
      if (ch == '"' || ch == '\'') {
        char* const close = Find(p + 1, end_, ch);
        if (!close) return nullptr;
        p = close + 1;
        continue;
      }
      if (inSubset) {
        if (StartsWith(p, end_, "<!--")) {
          char* const close = FindSequence(p + 4, end_, "-->");
          if (!close) return nullptr;
          p = close + 3;
          continue;
        }
        if (ch == ']') inSubset = false;
      } else if (ch == '[') {
        inSubset = true;
      } else if (ch == '>') {
        return p;
      }
      ++p;
    }
    return nullptr;
  }

  ParseStatus FailOpenElement() {
    const Level& open = stack_.back();
    const XmlDocument::Node& n = doc_.nodes_[open.node];
    return Fail(open.start, "the element \"" + std::string(base_ + n.name.offset, n.name.length) + "\"");
  }

  ParseStatus Fail(const char* at, std::string what) {
    ParseStatus status;
    status.ok = false;
    status.offset = static_cast<std::size_t>(at - base_);
    status.what = std::move(what);
    // Count line breaks up to the offset; squeezed texts report the breaks they held.
    std::size_t lineBreaks = 0;
    std::size_t lineStart = 0;
    std::size_t from = 0;
    auto countPlain = [&](std::size_t b, std::size_t e) {
      for (const char* q = base_ + b; (q = Find(q, base_ + e, '\n')) != nullptr; ++q) {
        ++lineBreaks;
        lineStart = static_cast<std::size_t>(q - base_) + 1;
      }
    };
    for (const Squeezed& s : squeezed_) {
      if (s.begin >= status.offset) break;
      countPlain(from, s.begin);
      lineBreaks += s.lineBreaks;
      if (s.lineBreaks) lineStart = s.lastBreak + 1;
      from = s.end;
    }
    if (from < status.offset) countPlain(from, status.offset);
    status.line = lineBreaks + 1;
    status.column = status.offset - lineStart + 1;
    return status;
  }

  XmlDocument& doc_;
  char* base_ = nullptr;
  char* end_ = nullptr;
  std::vector<Level> stack_;
  std::vector<Squeezed> squeezed_;
};

ParseStatus ParseDocument(XmlDocument& document, ByteBuffer text) {
  document.Clear();
  if (text.size() > 0xFFFFFFFFu) throw std::length_error("document larger than 4 GiB");
  document.store_ = std::move(text);
  // A rough guess of the element count saves most regrowth of the element sequence.
  document.nodes_.reserve(document.store_.size() / 256);
  return Parser(document).Run();
}

ParseStatus ParseDocument(XmlDocument& document, std::string_view text) {
  ByteBuffer copy;
  copy.Append(text);
  return ParseDocument(document, std::move(copy));
}

}  // namespace menuconv
