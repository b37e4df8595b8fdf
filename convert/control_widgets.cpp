#include <string>

#include "convert/widgets.h"

namespace menuconv {

using namespace widget_detail;

void ConvertButton(const ElementView& module, XmlElement& element) {
  Begin(module, element, "button");
  ConvertSpriteAttributes(module, element);
  CopyIfSet(module, "_keyText", element, "key_text");
  CopyIfSet(module, "_sFont", element, "font");
}

void ConvertCheckBox(const ElementView& module, XmlElement& element) {
  Begin(module, element, "chkbox");
  ConvertSpriteAttributes(module, element);
}

void ConvertProgress(const ElementView& module, XmlElement& element) {
  Begin(module, element, "progress");
  ConvertSpriteAttributes(module, element);
  // The sprite picture is the bar itself; `img` is left for the back picture.
  const std::string bar = element.GetAttribute("img");
  if (!bar.empty()) {
    element.SetAttribute("img_progress", bar);
    element.SetAttribute("img", "");
  }
  PicturePathIfSet(module, "_keyImgCenter", element, "img_center");
  PicturePathIfSet(module, "_keyImgBack", element, "img");
  CopyIfSet(module, "_fSpeed", element, "speed");
}

void ConvertText(const ElementView& module, XmlElement& element) {
  Begin(module, element, "text");
  ConvertSpriteAttributes(module, element);
  CopyIfSet(module, "_sFont", element, "font");
  CopyIfSet(module, "_iAlign", element, "align");
  CopyIfSet(module, "_keyText", element, "key_text");
}

void ConvertList(const ElementView& module, XmlElement& element) {
  Begin(module, element, "list");
  ConvertSpriteAttributes(module, element);
  CopyIfSet(module, "_sFont", element, "font");
  PicturePathIfSet(module, "_keyImgSelector", element, "img_selector");
}

void ConvertEdit(const ElementView& module, XmlElement& element) {
  Begin(module, element, "edit");
  ConvertSpriteAttributes(module, element);
  CopyIfSet(module, "_sFont", element, "font");
  CopyIfSet(module, "_intNumChar", element, "cnt_chars");
}

}  // namespace menuconv
