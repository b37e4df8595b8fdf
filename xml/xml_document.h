// An XML document: every element in one sequence, in the order it was added, with the tree
// expressed by four links per element. Strings of stored elements are owned by the document:
// a parsed document's names, values and texts point into its text, and the strings of
// appended elements are kept in blocks that never move, so views of stored strings stay
// valid while elements are added.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/byte_buffer.h"
#include "base/code_page.h"
#include "base/held_bytes.h"
#include "base/status.h"
#include "xml/attribute_order.h"
#include "xml/attribute_reader.h"
#include "xml/attribute_scan.h"
#include "xml/element_allocator.h"
#include "xml/element_ref.h"
#include "xml/text_locator.h"
#include "xml/xml_element.h"

namespace menuconv {

class XmlDocument;

// Something loading read past without failing, where the document may not hold what its
// writer meant: the run warns about each. Names and values are bytes of the document's text.
struct DocumentNote {
  enum class Kind : uint8_t {
    kUnknownEncoding,     // `name`: the encoding declared; the file was read as utf-8
    kInvalidBytes,        // `count` sequences were replaced; the place is the first one's
    kEndTagMismatch,      // `name`: the end tag's; `element`: the name of the element it closed
    kRepeatedAttribute,   // `name` given again; `kept` is the value that counts, `dropped` not
    kValueWithLineBreak,  // the value of `name` holds a line break
    kValueWithTag,        // the value of `name` holds "<"
  };
  Kind kind;
  TextPlace place;        // where: the tag's "<", the attribute's name or opening quote
  std::size_t count = 0;  // kInvalidBytes
  std::string name;
  std::string element;
  std::string kept;
  std::string dropped;
};

// Read access to a stored element, through the ElementRef that designates it.
class ElementView : public AttributeReader<ElementView> {
 public:
  ElementView(const XmlDocument& document, ElementRef ref) : doc_(&document), ref_(ref) {}

  ElementRef ref() const { return ref_; }
  std::string_view Name() const;
  std::string_view Text() const;
  ElementRef Parent() const;
  ElementRef FirstChild() const;
  ElementRef NextSibling() const;
  ElementRef PrevSibling() const;

  // The value that counts of the name (its first), read off the element as written: for many
  // names of one element, an AttributeIndex reads them once.
  std::optional<std::string_view> FindAttribute(std::string_view name) const;
  std::size_t AttributeCount() const;
  uint32_t BucketCount() const { return BucketCountFor(AttributeCount()); }
  // (name, value) pairs in the store's iteration order.
  std::vector<std::pair<std::string_view, std::string_view>> OrderedAttributes() const;
  // Calls fn(name, value) for each attribute in the store's iteration order.
  template <class Fn>
  void ForEachAttribute(Fn&& fn) const;
  // Calls fn(name, value) for each attribute as the element was written, repeated names
  // included: of a repeated name, the first value is the one that counts. One pass, for
  // readers that want many of the attributes.
  template <class Fn>
  void ForEachWrittenAttribute(Fn&& fn) const;

 private:
  const XmlDocument* doc_;
  ElementRef ref_;
};

// How a document's text is encoded: the code page of its file, and the form the text is held
// in memory (see HeldText).
struct Encoding {
  enum class Form : uint8_t {
    kNarrowText,  // UTF-8 on POSIX, the ANSI code page on Windows: the usual form
    kFileBytes,   // the bytes of a file in `heldCodePage`, as Load kept them
  };

  uint32_t codePage = code_page::kUtf8;  // Windows code page of the document's file
  Form form = Form::kNarrowText;
  uint32_t heldCodePage = 0;  // with kFileBytes
  // Narrow text that loading found well-formed UTF-8 where narrow text is UTF-8, and that
  // nothing was added to since: a UTF-8 file takes it as it is, without a second check.
  bool checkedUtf8 = false;

  bool IsNarrowText() const { return form == Form::kNarrowText; }
  // Held as the file's own bytes, of the file's code page.
  static Encoding FileBytes(uint32_t codePage) { return Encoding{codePage, Form::kFileBytes, codePage}; }
};

class XmlDocument {
 public:
  XmlDocument() = default;
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;
  XmlDocument(XmlDocument&&) = default;
  XmlDocument& operator=(XmlDocument&&) = default;

  // Set by Load and Save, and by whoever builds a document to be saved; a new document's is
  // narrow text for a utf-8 file.
  const Encoding& GetEncoding() const { return encoding_; }
  void SetEncoding(const Encoding& encoding) { encoding_ = encoding; }

  // Empties the document; its text is narrow text again, its file's code page stays.
  void Clear();
  std::size_t ElementCount() const { return nodes_.size(); }
  bool Empty() const { return nodes_.empty(); }

  ElementRef FirstElement() const { return nodes_.empty() ? ElementRef() : ElementRef(0); }
  ElementRef FirstChild(ElementRef e) const { return ElementRef(node(e).firstChild); }
  ElementRef NextSibling(ElementRef e) const { return ElementRef(node(e).nextSibling); }
  ElementRef PrevSibling(ElementRef e) const { return ElementRef(node(e).prevSibling); }
  ElementRef Parent(ElementRef e) const { return ElementRef(node(e).parent); }
  ElementView Element(ElementRef e) const { return ElementView(*this, e); }

  // Appends a copy of the element as the last child of `parent` (the last top-level element
  // when parent is none) and returns its position.
  ElementRef AppendChild(ElementRef parent, const XmlElement& element);
  // Appends a copy at the end of the sequence; the copy keeps the links it carries.
  void AppendElement(const XmlElement& element);
  // A free-standing copy of a stored element, links included.
  XmlElement CopyElement(ElementRef e) const;

