// The serialised form of a document, without the declaration: every start tag on a line of its
// own (CR LF, four blanks per level), attributes in the store's iteration order, values and
// texts as they are.
#pragma once

#include <string>
#include <string_view>

#include "base/byte_buffer.h"
#include "xml/attribute_store.h"
#include "xml/xml_document.h"

namespace menuconv {

// Pieces of the serialised form, for writers that produce a document element by element:
// the start tag (CR LF, indentation, "<", name, attributes in the store's order) and the end
// tag (on a line of its own after children).
void AppendStartTag(ByteBuffer& out, int depth, std::string_view name, const AttributeStore& attributes);
void AppendEndTag(ByteBuffer& out, int depth, std::string_view name, bool hasChildren);
// The line break and indentation before a tag at `depth`.
void Indent(ByteBuffer& out, int depth);
// One attribute of a start tag: blank, name, "=", the quoted value.
void AppendAttribute(ByteBuffer& out, std::string_view name, std::string_view value);

// A whole element without children, whose attributes forEach(fn) gives by calling
// fn(name, value) in the store's order.
template <class ForEachAttribute>
void AppendChildlessElementWith(ByteBuffer& out, int depth, std::string_view name, std::string_view text,
                                ForEachAttribute&& forEach) {
  Indent(out, depth);
  out.Append('<');
  out.Append(name);
  forEach([&out](std::string_view attribute, std::string_view value) { AppendAttribute(out, attribute, value); });
  if (text.empty()) {
    out.Append("/>");
    return;
  }
  out.Append('>');
  out.Append(text);
  AppendEndTag(out, depth, name, false);
}

// The XML text of every top-level element, without the declaration.
std::string SerializeDocument(const XmlDocument& document);
void SerializeDocument(const XmlDocument& document, ByteBuffer& out);

// The XML text of the element at `position` and its subtree; moves `position` to the
// element's next sibling.
std::string SerializeElement(const XmlDocument& document, ElementRef& position, int depth);

}  // namespace menuconv
