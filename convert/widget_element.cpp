#include "convert/widget_element.h"

#include <algorithm>
#include <bitset>
#include <charconv>
#include <stdexcept>

#include "xml/attribute_order.h"

namespace menuconv {

namespace {

constexpr std::array<std::string_view, static_cast<std::size_t>(WidgetAttribute::kCount)> kNames{
    "img",          "cols",       "rows",    "rect",    "color",        "mode",      "key_text", "font",
    "img_progress", "img_center", "speed",   "align",   "img_selector", "cnt_chars", "tex",      "scale",
    "vel",          "pivot",      "enabled", "alt_max", "vel_max",      "time"};

}  // namespace

std::string_view WidgetAttributeName(WidgetAttribute attribute) { return kNames[static_cast<std::size_t>(attribute)]; }

void WidgetElement::SetAttributeInt(WidgetAttribute attribute, int32_t value) {
  char digits[12];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  SetAttribute(attribute, std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

std::size_t WidgetElement::AttributeCount() const { return std::bitset<32>(present_).count(); }

const WidgetElement::Ordering& WidgetElement::Ordering::Get() {
  static const Ordering ordering = [] {
    // Any subset of the names has as many buckets as the whole set, so one order serves all.
    if (BucketCountFor(kCount) != BucketCountFor(1)) throw std::logic_error("widget names need more buckets");
    const std::vector<uint32_t> positions = menuconv::IterationOrder(kCount, [](uint32_t i) { return kNames[i]; });
    Ordering result{};
    for (std::size_t place = 0; place < kCount; ++place) {
      result.attributes[place] = static_cast<uint8_t>(positions[place]);
      result.places[positions[place]] = static_cast<uint8_t>(place);
      result.names[place] = kNames[positions[place]];
    }
    return result;
  }();
  return ordering;
}

}  // namespace menuconv
