// Shared by the parser and document tests: bytes and whole documents shown as readable lines.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xml/xml_document.h"

namespace menuconv::testing_support {

// Bytes shown readably: line breaks, tabs, the zero byte and bytes from 0x80 up as escapes.
inline std::string Show(std::string_view bytes) {
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

inline std::string ShowRef(ElementRef r) { return r.IsNone() ? "-" : std::to_string(r.index); }

// One line per element, in the order of the sequence:
//   "NAME" "TEXT" parent firstChild next prev [attr]=[value] ...
// with the attributes sorted by name here, so that the expected lines can be written from
// the parsing rules alone (the store's own order is tested separately).
inline std::vector<std::string> Dump(const XmlDocument& doc) {
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

}  // namespace menuconv::testing_support
