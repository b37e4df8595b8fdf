// One menu screen (a MENU_MODULE) of the editor document into one saved menu document.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "xml/xml_document.h"

namespace menuconv {

// What one run remembers across screens, for its warnings.
struct MenuRunState {
  std::set<std::string, std::less<>> outputsWritten;
  std::set<std::string, std::less<>> unhandledModules;
};

// Builds and saves the menu document of the screen, named by the screen's text followed by
// ".xml". False (after the "Cannot save menu file" message) when it cannot be saved.
bool ConvertMenu(ElementRef menuModule, const XmlDocument& input, MenuRunState& state);

// True for a name that would leave the current folder: absolute, or with a ".." component.
bool EscapesCurrentFolder(std::string_view fileName);

}  // namespace menuconv
