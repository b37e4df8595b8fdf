#include "xml/xml_document.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>

#include "xml/attribute_scan.h"

namespace menuconv {

void XmlDocument::Clear() {
  store_.Clear();
  std::vector<Node>().swap(nodes_);
  std::vector<AttributeSpan>().swap(attributes_);
  lastTopLevel_ = ElementRef::kNone;
  cachedNode_ = ElementRef::kNone;
  cache_.clear();
}

XmlDocument::Span XmlDocument::StoreString(std::string_view s) {
  if (store_.size() + s.size() > 0xFFFFFFFFu) throw std::length_error("document larger than 4 GiB");
  Span span{static_cast<uint32_t>(store_.size()), static_cast<uint32_t>(s.size())};
  store_.Append(s);
  return span;
}

uint32_t XmlDocument::AppendCopy(const XmlElement& element) {
  if (nodes_.size() >= ElementRef::kNone - 1) throw std::length_error("too many elements");
  Node n;
  n.name = StoreString(element.name);
  n.text = StoreString(element.text);
  n.attributeBegin = static_cast<uint32_t>(attributes_.size());
  n.attributeCount = static_cast<uint32_t>(element.attributes.Size());
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
    const Node& p = nodes_[parent.index];
    last = valid(p.lastChild) ? p.lastChild : p.firstChild;
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
  n.lastChild = ElementRef::kNone;
  if (last != ElementRef::kNone) nodes_[last].nextSibling = e;
  if (parent.IsNone()) {
    lastTopLevel_ = e;
  } else {
    Node& p = nodes_[parent.index];
    if (p.firstChild == ElementRef::kNone) p.firstChild = e;
    p.lastChild = e;
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

const std::vector<XmlDocument::AttributeSpan>& XmlDocument::RawAttributes(uint32_t index) const {
  if (cachedNode_ == index) return cache_;
  cache_.clear();
  const Node& n = nodes_[index];
  const char* base = store_.data();
  std::unordered_map<std::string_view, bool> seen;  // only for long lists
  const bool longList = n.raw.length > 4096;
  ScanAttributeList(str(n.raw), [&](std::string_view name, std::string_view value) {
    bool duplicate = false;
    if (longList) {
      duplicate = !seen.emplace(name, true).second;
    } else {
      for (const AttributeSpan& a : cache_) {
        if (str(a.name) == name) {
          duplicate = true;
          break;
        }
      }
    }
    if (duplicate) return;  // the first value stays
    cache_.push_back(AttributeSpan{
        Span{static_cast<uint32_t>(name.data() - base), static_cast<uint32_t>(name.size())},
        Span{static_cast<uint32_t>(value.data() - base), static_cast<uint32_t>(value.size())}});
  });
  cachedNode_ = index;
  return cache_;
}

std::string_view ElementView::Name() const { return doc_->str(doc_->node(ref_).name); }
std::string_view ElementView::Text() const { return doc_->str(doc_->node(ref_).text); }
ElementRef ElementView::Parent() const { return doc_->Parent(ref_); }
ElementRef ElementView::FirstChild() const { return doc_->FirstChild(ref_); }
ElementRef ElementView::NextSibling() const { return doc_->NextSibling(ref_); }
ElementRef ElementView::PrevSibling() const { return doc_->PrevSibling(ref_); }

std::optional<std::string_view> ElementView::FindAttribute(std::string_view name) const {
  const XmlDocument::Node& n = doc_->node(ref_);
  if (n.attributeCount == XmlDocument::kRawAttributes) {
    for (const auto& a : doc_->RawAttributes(ref_.index)) {
      if (doc_->str(a.name) == name) return doc_->str(a.value);
    }
    return std::nullopt;
  }
  for (uint32_t i = 0; i < n.attributeCount; ++i) {
    const auto& a = doc_->attributes_[n.attributeBegin + i];
    if (doc_->str(a.name) == name) return doc_->str(a.value);
  }
  return std::nullopt;
}

std::size_t ElementView::AttributeCount() const {
  const XmlDocument::Node& n = doc_->node(ref_);
  if (n.attributeCount == XmlDocument::kRawAttributes) return doc_->RawAttributes(ref_.index).size();
  return n.attributeCount;
}

std::vector<std::pair<std::string_view, std::string_view>> ElementView::OrderedAttributes() const {
  std::vector<std::pair<std::string_view, std::string_view>> out;
  const XmlDocument::Node& n = doc_->node(ref_);
  if (n.attributeCount != XmlDocument::kRawAttributes) {
    // Appended elements keep their attributes in iteration order already.
    out.reserve(n.attributeCount);
    for (uint32_t i = 0; i < n.attributeCount; ++i) {
      const auto& a = doc_->attributes_[n.attributeBegin + i];
      out.emplace_back(doc_->str(a.name), doc_->str(a.value));
    }
    return out;
  }
  const auto& raw = doc_->RawAttributes(ref_.index);
  const std::vector<uint32_t> order =
      IterationOrder(raw.size(), [&](uint32_t i) { return doc_->str(raw[i].name); });
  out.reserve(raw.size());
  for (uint32_t i : order) out.emplace_back(doc_->str(raw[i].name), doc_->str(raw[i].value));
  return out;
}

}  // namespace menuconv
