// The widget translations: each turns one module of a menu screen into the element of the
// menu document. `module` holds the module's attributes, only read; `element` is the reused
// working element.
#pragma once

#include <initializer_list>
#include <string_view>

#include "convert/module_attributes.h"
#include "convert/picture_registry.h"
#include "convert/widget_element.h"

namespace menuconv {

// The attributes every widget shares: picture and grid, rectangle, colour, drawing mode.
void ConvertSpriteAttributes(const ModuleAttributes& module, WidgetElement& element);

void ConvertButton(const ModuleAttributes& module, WidgetElement& element);
void ConvertText(const ModuleAttributes& module, WidgetElement& element);
void ConvertCheckBox(const ModuleAttributes& module, WidgetElement& element);
void ConvertProgress(const ModuleAttributes& module, WidgetElement& element);
void ConvertList(const ModuleAttributes& module, WidgetElement& element);
void ConvertEdit(const ModuleAttributes& module, WidgetElement& element);

void ConvertQuad(const ModuleAttributes& module, WidgetElement& element);
void ConvertWater(const ModuleAttributes& module, WidgetElement& element);
void ConvertCloud(const ModuleAttributes& module, WidgetElement& element);
void ConvertLeaf(const ModuleAttributes& module, WidgetElement& element);

namespace widget_detail {

using In = ModuleAttribute;
using Out = WidgetAttribute;

// Empties the working element and gives it the widget's name and the module's text.
inline void Begin(const ModuleAttributes& module, WidgetElement& element, std::string_view name) {
  element.ClearAttributes();
  element.name = name;
  element.text = module.Text();
}

// Copies a module value unchanged, unless it is absent or empty.
inline void CopyIfSet(const ModuleAttributes& module, In from, WidgetElement& element, Out to) {
  const std::string_view value = module.Value(from);
  if (!value.empty()) element.SetAttribute(to, value);
}

// Writes the path of the picture the module names, unless it names none.
inline void PicturePathIfSet(const ModuleAttributes& module, In from, WidgetElement& element, Out to) {
  const std::string_view name = module.Value(from);
  if (!name.empty()) element.SetAttribute(to, module.Picture(name).path);
}

// Sets `to` to the module values joined by commas; absent values leave empty fields.
// Written whole, however long.
void SetJoinedValues(const ModuleAttributes& module, std::initializer_list<In> from, WidgetElement& element, Out to);

}  // namespace widget_detail

}  // namespace menuconv
