// The forgiving single-pass reader that turns text into an XmlDocument.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/byte_buffer.h"
#include "xml/xml_document.h"

namespace menuconv {

// Whether the text was read to its end. On failure the document keeps every element read
// so far, and the status tells where the unfinished construct began.
struct ParseStatus {
  bool ok = true;
  std::size_t offset = 0;  // byte offset in the text of the unfinished construct
  std::size_t line = 0;    // 1-based line and column (in bytes) of that offset
  std::size_t column = 0;
  std::string what;        // for example: a comment, the element "menu"

  // "line L, column C: the text ended inside WHAT"
  std::string Describe() const;
};

// Replaces the document's content with the elements read from the text. The document
// takes the buffer over: names, values and texts are kept in it without copies.
ParseStatus ParseDocument(XmlDocument& document, ByteBuffer text);
ParseStatus ParseDocument(XmlDocument& document, std::string_view text);

}  // namespace menuconv
