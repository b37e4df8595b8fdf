// One menu screen (a MENU_MODULE) of the editor document into one saved menu document.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "convert/picture_registry.h"
#include "xml/byte_buffer.h"
#include "xml/xml_document.h"

namespace menuconv {

// What one run remembers across screens, for its warnings.
struct MenuRunState {
  std::set<std::string, std::less<>> outputsWritten;
  std::set<std::string, std::less<>> unhandledModules;
  std::set<std::string, std::less<>> undefinedPictures;
};

// The widgets of a run of consecutive children of a screen, built on their own: the pieces
// of a screen, in order, make its widget elements.
struct MenuPiece {
  ByteBuffer body;               // the widget elements, as a saved document holds them
  std::vector<BuildNote> notes;  // what the warnings are shown for, in document order
  bool hasWidgets = false;
};

// Builds the widgets of at most `maxChildren` children from `firstChild` on. Reads the
// document and the registry only, so that several pieces may be built at once.
MenuPiece BuildMenuPiece(ElementRef firstChild, std::size_t maxChildren, const XmlDocument& input,
                         const PictureRegistry& registry);
// Shows the warnings the piece's notes call for: an unhandled module once per name in the
// run, an undefined picture once per name.
void ShowBuildNotes(const MenuPiece& piece, const ElementView& screen, MenuRunState& state);
// Gives the registry the entries that looking up the undefined pictures would have added.
void AddUndefinedPictures(const MenuRunState& state, PictureRegistry& registry);

// A menu document built and not yet saved.
struct BuiltMenu {
  std::string fileName;            // the screen's text followed by ".xml"
  std::vector<ByteBuffer> body;    // the document's text in pieces, as a saved document holds it
  std::string encodingName;        // the input document's
  std::string refusal;             // why the name can never be saved; empty when it can
};

// The menu document of the screen from the pieces that hold all its widgets, in order.
BuiltMenu AssembleMenu(ElementRef menuModule, const XmlDocument& input, std::vector<MenuPiece>& pieces);

struct SaveOutcome {
  bool saved = false;
  std::string reason;
};

// Builds the menu document of the screen in one piece (warnings about the screen's contents
// are shown).
BuiltMenu BuildMenu(ElementRef menuModule, const XmlDocument& input, MenuRunState& state);
// Writes it; touches nothing but the file and the code-page layer, so it may run on
// another thread while the next screen is built.
SaveOutcome SaveMenu(const BuiltMenu& menu);
// Reports the outcome: the "Cannot save menu file" message, or a warning for a file written
// by an earlier screen too. True when the menu was saved.
bool ReportMenuSaved(const BuiltMenu& menu, const SaveOutcome& outcome, MenuRunState& state);

// Builds and saves the menu document of the screen, named by the screen's text followed by
// ".xml". False (after the "Cannot save menu file" message) when it cannot be saved.
bool ConvertMenu(ElementRef menuModule, const XmlDocument& input, MenuRunState& state);

// True for a name that would leave the current folder: absolute, or with a ".." component.
bool EscapesCurrentFolder(std::string_view fileName);

}  // namespace menuconv
