// One menu screen (a MENU_MODULE) of the editor document into one saved menu document.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "xml/byte_buffer.h"
#include "xml/xml_document.h"

namespace menuconv {

// What one run remembers across screens, for its warnings.
struct MenuRunState {
  std::set<std::string, std::less<>> outputsWritten;
  std::set<std::string, std::less<>> unhandledModules;
};

// A menu document built and not yet saved.
struct BuiltMenu {
  std::string fileName;      // the screen's text followed by ".xml"
  ByteBuffer body;           // the document's text, as a saved document holds it
  std::string encodingName;  // the input document's
  std::string refusal;       // why the name can never be saved; empty when it can
};

struct SaveOutcome {
  bool saved = false;
  std::string reason;
};

// Builds the menu document of the screen (warnings about the screen's contents are shown).
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
