#include "convert/widgets.h"

namespace menuconv {

using namespace widget_detail;

// Water, cloud and leaf translate the sprite attributes last, after their own.

void ConvertQuad(const ModuleAttributes& module, WidgetElement& element) {
  Begin(module, element, "quad");
  ConvertSpriteAttributes(module, element);
}

void ConvertWater(const ModuleAttributes& module, WidgetElement& element) {
  Begin(module, element, "water");
  // The mask's path stays only when the sprite step writes no `img` of its own.
  PicturePathIfSet(module, In::keyImgMask, element, Out::img);
  PicturePathIfSet(module, In::keyImgTexture, element, Out::tex);
  SetJoinedValues(module, {In::fXScale, In::fYScale}, element, Out::scale);
  SetJoinedValues(module, {In::fXVel, In::fYVel}, element, Out::vel);
  ConvertSpriteAttributes(module, element);
}

void ConvertCloud(const ModuleAttributes& module, WidgetElement& element) {
  Begin(module, element, "cloud");
  SetJoinedValues(module, {In::fXVel, In::fYVel}, element, Out::vel);
  ConvertSpriteAttributes(module, element);
}

void ConvertLeaf(const ModuleAttributes& module, WidgetElement& element) {
  Begin(module, element, "leaf");
  SetJoinedValues(module, {In::fCenterX, In::fCenterY}, element, Out::pivot);
  // Of the right-hand pair, down comes before up.
  SetJoinedValues(module, {In::iLeftUp, In::iLeftDown, In::iRightDown, In::iRightUp}, element, Out::enabled);
  CopyIfSet(module, In::fAltitudeMax, element, Out::altMax);
  CopyIfSet(module, In::fVelMax, element, Out::velMax);
  CopyIfSet(module, In::fTimeOne, element, Out::time);
  ConvertSpriteAttributes(module, element);
}

}  // namespace menuconv
