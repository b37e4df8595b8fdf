#include "convert/widgets.h"

namespace menuconv {

using namespace widget_detail;

// Water, cloud and leaf translate the sprite attributes last, after their own.

void ConvertQuad(const ElementView& module, XmlElement& element) {
  Begin(module, element, "quad");
  ConvertSpriteAttributes(module, element);
}

void ConvertWater(const ElementView& module, XmlElement& element) {
  Begin(module, element, "water");
  // The mask's path stays only when the sprite step writes no `img` of its own.
  PicturePathIfSet(module, "_keyImgMask", element, "img");
  PicturePathIfSet(module, "_keyImgTexture", element, "tex");
  element.SetAttribute("scale", JoinValues(module, {"_fXScale", "_fYScale"}));
  element.SetAttribute("vel", JoinValues(module, {"_fXVel", "_fYVel"}));
  ConvertSpriteAttributes(module, element);
}

void ConvertCloud(const ElementView& module, XmlElement& element) {
  Begin(module, element, "cloud");
  element.SetAttribute("vel", JoinValues(module, {"_fXVel", "_fYVel"}));
  ConvertSpriteAttributes(module, element);
}

void ConvertLeaf(const ElementView& module, XmlElement& element) {
  Begin(module, element, "leaf");
  element.SetAttribute("pivot", JoinValues(module, {"_fCenterX", "_fCenterY"}));
  // Of the right-hand pair, down comes before up.
  element.SetAttribute("enabled", JoinValues(module, {"_iLeft_up", "_iLeft_down", "_iRight_down", "_iRight_up"}));
  CopyIfSet(module, "_fAltitudeMax", element, "alt_max");
  CopyIfSet(module, "_fVelMax", element, "vel_max");
  CopyIfSet(module, "_fTimeOne", element, "time");
  ConvertSpriteAttributes(module, element);
}

}  // namespace menuconv
