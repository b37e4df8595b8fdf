#include "xml/xml_document.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "xml/attribute_index.h"
#include "xml/attribute_scan.h"

namespace menuconv {

void XmlDocument::Clear() {
  store_.Clear();
  encoding_ = Encoding{encoding_.codePage};
  std::vector<Block>().swap(blocks_);
  std::vector<uint32_t>().swap(pageToBlock_);
  decltype(nodes_)().swap(nodes_);
  parsedCount_ = 0;
  std::vector<AttributeSpan>().swap(attributes_);
  lastTopLevel_ = ElementRef::kNone;
  std::vector<uint32_t>().swap(lastChild_);
  std::vector<DocumentNote>().swap(notes_);
}

TextPlace XmlDocument::StartOfTag(ElementRef e, TextLocator& locator) const {
  if (e.IsNone() || !IsParsed(e.index)) return TextPlace{};
  // Only blanks stand between a start tag's "<" and its name.
  std::size_t at = nodes_[e.index].name.offset;
  while (at > 0 && store_.data()[at - 1] != '<') --at;
  if (at > 0) --at;
  // A document that was moved or parsed again has a text of its own.
  if (!locator.Reads(store_.view())) locator = TextLocator(store_.view());
  return locator.Locate(at);
}

XmlDocument::Span XmlDocument::StoreString(std::string_view s) {
  if (s.empty()) return Span{};
  if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < s.size()) {
    // A new block, covering whole pages of the offset space; the bytes already stored stay
    // where they are.
    const std::size_t capacity = (std::max(kPageSize, s.size()) + kPageSize - 1) / kPageSize * kPageSize;
    const std::size_t base = store_.size() + pageToBlock_.size() * kPageSize;
    if (base + capacity > 0xFFFFFFFFu) throw std::length_error("document larger than 4 GiB");
    Block block;
    block.base = static_cast<uint32_t>(base);
    block.capacity = static_cast<uint32_t>(capacity);
    block.bytes.reset(new char[capacity]);
    pageToBlock_.insert(pageToBlock_.end(), capacity / kPageSize, static_cast<uint32_t>(blocks_.size()));
    blocks_.push_back(std::move(block));
  }
  Block& block = blocks_.back();
  std::memcpy(block.bytes.get() + block.used, s.data(), s.size());
  const Span span{block.base + block.used, static_cast<uint32_t>(s.size())};
  block.used += static_cast<uint32_t>(s.size());
  return span;
}

uint32_t XmlDocument::AppendCopy(const XmlElement& element) {
  encoding_.checkedUtf8 = false;  // the element's text comes from elsewhere
  if (nodes_.size() >= ElementRef::kNone - 1) throw std::length_error("too many elements");
  Node n;
  n.name = StoreString(element.name);
  n.text = StoreString(element.text);
  n.attributes = Span{static_cast<uint32_t>(attributes_.size()), static_cast<uint32_t>(element.attributes.Size())};
  element.attributes.ForEach([this](std::string_view name, std::string_view value) {
    AttributeSpan a;
    a.name = StoreString(name);
    a.value = StoreString(value);
    attributes_.push_back(a);
  });
  n.parent = element.parent.index;
  n.firstChild = element.firstChild.index;
  n.nextSibling = element.nextSibling.index;
  n.prevSibling = element.prevSibling.index;
  nodes_.push_back(n);
  return static_cast<uint32_t>(nodes_.size() - 1);
}

void XmlDocument::AppendElement(const XmlElement& element) { AppendCopy(element); }

ElementRef XmlDocument::AppendChild(ElementRef parent, const XmlElement& element) {
  const auto count = static_cast<uint32_t>(nodes_.size());
  auto valid = [count](uint32_t i) { return i < count; };
  // Start where the last append at this level ended, else at the head of the chain.
  uint32_t last = ElementRef::kNone;
  if (parent.IsNone()) {
    last = valid(lastTopLevel_) ? lastTopLevel_ : (count > 0 ? 0u : ElementRef::kNone);
  } else {
    lastChild_.resize(count, ElementRef::kNone);
    last = valid(lastChild_[parent.index]) ? lastChild_[parent.index] : nodes_[parent.index].firstChild;
  }
  if (valid(last)) {
    // Bounded, so that links copied in by AppendElement can never make this loop forever.
    for (uint32_t steps = 0; valid(nodes_[last].nextSibling) && steps < count; ++steps) {
      last = nodes_[last].nextSibling;
    }
  } else {
    last = ElementRef::kNone;
  }

  const uint32_t e = AppendCopy(element);
  Node& n = nodes_[e];
  n.firstChild = n.nextSibling = ElementRef::kNone;
  n.prevSibling = last;
  n.parent = parent.index;
  if (last != ElementRef::kNone) nodes_[last].nextSibling = e;
  if (parent.IsNone()) {
    lastTopLevel_ = e;
  } else {
    Node& p = nodes_[parent.index];
    if (p.firstChild == ElementRef::kNone) p.firstChild = e;
    lastChild_[parent.index] = e;
  }
  return ElementRef(e);
}

XmlElement XmlDocument::CopyElement(ElementRef e) const {
  const ElementView view = Element(e);
  XmlElement copy;
  copy.name = std::string(view.Name());
  copy.text = std::string(view.Text());
  for (const auto& [name, value] : view.OrderedAttributes()) copy.attributes.Insert(name, value);
  copy.parent = view.Parent();
  copy.firstChild = view.FirstChild();
  copy.nextSibling = view.NextSibling();
  copy.prevSibling = view.PrevSibling();
  return copy;
}

std::string_view ElementView::Name() const { return doc_->str(doc_->node(ref_).name); }
std::string_view ElementView::Text() const { return doc_->str(doc_->node(ref_).text); }
ElementRef ElementView::Parent() const { return doc_->Parent(ref_); }
ElementRef ElementView::FirstChild() const { return doc_->FirstChild(ref_); }
ElementRef ElementView::NextSibling() const { return doc_->NextSibling(ref_); }
ElementRef ElementView::PrevSibling() const { return doc_->PrevSibling(ref_); }

std::optional<std::string_view> ElementView::FindAttribute(std::string_view name) const {
  std::optional<std::string_view> found;
  ForEachWrittenAttribute([&found, name](std::string_view written, std::string_view value) {
    if (!found && written == name) found = value;
  });
  return found;
}

std::size_t ElementView::AttributeCount() const {
  if (!doc_->IsParsed(ref_.index)) return doc_->node(ref_).attributes.length;
  AttributeIndex index;
  index.Read(*this);
  return index.DistinctCount();
}

std::vector<std::pair<std::string_view, std::string_view>> ElementView::OrderedAttributes() const {
  std::vector<std::pair<std::string_view, std::string_view>> out;
  if (!doc_->IsParsed(ref_.index)) {
    // Appended elements keep their attributes in iteration order already.
    const XmlDocument::Node& n = doc_->node(ref_);
    out.reserve(n.attributes.length);
    for (uint32_t i = 0; i < n.attributes.length; ++i) {
      const auto& a = doc_->CopiedAttribute(n, i);
      out.emplace_back(doc_->str(a.name), doc_->str(a.value));
    }
    return out;
  }
  AttributeIndex index;
  index.Read(*this);
  return index.InIterationOrder();
}

}  // namespace menuconv
