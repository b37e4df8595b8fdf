// The conversion run: load the editor document, convert every menu screen, then merge the
// text tables beside it.
#pragma once

#include <string>

#include "xml/xml_document.h"

namespace menuconv {

// Finds the first MENU_MODULE down the chain of first children, registers the first
// PICTURES_MODULE among it and its following siblings, and converts every MENU_MODULE among
// them in document order. False when there is no MENU_MODULE or a menu cannot be saved.
// `why`, when given, is set when no MENU_MODULE was found.
bool ConvertDocument(const XmlDocument& document, std::string* why = nullptr);

// The whole run for one input path. Returns the exit status: 1 when a failure message was
// shown, 0 otherwise.
int RunConversion(const std::string& path);

}  // namespace menuconv
