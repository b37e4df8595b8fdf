// The conversion run: load the editor document, convert every menu screen, then merge the
// text tables beside it.
#pragma once

#include <string>

#include "app/run_context.h"
#include "base/status.h"
#include "xml/xml_document.h"

namespace menuconv {

// Finds the first MENU_MODULE down the chain of first children, registers the first
// PICTURES_MODULE among it and its following siblings, and converts and saves every
// MENU_MODULE among them in document order. Fails with kNotFound when there is no
// MENU_MODULE, kInputChanged when the input was cut short meanwhile, and kAlreadyReported when
// a menu cannot be saved (its own message said so).
Status ConvertDocument(const XmlDocument& document, RunContext& context);

// The whole run for one input path. Returns the exit status: 1 when a failure message was
// shown, 0 otherwise. Whatever is thrown, exhausted memory included, ends in the load or
// conversion failure message.
int RunConversion(const std::string& path, RunContext& context);
// The same, showing messages the platform's way.
int RunConversion(const std::string& path);

}  // namespace menuconv
