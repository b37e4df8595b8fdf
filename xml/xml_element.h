// A free-standing element: the record that callers fill and hand to AppendChild, which
// stores a copy of it in a document.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "xml/attribute_reader.h"
#include "xml/attribute_store.h"
#include "xml/element_ref.h"

namespace menuconv {

class XmlElement : public AttributeReader<XmlElement> {
 public:
  std::string name;
  std::string text;
  AttributeStore attributes;
  ElementRef parent;
  ElementRef firstChild;
  ElementRef nextSibling;
  ElementRef prevSibling;

  std::string_view Name() const { return name; }
  std::optional<std::string_view> FindAttribute(std::string_view key) const { return attributes.Find(key); }
  void SetAttribute(std::string_view key, std::string_view value) { attributes.Set(key, value); }
  void SetAttributeInt(std::string_view key, int32_t value) { attributes.Set(key, FormatDecimalInt(value)); }
  void ClearAttributes() { attributes.Clear(); }
};

}  // namespace menuconv