  // What loading read past, in the order met (see DocumentNote).
  const std::vector<DocumentNote>& Notes() const { return notes_; }
  void AddNote(DocumentNote note) { notes_.push_back(std::move(note)); }
  void InsertNotesFirst(std::vector<DocumentNote> notes) { notes_.insert(notes_.begin(), notes.begin(), notes.end()); }

  // Where a parsed element's start tag begins, its "<", as line and column of the parsed
  // text; line 0 for an element that was appended. The caller's locator counts the lines:
  // places asked for in document order cost one pass over the text altogether. A locator
  // that reads another text is set to this one's.
  TextPlace StartOfTag(ElementRef e, TextLocator& locator) const;

  // True once the file the parsed text is read from in place was cut short by another
  // process: what was read since is made of zeros where the file was.
  bool TextCutShort() const { return store_.CutShort(); }

  // About the size of the document's text when serialised, to size output buffers once.
  std::size_t ApproximateTextSize() const {
    return store_.size() + pageToBlock_.size() * kPageSize + nodes_.size() * 24 + attributes_.size() * 4;
  }

 private:
  friend class ElementView;
  friend class Parser;

  struct Span {  // plain, so that an element is (see Node)
    uint32_t offset;
    uint32_t length;
  };
  struct AttributeSpan {
    Span name;
    Span value;
  };
  // Attributes of a parsed element stay in the text as written and are read on demand;
  // those of an appended element are copied in iteration order into `attributes_`. Parsed
  // elements come first in the sequence, so the position tells which an element is, and one
  // field serves both: an element costs 40 bytes, and a document of little more than tags
  // has one per four bytes of text.
  struct Node {
    Span name;
    Span text;
    // Parsed: the attribute list as written. Appended: the position of the first attribute
    // in `attributes_` (offset) and the number of attributes (length).
    Span attributes;
    // Every field is set where an element is made: the sequence is sized ahead of parsing
    // without writing its records (see ElementAllocator).
    uint32_t parent;
    uint32_t firstChild;
    uint32_t nextSibling;
    uint32_t prevSibling;
  };

  const Node& node(ElementRef e) const { return nodes_[e.index]; }
  bool IsParsed(uint32_t index) const { return index < parsedCount_; }
  const AttributeSpan& CopiedAttribute(const Node& n, uint32_t i) const { return attributes_[n.attributes.offset + i]; }
  // Offsets below the size of the parsed text point into it; the ones above into a block,
  // found through the page it starts on.
  std::string_view str(Span s) const {
    if (s.offset < store_.size()) return std::string_view(store_.data() + s.offset, s.length);
    if (s.length == 0) return std::string_view();
    const Block& block = blocks_[pageToBlock_[(s.offset - store_.size()) / kPageSize]];
    return std::string_view(block.bytes.get() + (s.offset - block.base), s.length);
  }
  Span StoreString(std::string_view s);
  uint32_t AppendCopy(const XmlElement& element);

  Encoding encoding_;
  // The parsed text, never written to: it may be the file itself, mapped.
  HeldBytes store_;
  // Strings of appended elements, in blocks that cover whole pages of the offsets after the
  // parsed text; only the last block is filled.
  static constexpr std::size_t kPageSize = 64 * 1024;
  struct Block {
    uint32_t base = 0;
    uint32_t used = 0;
    uint32_t capacity = 0;
    std::unique_ptr<char[]> bytes;
  };
  std::vector<Block> blocks_;
  std::vector<uint32_t> pageToBlock_;
  std::vector<Node, ElementAllocator<Node>> nodes_;
  uint32_t parsedCount_ = 0;  // the elements ParseDocument added
  std::vector<AttributeSpan> attributes_;
  std::vector<DocumentNote> notes_;
  uint32_t lastTopLevel_ = ElementRef::kNone;
  // The child AppendChild gave each element last, by position: where the walk to its last
  // child starts, so that appending costs no walk along the siblings (the walk still follows
  // nextSibling from there). Empty until AppendChild is first used, as parsed documents, which
  // need none, are most elements.
  std::vector<uint32_t> lastChild_;
};

template <class Fn>
void ElementView::ForEachAttribute(Fn&& fn) const {
  if (doc_->IsParsed(ref_.index)) {
    for (const auto& [name, value] : OrderedAttributes()) fn(name, value);
    return;
  }
  // Appended elements keep their attributes in iteration order already.
  const XmlDocument::Node& n = doc_->node(ref_);
  for (uint32_t i = 0; i < n.attributes.length; ++i) {
    const auto& a = doc_->CopiedAttribute(n, i);
    fn(doc_->str(a.name), doc_->str(a.value));
  }
}

template <class Fn>
void ElementView::ForEachWrittenAttribute(Fn&& fn) const {
  const XmlDocument::Node& n = doc_->node(ref_);
  if (doc_->IsParsed(ref_.index)) {
    // Parsed lists lie in the parsed text, all of which may be looked at.
    ScanAttributeList(doc_->str(n.attributes), doc_->store_.data() + doc_->store_.size(), fn);
    return;
  }
  for (uint32_t i = 0; i < n.attributes.length; ++i) {
    const auto& a = doc_->CopiedAttribute(n, i);
    fn(doc_->str(a.name), doc_->str(a.value));
  }
}

}  // namespace menuconv
