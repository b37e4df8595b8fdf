// ParseDocument on arbitrary bytes: no crash, and the tree it builds keeps its invariants.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "xml/xml_parser.h"

using namespace menuconv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  XmlDocument document;
  const Status status = ParseDocument(document, std::string_view(reinterpret_cast<const char*>(data), size));
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
  return 0;
}
