// One menu screen (a MENU_MODULE) of the editor document into the text of its menu document:
// the root "menu" with the screen's six animation attributes, then one childless element per
// widget. Building only reads the document and the picture registry, so that several pieces
// of a screen may be built at once; what a warning may follow is noted, not shown.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_buffer.h"
#include "convert/picture_registry.h"
#include "xml/xml_document.h"

namespace menuconv {

// The widgets of a run of consecutive children of a screen, built on their own: the pieces
// of a screen, in order, make its widget elements.
struct MenuPiece {
  ByteBuffer body;               // the widget elements, as a saved document holds them
  std::vector<BuildNote> notes;  // what the warnings are shown for, in document order
  bool hasWidgets = false;
};

// Builds the widgets of at most `maxChildren` children from `firstChild` on.
MenuPiece BuildMenuPiece(ElementRef firstChild, std::size_t maxChildren, const XmlDocument& input,
                         const PictureRegistry& registry, ByteBuffer body = {});

// Puts a screen's menu document together from its pieces, handed over in order: each call
// gives the parts of the text that are settled by then, to be written in the order given.
class MenuText {
 public:
  MenuText(ElementRef menuModule, const XmlDocument& input);

  // The screen's text followed by ".xml".
  const std::string& FileName() const { return fileName_; }

  std::vector<ByteBuffer> Add(MenuPiece piece);
  std::vector<ByteBuffer> Finish();

 private:
  std::string fileName_;
  ByteBuffer startTag_;   // the root's, without the ">" or "/>" that the widgets decide
  bool started_ = false;  // the start tag was handed on
};

}  // namespace menuconv
