// ParseDocument on arbitrary bytes: no crash, the tree it builds keeps its invariants, and a
// reading in two parts at once (split at the first "<" past the middle) reads the same.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "base/byte_buffer.h"
#include "base/held_bytes.h"
#include "xml/xml_parser.h"

using namespace menuconv;

namespace {

bool SameNote(const DocumentNote& a, const DocumentNote& b) {
  return a.kind == b.kind && a.place.line == b.place.line && a.place.column == b.place.column && a.name == b.name &&
         a.element == b.element && a.kept == b.kept && a.dropped == b.dropped;
}

bool SameReading(const XmlDocument& a, const Status& as, const XmlDocument& b, const Status& bs) {
  if (as.code() != bs.code() || as.message() != bs.message() || as.place().has_value() != bs.place().has_value()) {
    return false;
  }
  if (as.place() && (as.place()->offset != bs.place()->offset || as.place()->line != bs.place()->line)) return false;
  if (a.ElementCount() != b.ElementCount() || a.Notes().size() != b.Notes().size()) return false;
  for (uint32_t i = 0; i < a.ElementCount(); ++i) {
    const ElementRef e(i);
    const ElementView x = a.Element(e);
    const ElementView y = b.Element(e);
    if (x.Name() != y.Name() || x.Text() != y.Text() || a.Parent(e) != b.Parent(e) ||
        a.FirstChild(e) != b.FirstChild(e) || a.NextSibling(e) != b.NextSibling(e) ||
        a.PrevSibling(e) != b.PrevSibling(e) || x.OrderedAttributes() != y.OrderedAttributes()) {
      return false;
    }
  }
  for (std::size_t i = 0; i < a.Notes().size(); ++i) {
    if (!SameNote(a.Notes()[i], b.Notes()[i])) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  XmlDocument document;
  const Status status = ParseDocument(document, text);
  if (!status.ok() && (!status.place() || status.place()->offset > size)) std::abort();
  // Every element stands after its parent; every sibling link is mirrored.
  for (uint32_t i = 0; i < document.ElementCount(); ++i) {
    const ElementRef e(i);
    const ElementRef parent = document.Parent(e);
    if (!parent.IsNone() && parent.index >= i) std::abort();
    const ElementRef next = document.NextSibling(e);
    if (!next.IsNone() && (next.index <= i || document.PrevSibling(next) != e)) std::abort();
    const ElementView view = document.Element(e);
    (void)view.OrderedAttributes();
  }
  // Read in parts, the text must read as in one pass.
  const auto readInParts = [&](std::size_t split, std::optional<std::size_t> tail) {
    ByteBuffer copy;
    copy.Append(text);
    XmlDocument parts;
    const Status partsStatus = ParseDocumentSplitAt(parts, HeldBytes(std::move(copy)), split, tail);
    if (!SameReading(document, status, parts, partsStatus)) std::abort();
  };
  const std::size_t split = text.find('<', size / 2);
  if (split != std::string_view::npos) {
    readInParts(split, std::nullopt);
    // The end of the second part read as a third part, from a "<" or from inside a construct.
    for (std::size_t tail : {split + (size - split) / 2, text.find('<', split + (size - split) / 2)}) {
      if (tail != std::string_view::npos && tail > split && tail < size) readInParts(split, tail);
    }
  }
  return 0;
}
