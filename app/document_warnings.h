// Warnings that point into the input document, as "DOC:LINE:COL: warning: TEXT": what loading
// read past, and what building a screen noted about its modules.
#pragma once

#include <string>

#include "app/run_context.h"
#include "convert/menu_builder.h"
#include "xml/xml_document.h"

namespace menuconv {

// "DOC:LINE:COL" of a parsed element's "<".
std::string PlaceOfElement(const XmlDocument& document, ElementRef element, RunContext& context);

// One warning for each note of loading: an unknown encoding, invalid bytes, the parser's
// repairs.
void ReportDocumentNotes(const XmlDocument& document, RunContext& context);

// Shows the warnings the piece's notes call for: an unhandled module once per name in the
// run, an undefined picture once per name, each at the module's start tag.
void ReportNotes(const MenuPiece& piece, const XmlDocument& input, ElementRef screen, RunContext& context);

}  // namespace menuconv
