#include <algorithm>
#include <charconv>
#include <string>

#include "convert/widgets.h"

namespace menuconv {

namespace {

void AppendNumber(WidgetElement& element, uint32_t value) {
  char digits[10];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  // Never more than the array: said here, so that the compiler knows the copy is a short one.
  const auto length = std::min(static_cast<std::size_t>(result.ptr - digits), sizeof digits);
  element.AppendToValue(std::string_view(digits, length));
}

}  // namespace

namespace widget_detail {

void SetJoinedValues(const ModuleAttributes& module, std::initializer_list<In> from, WidgetElement& element, Out to) {
  std::size_t length = from.size() - 1;
  for (In name : from) length += module.Value(name).size();
  char* at = element.BeginValue(to, length);
  bool first = true;
  for (In name : from) {
    if (!first) *at++ = ',';
    first = false;
    const std::string_view value = module.Value(name);
    ByteBuffer::Copy(at, value.data(), value.size());
    at += value.size();
  }
}

}  // namespace widget_detail

using namespace widget_detail;

void ConvertSpriteAttributes(const ModuleAttributes& module, WidgetElement& element) {
  SetJoinedValues(module, {In::ldX, In::ldY, In::luX, In::luY, In::rdX, In::rdY, In::ruX, In::ruY}, element, Out::rect);

  if (const std::optional<std::string_view> colourText = module.Find(In::colObj)) {
    const auto bits = static_cast<uint32_t>(ParseDecimalInt(*colourText));
    const uint32_t b0 = bits & 0xFF, b1 = (bits >> 8) & 0xFF, b2 = (bits >> 16) & 0xFF;
    const std::string_view alphaText = module.Value(In::iAlph);
    const uint32_t alpha = alphaText.empty() ? 255u : static_cast<uint32_t>(ParseDecimalInt(alphaText)) & 0xFF;
    if (!(alpha == 255 && b0 == 255 && b1 == 255 && b2 == 255)) {
      element.BeginValue(Out::color);
      AppendNumber(element, alpha);
      for (uint32_t part : {b0, b1, b2}) {
        element.AppendToValue(',');
        AppendNumber(element, part);
      }
    }
  }

  const std::string_view mode = module.Value(In::sModeDraw);
  if (mode == "ADD") {
    element.SetAttributeInt(Out::mode, 1);
  } else if (mode == "MUL") {
    element.SetAttributeInt(Out::mode, 2);
  } else if (mode == "OVERLAY") {
    element.SetAttributeInt(Out::mode, 3);
  }

  // The picture last: its lookup has come into the cache meanwhile (asked for when the
  // module was read). The element writes its attributes in an order of its own.
  const std::string_view key = module.Value(In::keyImg);
  if (!key.empty()) {
    const PictureEntry& picture = module.Picture(key);
    element.SetAttribute(Out::img, picture.path);
    if (picture.column != 1) element.SetAttributeInt(Out::cols, picture.column);
    if (picture.row != 1) element.SetAttributeInt(Out::rows, picture.row);
  }
}

}  // namespace menuconv
