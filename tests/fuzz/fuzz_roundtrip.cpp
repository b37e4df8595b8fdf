// For a text that parses completely: Save, Load and Save again give the same bytes.
//
// Documents the file format cannot carry are passed over: a zero byte (a file's text ends at
// its first zero byte); an element name that is empty, starts with "!" or "?" (read back as
// another construct) or ends in "/" (read back as self-closing); and an attribute value that
// holds both quote characters (no quoting keeps it whole). The text is made well-formed UTF-8
// first, as loading does: saving repairs ill-formed names, which may then sort differently.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "base/utf8.h"
#include "fuzz_util.h"
#include "xml/xml_file.h"

using namespace menuconv;

namespace {

bool Representable(const XmlDocument& document) {
  for (uint32_t i = 0; i < document.ElementCount(); ++i) {
    const ElementView e = document.Element(ElementRef(i));
    const std::string_view name = e.Name();
    if (name.empty() || name[0] == '!' || name[0] == '?' || name.back() == '/') return false;
    for (const auto& attribute : e.OrderedAttributes()) {
      const std::string_view value = attribute.second;
      if (value.find('"') != std::string_view::npos && value.find('\'') != std::string_view::npos) return false;
    }
  }
  return true;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (std::memchr(bytes.data(), 0, bytes.size())) return 0;
  ByteBuffer text;
  AppendRepairedUtf8(bytes, text);
  XmlDocument document;
  if (!ParseDocument(document, std::move(text)).ok() || !Representable(document)) return 0;
  const std::string first = (fuzz::ScratchFolder() / "first.xml").string();
  const std::string second = (fuzz::ScratchFolder() / "second.xml").string();
  if (!Save(document, first, "utf-8")) std::abort();
  XmlDocument reloaded;
  if (!Load(reloaded, first, "")) std::abort();
  if (!Save(reloaded, second, "utf-8")) std::abort();
  if (ReadFile(first) != ReadFile(second)) std::abort();
  return 0;
}
