// The working element of the menu builder: one widget of a menu document. Its attributes are
// the fixed set of names a translation can write, each with a slot of its own, and they are
// listed in the iteration order an attribute store of those names has (widgets never carry
// more than 32 attributes, so the store always has 8 buckets and the order of any subset is
// the order of the whole set with the absent names left out).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "base/byte_buffer.h"

namespace menuconv {

enum class WidgetAttribute : uint8_t {
  img,
  cols,
  rows,
  rect,
  color,
  mode,
  keyText,
  font,
  imgProgress,
  imgCenter,
  speed,
  align,
  imgSelector,
  cntChars,
  tex,
  scale,
  vel,
  pivot,
  enabled,
  altMax,
  velMax,
  time,
  kCount
};

// The menu document's name of the attribute ("img", "key_text", ...).
std::string_view WidgetAttributeName(WidgetAttribute attribute);

class WidgetElement {
 public:
  WidgetElement() : order_(&Ordering::Get()) {}

  // Widget names are constants, and the text is the module's, which outlives the element.
  std::string_view name;
  std::string_view text;

  void ClearAttributes() {
    present_ = 0;
    bytes_.Resize(0);
  }
  // Adds the attribute or replaces its value (which may be another attribute's).
  void SetAttribute(WidgetAttribute attribute, std::string_view value) {
    const std::size_t at = bytes_.size();
    const char* const old = bytes_.data();
    const bool inside = !value.empty() && value.data() >= old && value.data() < old + at;
    const std::size_t from = inside ? static_cast<std::size_t>(value.data() - old) : 0;
    char* to = bytes_.Grow(value.size());
    ByteBuffer::Copy(to, inside ? bytes_.data() + from : value.data(), value.size());
    Place(attribute, at, value.size());
  }
  void SetAttributeInt(WidgetAttribute attribute, int32_t value);
  // Starts the attribute's value afresh, empty; AppendToValue adds to the value begun last.
  void BeginValue(WidgetAttribute attribute) { Place(attribute, bytes_.size(), 0); }
  // Gives the attribute a value of `length` bytes, which the caller writes where this points.
  char* BeginValue(WidgetAttribute attribute, std::size_t length) {
    Place(attribute, bytes_.size(), length);
    return bytes_.Grow(length);
  }
  void AppendToValue(std::string_view part) {
    bytes_.Append(part);
    spans_[last_].length += static_cast<uint32_t>(part.size());
  }
  void AppendToValue(char c) { AppendToValue(std::string_view(&c, 1)); }

  std::optional<std::string_view> FindAttribute(WidgetAttribute attribute) const {
    if (!(present_ & Bit(attribute))) return std::nullopt;
    return ValueAt(Index(attribute));
  }
  std::size_t AttributeCount() const;

  // Calls fn(name, value) for every attribute in the store's iteration order: the attributes
  // present are the bits set, each at its place in that order, so absent ones cost nothing.
  template <class Fn>
  void ForEachAttribute(Fn&& fn) const {
    for (uint32_t left = present_; left != 0; left &= left - 1) {
      const auto place = static_cast<std::size_t>(__builtin_ctz(left));
      fn(order_->names[place], ValueAt(order_->attributes[place]));
    }
  }

 private:
  static constexpr std::size_t kCount = static_cast<std::size_t>(WidgetAttribute::kCount);
  static std::size_t Index(WidgetAttribute a) { return static_cast<std::size_t>(a); }

  // The store's iteration order of the names, worked out once.
  struct Ordering {
    std::array<uint8_t, kCount> places;          // each attribute's place in the order
    std::array<uint8_t, kCount> attributes;      // the attribute at each place
    std::array<std::string_view, kCount> names;  // the name at each place
    static const Ordering& Get();
  };

  uint32_t Bit(WidgetAttribute a) const { return uint32_t{1} << order_->places[Index(a)]; }

  void Place(WidgetAttribute attribute, std::size_t offset, std::size_t length) {
    present_ |= Bit(attribute);
    last_ = Index(attribute);
    spans_[last_] = Span{static_cast<uint32_t>(offset), static_cast<uint32_t>(length)};
  }
  std::string_view ValueAt(std::size_t index) const {
    return std::string_view(bytes_.data() + spans_[index].offset, spans_[index].length);
  }

  struct Span {
    uint32_t offset;
    uint32_t length;
  };
  const Ordering* order_;
  uint32_t present_ = 0;  // bit i: the attribute at place i of the order is present
  std::size_t last_ = 0;
  std::array<Span, kCount> spans_{};
  // Every value written since the attributes were cleared; a replaced value stays unused.
  ByteBuffer bytes_;
};

}  // namespace menuconv
