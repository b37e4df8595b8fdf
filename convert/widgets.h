// The widget translations: each turns one module of a menu screen into the element of the
// menu document. `module` is only read; `element` is the reused working element.
#pragma once

#include <string_view>

#include "convert/picture_registry.h"
#include "xml/xml_document.h"
#include "xml/xml_element.h"

namespace menuconv {

// The attributes every widget shares: picture and grid, rectangle, colour, drawing mode.
void ConvertSpriteAttributes(const ElementView& module, XmlElement& element);

void ConvertButton(const ElementView& module, XmlElement& element);
void ConvertText(const ElementView& module, XmlElement& element);
void ConvertCheckBox(const ElementView& module, XmlElement& element);
void ConvertProgress(const ElementView& module, XmlElement& element);
void ConvertList(const ElementView& module, XmlElement& element);
void ConvertEdit(const ElementView& module, XmlElement& element);

void ConvertQuad(const ElementView& module, XmlElement& element);
void ConvertWater(const ElementView& module, XmlElement& element);
void ConvertCloud(const ElementView& module, XmlElement& element);
void ConvertLeaf(const ElementView& module, XmlElement& element);

namespace widget_detail {

// The module's value of the attribute, empty when absent.
inline std::string_view Value(const ElementView& module, std::string_view name) {
  return module.FindAttribute(name).value_or(std::string_view());
}

// Empties the working element and gives it the widget's name and the module's text.
inline void Begin(const ElementView& module, XmlElement& element, std::string_view name) {
  element.ClearAttributes();
  element.name.assign(name);
  element.text.assign(module.Text());
}

// Copies a module value unchanged, unless it is absent or empty.
inline void CopyIfSet(const ElementView& module, std::string_view from, XmlElement& element,
                      std::string_view to) {
  const std::string_view value = Value(module, from);
  if (!value.empty()) element.SetAttribute(to, value);
}

// Writes the path of the picture the module names, unless it names none.
inline void PicturePathIfSet(const ElementView& module, std::string_view from, XmlElement& element,
                             std::string_view to) {
  const std::string_view name = Value(module, from);
  if (!name.empty()) element.SetAttribute(to, LookupPicture(name).path);
}

// The module values joined by commas; absent values leave empty fields. Written whole,
// however long.
std::string JoinValues(const ElementView& module, std::initializer_list<std::string_view> names);

}  // namespace widget_detail

}  // namespace menuconv
