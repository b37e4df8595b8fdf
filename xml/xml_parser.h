// The forgiving single-pass reader that turns text into an XmlDocument.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/byte_buffer.h"
#include "base/byte_scan.h"
#include "base/held_bytes.h"
#include "base/status.h"
#include "xml/xml_document.h"

namespace menuconv {

// Replaces the document's content with the elements read from the text, which ends with a
// zero byte. The document takes the bytes over: names, values and texts are kept in them
// without copies, and they are never written to.
// Fails when the text ended inside a construct or an open element: the document keeps every
// element read so far, the reason is "the text ended inside WHAT" (a comment, the element
// "menu", ...), and the position is where that construct began.
// A large text is read in two parts at once; with `secondPartWaits`, the thread of the second
// part calls it before reading, while the first part is read: work that the caller runs
// beside the parse then has the other processor to itself until it returns.
Status ParseDocument(XmlDocument& document, HeldBytes text, const std::function<void()>& secondPartWaits = nullptr);
// The same with the start tags of the text counted already, in blocks (see CheckUtf8UpToZero):
// the parse then need not count them first.
Status ParseDocument(XmlDocument& document, HeldBytes text, const byte_scan::StartTagCounts& startTags,
                     const std::function<void()>& secondPartWaits = nullptr);
Status ParseDocument(XmlDocument& document, ByteBuffer text);
Status ParseDocument(XmlDocument& document, std::string_view text);

// The same, with the text read in two parts at once, the second from byte `splitAt` on (a
// position past the text reads it in one), and with `tailAt`, the end of the second from
// there on read as a third part once the first is done (as a large text's reading does when
// its first part is done first). Large texts are read so anyway; the result never depends on
// where the text was split.
Status ParseDocumentSplitAt(XmlDocument& document, HeldBytes text, std::size_t splitAt,
                            std::optional<std::size_t> tailAt = std::nullopt);

}  // namespace menuconv
