#include "xml/encodings.h"

#include "platform/codepage.h"

namespace menuconv {

const EncodingRow* FindEncodingByName(std::string_view name) {
  for (const EncodingRow& row : EncodingTable) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

const EncodingRow* FindEncodingByCodePage(uint32_t codePage) {
  for (const EncodingRow& row : EncodingTable) {
    if (row.codePage == codePage) return &row;
  }
  return nullptr;
}

void DetectEncoding(XmlDocument& document, std::string_view fileBytes, std::string_view encodingName) {
  document.codePage = 65001;
  std::string name = "windows-1251";
  if (!encodingName.empty()) {
    name = std::string(encodingName);
  } else {
    static constexpr std::string_view kMarker = "encoding=\"";
    const std::size_t at = fileBytes.find(kMarker);
    if (at != std::string_view::npos) {
      const std::size_t from = at + kMarker.size();
      const std::size_t quote = fileBytes.find('"', from);
      if (quote != std::string_view::npos) {
        name.assign(fileBytes.substr(from, quote - from));
        for (char& c : name) {
          if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
        }
      }
    }
  }
  if (const EncodingRow* row = FindEncodingByName(name)) document.codePage = row->codePage;
}

bool ConvertToAnsi(const XmlDocument& document, std::string_view bytes, ByteBuffer& out) {
  // Only the bytes before the first zero byte are text. (find, unlike memchr, takes the
  // empty view of a null pointer.)
  bytes = bytes.substr(0, bytes.find('\0'));
  return platform::ToNarrow(document.codePage, bytes, out);
}

bool ConvertFromAnsi(const XmlDocument& document, std::string_view text, ByteBuffer& out) {
  return platform::FromNarrow(document.codePage, text, out);
}

Status UnconvertibleCodePage(uint32_t codePage) {
  return Status::Failure("the code page " + std::to_string(codePage) + " cannot be converted");
}

std::string EncodingName(const XmlDocument& document) {
  const EncodingRow* row = FindEncodingByCodePage(document.codePage);
  return row ? std::string(row->name) : std::string();
}

}  // namespace menuconv
