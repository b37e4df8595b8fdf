#include <string>

#include "convert/widgets.h"

namespace menuconv {

namespace widget_detail {

std::string JoinValues(const ElementView& module, std::initializer_list<std::string_view> names) {
  std::string joined;
  bool first = true;
  for (std::string_view name : names) {
    if (!first) joined += ',';
    first = false;
    joined += Value(module, name);
  }
  return joined;
}

}  // namespace widget_detail

using namespace widget_detail;

void ConvertSpriteAttributes(const ElementView& module, XmlElement& element) {
  const std::string_view key = Value(module, "_keyImg");
  if (!key.empty()) {
    const PictureEntry& picture = LookupPicture(key);
    element.SetAttribute("img", picture.path);
    if (picture.column != 1) element.SetAttributeInt("cols", picture.column);
    if (picture.row != 1) element.SetAttributeInt("rows", picture.row);
  }

  element.SetAttribute("rect", JoinValues(module, {"ld.x", "ld.y", "lu.x", "lu.y", "rd.x", "rd.y", "ru.x", "ru.y"}));

  int32_t colour = 0;
  if (module.GetAttributeInt("_colObj", colour)) {
    const auto bits = static_cast<uint32_t>(colour);
    const uint32_t b0 = bits & 0xFF, b1 = (bits >> 8) & 0xFF, b2 = (bits >> 16) & 0xFF;
    const std::string_view alphaText = Value(module, "_iAlph");
    const uint32_t alpha =
        alphaText.empty() ? 255u : static_cast<uint32_t>(ParseDecimalInt(alphaText)) & 0xFF;
    if (!(alpha == 255 && b0 == 255 && b1 == 255 && b2 == 255)) {
      element.SetAttribute("color", std::to_string(alpha) + ',' + std::to_string(b0) + ',' +
                                        std::to_string(b1) + ',' + std::to_string(b2));
    }
  }

  const std::string_view mode = Value(module, "_sModeDraw");
  if (mode == "ADD") {
    element.SetAttributeInt("mode", 1);
  } else if (mode == "MUL") {
    element.SetAttributeInt("mode", 2);
  } else if (mode == "OVERLAY") {
    element.SetAttributeInt("mode", 3);
  }
}

}  // namespace menuconv
