// The attributes of an editor module that the widget translations read, taken from the
// module in one pass over its attribute list: a translation asks for up to twenty names, and
// looking each up on its own would read the list twenty times.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "convert/picture_registry.h"
#include "xml/xml_document.h"

namespace menuconv {

enum class ModuleAttribute : uint8_t {
  // Shared by every widget.
  keyImg,
  ldX,
  ldY,
  luX,
  luY,
  rdX,
  rdY,
  ruX,
  ruY,
  colObj,
  iAlph,
  sModeDraw,
  // Control widgets.
  keyText,
  sFont,
  keyImgCenter,
  keyImgBack,
  fSpeed,
  iAlign,
  keyImgSelector,
  intNumChar,
  // Effect widgets.
  keyImgMask,
  keyImgTexture,
  fXScale,
  fYScale,
  fXVel,
  fYVel,
  fCenterX,
  fCenterY,
  iLeftUp,
  iLeftDown,
  iRightDown,
  iRightUp,
  fAltitudeMax,
  fVelMax,
  fTimeOne,
  kCount
};

// The editor's name of the attribute ("_keyImg", "ld.x", ...).
std::string_view ModuleAttributeName(ModuleAttribute attribute);
// The attribute a name stands for, if it is one the translations read.
std::optional<ModuleAttribute> FindModuleAttribute(std::string_view name);

class ModuleAttributes {
 public:
  explicit ModuleAttributes(const PictureLookup& pictures) : pictures_(&pictures) {}
  ModuleAttributes(const ElementView& module, const PictureLookup& pictures) : pictures_(&pictures) { Read(module); }

  // Takes the module's text and the first value of every name the translations read.
  void Read(const ElementView& module);

  std::string_view Text() const { return text_; }
  std::optional<std::string_view> Find(ModuleAttribute attribute) const {
    if (!(present_ & Bit(attribute))) return std::nullopt;
    return values_[Index(attribute)];
  }
  // The value, or the empty text when absent.
  std::string_view Value(ModuleAttribute attribute) const {
    return (present_ & Bit(attribute)) ? values_[Index(attribute)] : std::string_view();
  }
  // The picture a name stands for.
  const PictureEntry& Picture(std::string_view name) const { return (*pictures_)(name); }

 private:
  static std::size_t Index(ModuleAttribute a) { return static_cast<std::size_t>(a); }
  static uint64_t Bit(ModuleAttribute a) { return uint64_t{1} << Index(a); }

  const PictureLookup* pictures_;
  std::string_view text_;
  uint64_t present_ = 0;
  // Only the entries whose bit is set in present_ are meaningful; the last is spare, for the
  // values that are not kept.
  std::array<std::string_view, static_cast<std::size_t>(ModuleAttribute::kCount) + 1> values_;
};

}  // namespace menuconv
