// The form a loaded document's text is held in. Narrow text (UTF-8 on POSIX, the ANSI code
// page on Windows) is the usual one. Well-formed UTF-8 is always kept as it is, which on
// Windows means held as the file's bytes. A file in a single-byte code page whose every byte
// comes back unchanged through narrow text may also be held as the file's own bytes: nothing is
// decoded when it is loaded, nothing encoded when a menu document is written in that same
// code page, and the text takes no more memory than the file. Everything inside the document
// works on either form alike: names compared with ASCII names, pictures looked up by names of
// the same document, values copied. Only what leaves the document, file names and messages,
// is converted, with NarrowText.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "xml/xml_document.h"

namespace menuconv {

// What Load is allowed to hold: kNarrow decodes every text but well-formed UTF-8 to narrow
// text; kFileBytes also keeps the file's bytes where the code page round-trips exactly.
// The document's Encoding tells which form a loaded document has.
enum class HeldText { kNarrow, kFileBytes };

// True for a single-byte code page in which every byte but zero comes back unchanged when
// converted to narrow text and back.
bool RoundTripsExactly(platform::CodePageConverters& converters, uint32_t codePage);

// Text of the document (a name, a value) as narrow text.
std::string NarrowText(platform::CodePageConverters& converters, const XmlDocument& document, std::string_view text);

}  // namespace menuconv
