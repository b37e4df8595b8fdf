#include <string>

#include "convert/widgets.h"

namespace menuconv {

using namespace widget_detail;

void ConvertButton(const ModuleAttributes& module, WidgetElement& element) {
  Begin(module, element, "button");
  ConvertSpriteAttributes(module, element);
  CopyIfSet(module, In::keyText, element, Out::keyText);
  CopyIfSet(module, In::sFont, element, Out::font);
}

void ConvertCheckBox(const ModuleAttributes& module, WidgetElement& element) {
  Begin(module, element, "chkbox");
  ConvertSpriteAttributes(module, element);
}

void ConvertProgress(const ModuleAttributes& module, WidgetElement& element) {
  Begin(module, element, "progress");
  ConvertSpriteAttributes(module, element);
  // The sprite picture is the bar itself; `img` is left for the back picture.
  const std::string_view bar = element.FindAttribute(Out::img).value_or(std::string_view());
  if (!bar.empty()) {
    element.SetAttribute(Out::imgProgress, bar);
    element.SetAttribute(Out::img, "");
  }
  PicturePathIfSet(module, In::keyImgCenter, element, Out::imgCenter);
  PicturePathIfSet(module, In::keyImgBack, element, Out::img);
  CopyIfSet(module, In::fSpeed, element, Out::speed);
}

void ConvertText(const ModuleAttributes& module, WidgetElement& element) {
  Begin(module, element, "text");
  ConvertSpriteAttributes(module, element);
  CopyIfSet(module, In::sFont, element, Out::font);
  CopyIfSet(module, In::iAlign, element, Out::align);
  CopyIfSet(module, In::keyText, element, Out::keyText);
}

void ConvertList(const ModuleAttributes& module, WidgetElement& element) {
  Begin(module, element, "list");
  ConvertSpriteAttributes(module, element);
  CopyIfSet(module, In::sFont, element, Out::font);
  PicturePathIfSet(module, In::keyImgSelector, element, Out::imgSelector);
}

void ConvertEdit(const ModuleAttributes& module, WidgetElement& element) {
  Begin(module, element, "edit");
  ConvertSpriteAttributes(module, element);
  CopyIfSet(module, In::sFont, element, Out::font);
  CopyIfSet(module, In::intNumChar, element, Out::cntChars);
}

}  // namespace menuconv
