#include "xml/serializer.h"

#include <cstring>
#include <vector>

#include "base/byte_scan.h"

namespace menuconv {

namespace {

template <class ForEachAttribute>
void AppendStartTagWith(ByteBuffer& out, int depth, std::string_view name, ForEachAttribute&& forEach) {
  Indent(out, depth);
  out.Append('<');
  out.Append(name);
  forEach([&out](std::string_view attribute, std::string_view value) { AppendAttribute(out, attribute, value); });
}

void AppendStartTag(const XmlDocument& doc, ElementRef e, int depth, ByteBuffer& out) {
  const ElementView view = doc.Element(e);
  AppendStartTagWith(out, depth, view.Name(), [&view](auto&& fn) { view.ForEachAttribute(fn); });
}

void AppendEndTag(const XmlDocument& doc, ElementRef e, int depth, ByteBuffer& out) {
  AppendEndTag(out, depth, doc.Element(e).Name(), !doc.FirstChild(e).IsNone());
}

// Writes the subtree of `root` without recursion: deep documents must not exhaust the stack.
void SerializeSubtree(const XmlDocument& doc, ElementRef root, int rootDepth, ByteBuffer& out) {
  struct Open {
    ElementRef element;
    int depth;
  };
  std::vector<Open> open;
  ElementRef current = root;
  int depth = rootDepth;
  for (;;) {
    AppendStartTag(doc, current, depth, out);
    const ElementView view = doc.Element(current);
    const ElementRef child = view.FirstChild();
    if (view.Text().empty() && child.IsNone()) {
      out.Append("/>");
    } else {
      out.Append('>');
      out.Append(view.Text());
      if (!child.IsNone()) {
        open.push_back(Open{current, depth});
        current = child;
        ++depth;
        continue;
      }
      AppendEndTag(doc, current, depth, out);
    }
    // Move on to the next sibling, closing every element whose children are all written.
    for (;;) {
      if (open.empty()) return;  // `current` is the root
      const ElementRef next = doc.NextSibling(current);
      if (!next.IsNone()) {
        current = next;
        break;
      }
      current = open.back().element;
      depth = open.back().depth;
      open.pop_back();
      AppendEndTag(doc, current, depth, out);
    }
  }
}

}  // namespace

void Indent(ByteBuffer& out, int depth) {
  const std::size_t n = static_cast<std::size_t>(depth) * 4;
  char* at = out.Grow(2 + n);
  at[0] = '\r';
  at[1] = '\n';
  std::memset(at + 2, ' ', n);
}

// A value holding a double quote and no single quote goes between single quotes, so that the
// file reads back the same; every other value between double quotes, as it is.
void AppendAttribute(ByteBuffer& out, std::string_view name, std::string_view value) {
  const char quote = byte_scan::HoldsWhich(value.data(), value.size(), '"', '\'') == 1 ? '\'' : '"';
  char* at = out.Grow(name.size() + value.size() + 4);
  *at++ = ' ';
  ByteBuffer::Copy(at, name.data(), name.size());
  at += name.size();
  *at++ = '=';
  *at++ = quote;
  ByteBuffer::Copy(at, value.data(), value.size());
  at += value.size();
  *at = quote;
}

void AppendStartTag(ByteBuffer& out, int depth, std::string_view name, const AttributeStore& attributes) {
  AppendStartTagWith(out, depth, name, [&attributes](auto&& fn) { attributes.ForEach(fn); });
}

void AppendEndTag(ByteBuffer& out, int depth, std::string_view name, bool hasChildren) {
  if (hasChildren) Indent(out, depth);
  out.Append("</");
  out.Append(name);
  out.Append('>');
}

void SerializeDocument(const XmlDocument& document, ByteBuffer& out) {
  out.Reserve(out.size() + document.ApproximateTextSize());
  for (ElementRef e = document.FirstElement(); !e.IsNone(); e = document.NextSibling(e)) {
    SerializeSubtree(document, e, 0, out);
  }
}

std::string SerializeDocument(const XmlDocument& document) {
  ByteBuffer out;
  SerializeDocument(document, out);
  return std::string(out.view());
}

std::string SerializeElement(const XmlDocument& document, ElementRef& position, int depth) {
  ByteBuffer out;
  SerializeSubtree(document, position, depth, out);
  position = document.NextSibling(position);
  return std::string(out.view());
}

}  // namespace menuconv
