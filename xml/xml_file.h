// Documents to and from files: Load reads, decodes and parses a whole file; Save writes the
// declaration and the serialised, encoded body.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "base/status.h"
#include "xml/held_text.h"
#include "xml/xml_document.h"
#include "xml/xml_parser.h"

namespace menuconv {

// Replaces the document's content with the file's. An empty encoding name takes the
// encoding from the file itself. A text that ended early fails with the code kTextEndedEarly
// and the place where it ended, and the document holds what was read before; any other
// failure means the file could not be read or converted.
// `otherWork`, when given, returns once work that the caller runs beside the load is done; a
// large text's parse takes its second processor only then (see ParseDocument), so that the
// memory of that work is given back while the document's grows on one processor only.
Status Load(platform::CodePageConverters& converters, XmlDocument& document, const std::string& path,
            std::string_view encodingName, HeldText held = HeldText::kNarrow,
            const std::function<void()>& otherWork = nullptr);

// Writes the document in the named encoding (empty: utf-8). An existing file is replaced only
// once the new one was written completely.
Status Save(platform::CodePageConverters& converters, XmlDocument& document, const std::string& path,
            std::string_view encodingName);

// The same, each with converters of its own: for a single document.
Status Load(XmlDocument& document, const std::string& path, std::string_view encodingName,
            HeldText held = HeldText::kNarrow);
Status Save(XmlDocument& document, const std::string& path, std::string_view encodingName);

}  // namespace menuconv
