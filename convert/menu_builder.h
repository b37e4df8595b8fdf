// One menu screen (a MENU_MODULE) of the editor document into one saved menu document.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>
#include <optional>

#include "convert/picture_registry.h"
#include "platform/file_io.h"
#include "base/byte_buffer.h"
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

// Saves the menu document of a screen from its pieces, handed over in order. When asked to
// write as the pieces come, a document written as UTF-8 goes to its file piece by piece
// while the later pieces are still being built; anything else is saved whole at the end.
// Either way the file is the one SaveMenu writes from all the pieces.
class MenuSaver {
 public:
  MenuSaver(ElementRef menuModule, const XmlDocument& input, bool writeAsTheyCome);
  void Add(MenuPiece piece);
  // Writes what is left. The menu, for the report, stays valid until the saver goes.
  SaveOutcome Finish();
  const BuiltMenu& Menu() const { return menu_; }

 private:
  void Write(const MenuPiece& piece);

  BuiltMenu menu_;                 // name, encoding, refusal, and the root's start tag
  std::vector<MenuPiece> pieces_;  // kept until the end, in case the document is saved whole
  bool streaming_ = false;
  std::string declaration_;
  platform::AtomicFile file_;
  std::optional<SaveOutcome> failed_;
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
