// Documents to and from files: Load reads, decodes and parses a whole file; Save writes the
// declaration and the serialised, encoded body in one go.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/byte_buffer.h"
#include "xml/xml_document.h"
#include "xml/xml_parser.h"

namespace menuconv {

struct LoadStatus {
  std::string reason;  // why the file could not be read or converted
  ParseStatus parse;   // whether the text was read to its end
};

// Replaces the document's content with the file's. An empty encoding name takes the
// encoding from the file itself. True when the file was read and converted; a text that
// ended early still gives true, with `status->parse` telling where.
bool Load(XmlDocument& document, const std::string& path, std::string_view encodingName,
          LoadStatus* status = nullptr);

// Writes the document in the named encoding (empty: utf-8). An existing file is replaced only
// once the new one was written completely. On failure `reason` says why.
bool Save(XmlDocument& document, const std::string& path, std::string_view encodingName,
          std::string* reason = nullptr);

// Writes narrow text of the form SerializeDocument gives, as Save writes a document whose
// code page is `codePage` (which is updated the same way).
bool SaveText(const ByteBuffer& text, uint32_t& codePage, const std::string& path,
              std::string_view encodingName, std::string* reason = nullptr);
// The declaration a saved text begins with; sets `codePage` (the document's) to the code page
// the text is written in, as SaveText does.
std::string SaveDeclaration(std::string_view encodingName, uint32_t& codePage);
// The same for text given in consecutive parts.
bool SaveText(const std::vector<std::string_view>& parts, uint32_t& codePage, const std::string& path,
              std::string_view encodingName, std::string* reason = nullptr);

// Pieces of the serialised form, for writers that produce a document element by element:
// the start tag (CR LF, indentation, "<", name, attributes in the store's order), the end
// tag (on a line of its own after children), and a whole element without children
// (AppendChildlessElementWith, below).
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
